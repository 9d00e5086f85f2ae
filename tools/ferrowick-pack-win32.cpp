// ferrowick-pack.exe: makes a Windows launcher that carries an installer set.
//
//   ferrowick-pack (--payload ARCHIVE.zip | --folder DIR) --output LAUNCHER.exe [--stub STUB.exe]
//                  [--prefix FILE] [--code-page N] [--force]
//   ferrowick-pack --check (--payload ARCHIVE.zip | --folder DIR | --launcher FILE.exe)
//
// The launcher is a copy of the stub (by default ferrowick.exe beside this program) whose
// resource "TIMELISTINGS"/#132 (language 0x0409) is the 54-byte prefix followed by the
// archive, byte for byte; the resource the stub carried is replaced. The copy is made
// beside the output and renamed over it only when complete, so nothing is written
// unless the whole launcher could be made.
#include <windows.h>

#include <cstdio>
#include <string>

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

std::string openArchive(const std::string& path, fw::pack::Payload& payload) {
    std::string bytes;
    if (std::string problem = readWhole(path, bytes); !problem.empty()) {
        return problem;
    }
    payload = fw::pack::payloadOf(std::move(bytes));
    return {};
}

// The archive after the prefix in a launcher's payload resource.
std::string openLauncher(const std::string& path, fw::pack::Payload& payload) {
    const HMODULE module = LoadLibraryExA(
        path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) {
        return "it is not a Windows executable (" + lastError() + ")";
    }
    std::string problem = "it carries no payload";
    if (const HRSRC found =
            FindResourceA(module, MAKEINTRESOURCEA(IDR_PAYLOAD), FERROWICK_PAYLOAD_TYPE)) {
        const HGLOBAL loaded = LoadResource(module, found);
        const auto* data = static_cast<const char*>(loaded ? LockResource(loaded) : nullptr);
        const DWORD size = SizeofResource(module, found);
        if (data != nullptr && size >= fw::pack::kPrefixSize) {
            payload = fw::pack::payloadOf(
                std::string(data + fw::pack::kPrefixSize, size - fw::pack::kPrefixSize));
            problem.clear();
        } else {
            problem = "its payload is shorter than its prefix";
        }
    }
    FreeLibrary(module);
    return problem;
}

// Builds the launcher; on failure gives the reason and writes nothing.
std::string writeLauncher(const fw::pack::Options& options, const std::string& prefix,
                          const fw::pack::Payload& payload) {
    if (payload.size > 0xFFFFFFFFull - fw::pack::kPrefixSize) {
        return "the payload is too large for a resource";
    }
    std::string resource = prefix;
    resource.resize(prefix.size() + static_cast<std::size_t>(payload.size));
    if (!payload.readAt(resource.data() + prefix.size(), static_cast<std::size_t>(payload.size),
                        0)) {
        return "cannot read the payload";
    }
    std::string stub;
    if (std::string problem = readWhole(options.stub, stub); !problem.empty()) {
        return "cannot read the stub " + options.stub + ": " + problem;
    }
    if (std::string problem = stubProblem(options.stub, stub); !problem.empty()) {
        return "the stub " + options.stub + " is not a launcher: " + problem;
    }

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
    fw::pack::Backend backend;
    backend.defaultStub = defaultStub();
    backend.defaultCodePage = GetACP();
    backend.openArchive = openArchive;
    backend.openLauncher = openLauncher;
    backend.writeLauncher = writeLauncher;
    return fw::pack::runPacker(argc, argv, backend);
}
