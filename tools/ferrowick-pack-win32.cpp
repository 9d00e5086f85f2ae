// ferrowick-pack.exe: makes a Windows launcher that carries an installer set.
//
//   ferrowick-pack --payload ARCHIVE.zip --output LAUNCHER.exe [--stub STUB.exe] [--prefix FILE]
//
// The launcher is a copy of the stub (by default ferrowick.exe beside this program) whose
// resource "TIMELISTINGS"/#132 (language 0x0409) is the 54-byte prefix followed by the
// archive, byte for byte; the resource the stub carried is replaced. The copy is made
// beside the output and renamed over it only when complete, so nothing is written
// unless the whole launcher could be made.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/posix/ResourceTable.h"
#include "res/resource.h"
#include "tools/ferrowick-pack-common.h"

namespace {

constexpr WORD kLanguage = 0x0409;

std::string lastError() {
    const DWORD code = GetLastError();
    char* text = nullptr;
    FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = text ? text : "error " + std::to_string(code);
    LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) {
        out.pop_back();
    }
    return out;
}

// An open file handle that closes itself.
class Handle {
  public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (h_ != INVALID_HANDLE_VALUE) {
            CloseHandle(h_);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }

  private:
    HANDLE h_;
};

// The whole file, or the reason it cannot be read.
std::string readWhole(const std::string& path, std::string& bytes) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return "it is a folder";
    }
    Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (file.get() == INVALID_HANDLE_VALUE || !GetFileSizeEx(file.get(), &size)) {
        return lastError();
    }
    // A resource's size is a DWORD.
    if (static_cast<uint64_t>(size.QuadPart) > 0xFFFFFFFFull - fw::pack::kPrefixSize) {
        return "it is too large for a resource";
    }
    bytes.assign(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 24));
        DWORD got = 0;
        if (!ReadFile(file.get(), bytes.data() + done, want, &got, nullptr) || got == 0) {
            return got == 0 ? std::string("it ended early") : lastError();
        }
        done += got;
    }
    return {};
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string defaultStub() {
    std::string self(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, self.data(), static_cast<DWORD>(self.size()));
        if (n == 0) {
            return "ferrowick.exe";
        }
        if (n < self.size()) {
            self.resize(n);
            return folderOf(self) + "\\ferrowick.exe";
        }
        self.resize(self.size() * 2);
    }
}

BOOL CALLBACK noteName(HMODULE, LPCSTR, LPSTR, LONG_PTR found) {
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
}

// Why the stub is no launcher: not a Windows executable, no payload resource type, or
// no launcher marker in its bytes. Empty when it is one.
std::string stubProblem(const std::string& path, const std::string& bytes) {
    const HMODULE module = LoadLibraryExA(
        path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) {
        return "it is not a Windows executable (" + lastError() + ")";
    }
    bool hasType = false;
    EnumResourceNamesA(module, FERROWICK_PAYLOAD_TYPE, noteName,
                       reinterpret_cast<LONG_PTR>(&hasType));
    FreeLibrary(module);
    if (!hasType) {
        return "it has no " FERROWICK_PAYLOAD_TYPE " resource";
    }
    // Joined here, so that this program never holds the marker in one piece.
    const std::string marker =
        std::string(FERROWICK_LAUNCHER_MARKER_HEAD) + FERROWICK_LAUNCHER_MARKER_TAIL;
    if (bytes.find(marker) == std::string::npos) {
        return "it holds no launcher marker";
    }
    return {};
}

// Builds the launcher; on failure gives the reason and writes nothing.
std::string pack(const fw::pack::Options& options) {
    std::string resource;
    if (std::string problem = fw::pack::loadPrefix(options.prefix, resource); !problem.empty()) {
        return problem;
    }
    std::string archive;
    if (std::string problem = readWhole(options.payload, archive); !problem.empty()) {
        return "cannot read the payload " + options.payload + ": " + problem;
    }
    const std::string zip = fw::pack::zipProblem(
        [&](void* buffer, std::size_t size, uint64_t offset) {
            if (offset > archive.size() || size > archive.size() - offset) {
                return false;
            }
            archive.copy(static_cast<char*>(buffer), size, static_cast<std::size_t>(offset));
            return true;
        },
        archive.size());
    if (!zip.empty()) {
        return "the payload " + options.payload + " is refused: " + zip;
    }
    std::string stub;
    if (std::string problem = readWhole(options.stub, stub); !problem.empty()) {
        return "cannot read the stub " + options.stub + ": " + problem;
    }
    if (std::string problem = stubProblem(options.stub, stub); !problem.empty()) {
        return "the stub " + options.stub + " is not a launcher: " + problem;
    }
    resource += archive;

    std::string temporary(MAX_PATH + 1, '\0');
    if (GetTempFileNameA(folderOf(options.output).c_str(), "fwp", 0, temporary.data()) == 0) {
        return "cannot create a file beside " + options.output + ": " + lastError();
    }
    temporary.resize(temporary.find('\0'));
    bool made = CopyFileA(options.stub.c_str(), temporary.c_str(), FALSE);
    if (made) {
        const HANDLE update = BeginUpdateResourceA(temporary.c_str(), FALSE);
        made = update != nullptr &&
               UpdateResourceA(update, FERROWICK_PAYLOAD_TYPE, MAKEINTRESOURCEA(IDR_PAYLOAD),
                               kLanguage, resource.data(), static_cast<DWORD>(resource.size()));
        const std::string why = made ? std::string() : lastError();
        made = update != nullptr && EndUpdateResourceA(update, !made) && made;
        if (!why.empty()) {
            SetLastError(0);
            DeleteFileA(temporary.c_str());
            return "cannot write the payload resource into " + options.output + ": " + why;
        }
    }
    if (!made || !MoveFileExA(temporary.c_str(), options.output.c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const std::string why = lastError();
        DeleteFileA(temporary.c_str());
        return "cannot write " + options.output + ": " + why;
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    return fw::pack::runPacker(argc, argv, defaultStub(), pack);
}
