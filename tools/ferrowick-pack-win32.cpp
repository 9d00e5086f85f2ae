// ferrowick-pack.exe: makes a Windows launcher that carries an installer set.
//
//   ferrowick-pack (--payload ARCHIVE.zip | --folder DIR) --output LAUNCHER.exe [--stub STUB.exe]
//                  [--prefix FILE] [--code-page N] [--force]
//   ferrowick-pack --check (--payload ARCHIVE.zip | --folder DIR | --launcher FILE.exe)
//
// The launcher is a copy of the stub (by default ferrowick.exe beside this program) whose
// resource "TIMELISTINGS"/#132 (language 0x0409) is the 54-byte prefix followed by the
// archive, byte for byte; the resource the stub carried is replaced, and a signature it
// carried dropped. The copy is made beside the output and renamed over it only when
// complete, so nothing is written unless the whole launcher could be made.
#include <windows.h>
// After windows.h.
#include <softpub.h>
#include <wintrust.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "pack/Packer.h"
#include "pe/PePayload.h"
#include "res/resource.h"
#include "tools/ToolInfo.h"

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

bool readAt(HANDLE file, void* buffer, std::size_t size, uint64_t offset) {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1 << 24));
        DWORD got = 0;
        if (!ReadFile(file, out, want, &got, &at) || got == 0) {
            return false;
        }
        out += got;
        size -= got;
        offset += got;
    }
    return true;
}

bool writeAt(HANDLE file, const void* data, std::size_t size, uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD wrote = 0;
    return WriteFile(file, data, static_cast<DWORD>(size), &wrote, &at) && wrote == size;
}

fw::pe::ReadAt readerOf(HANDLE file) {
    return [file](void* buffer, std::size_t size, uint64_t offset) {
        return readAt(file, buffer, size, offset);
    };
}

// Opens a file to read (or to update) and gives its size; the reason it cannot, or empty.
std::string openFile(const std::string& path, bool update, std::unique_ptr<Handle>& file,
                     uint64_t& size) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return "it is a folder";
    }
    file = std::make_unique<Handle>(CreateFileA(
        path.c_str(), GENERIC_READ | (update ? GENERIC_WRITE : 0), update ? 0 : FILE_SHARE_READ,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER length{};
    if (file->get() == INVALID_HANDLE_VALUE || !GetFileSizeEx(file->get(), &length)) {
        return lastError();
    }
    size = static_cast<uint64_t>(length.QuadPart);
    return {};
}

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

bool hasCertificate(const fw::pe::Image& image) {
    return image.directories.size() > fw::pe::kCertificateDirectory &&
           image.directories[fw::pe::kCertificateDirectory].size != 0;
}

// Names as "CN=..., O=...", as the Linux packer shows them.
const DWORD kNameForm = CERT_X500_NAME_STR;

// The signer's name from the verification's state.
std::string signerOf(HANDLE state) {
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(state);
    CRYPT_PROVIDER_SGNR* signer =
        provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT* certificate = signer ? WTHelperGetProvCertFromChain(signer, 0) : nullptr;
    char name[512] = {};
    if (certificate == nullptr || CertGetNameStringA(certificate->pCert, CERT_NAME_RDN_TYPE, 0,
                                                     nullptr, name, sizeof name) <= 1) {
        return "not shown";
    }
    return name;
}

// The state of the signature as this system's trust provider sees it.
fw::pack::Signature signatureOf(const std::string& path) {
    std::wstring wide(path.size() + 1, L'\0');
    wide.resize(static_cast<std::size_t>(MultiByteToWideChar(
                    CP_ACP, 0, path.c_str(), -1, wide.data(), static_cast<int>(wide.size()))) -
                1);
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = wide.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    const std::string subject = data.hWVTStateData ? signerOf(data.hWVTStateData) : "not shown";
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    switch (static_cast<HRESULT>(status)) {
        case ERROR_SUCCESS:
            return {fw::pack::SignatureKind::valid, "valid (subject " + subject + ")"};
        case CERT_E_UNTRUSTEDROOT:
        case CERT_E_CHAINING:
        case CERT_E_UNTRUSTEDTESTROOT:
            return {fw::pack::SignatureKind::valid,
                    "valid (subject " + subject + ", not from an authority this machine trusts)"};
        case TRUST_E_BAD_DIGEST:
            return {fw::pack::SignatureKind::broken,
                    "broken (its digest does not match the file: it was changed after signing)"};
        default: {
            char code[16];
            std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
            return {fw::pack::SignatureKind::broken,
                    std::string("broken (it does not verify: ") + code + ")"};
        }
    }
}

// The archive after the prefix in a launcher's payload resource, as Windows loads it.
std::string openLauncher(const std::string& path, fw::pack::LauncherRead& read) {
    std::unique_ptr<Handle> file;
    uint64_t size = 0;
    if (std::string problem = openFile(path, false, file, size); !problem.empty()) {
        return problem;
    }
    fw::pe::Image image;
    if (std::string problem = fw::pe::readImage(readerOf(file->get()), size, image);
        !problem.empty()) {
        return problem;
    }
    // Mapped as Windows maps resources; it stays mapped while the payload is read.
    std::shared_ptr<HINSTANCE__> module(
        LoadLibraryExA(path.c_str(), nullptr,
                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE),
        [](HMODULE m) {
            if (m != nullptr) {
                FreeLibrary(m);
            }
        });
    if (!module) {
        return "it is not a Windows executable (" + lastError() + ")";
    }
    // Looked up as the launcher looks it up.
    const HRSRC found =
        FindResourceA(module.get(), MAKEINTRESOURCEA(IDR_PAYLOAD), FERROWICK_PAYLOAD_TYPE);
    const HGLOBAL loaded = found ? LoadResource(module.get(), found) : nullptr;
    const auto* data = static_cast<const char*>(loaded ? LockResource(loaded) : nullptr);
    const DWORD resourceSize = found ? SizeofResource(module.get(), found) : 0;
    if (data == nullptr) {
        return "it carries no payload";
    }
    if (resourceSize < fw::pack::kPrefixSize) {
        return "its payload is shorter than its prefix";
    }
    read.format = "Windows (PE)";
    read.source = "PE resource " FERROWICK_PAYLOAD_TYPE "/" FERROWICK_PAYLOAD_NAME;
    read.signature = hasCertificate(image)
                         ? signatureOf(path)
                         : fw::pack::Signature{fw::pack::SignatureKind::none, "none"};
    fw::pack::checkWindowsImage(image.sizeOfImage, fw::pe::largestImageSize(image), read);
    const char* archive = data + fw::pack::kPrefixSize;
    read.payload.size = resourceSize - fw::pack::kPrefixSize;
    read.payload.readAt = [module, archive, total = read.payload.size](
                              void* buffer, std::size_t count, uint64_t offset) {
        if (offset > total || count > total - offset) {
            return false;
        }
        std::memcpy(buffer, archive + offset, count);
        return true;
    };
    return {};
}

std::string stubLimit(const std::string& stub, fw::pack::StubLimit& limit) {
    std::unique_ptr<Handle> file;
    uint64_t size = 0;
    if (std::string problem = openFile(stub, false, file, size); !problem.empty()) {
        return problem;
    }
    return fw::pack::windowsStubLimit(readerOf(file->get()), size, limit);
}

// Drops the certificate table that the resource update keeps, and sets the checksum.
std::string finish(const std::string& path, bool& dropped) {
    std::unique_ptr<Handle> file;
    fw::pe::ImageFile image;
    if (std::string problem = openFile(path, true, file, image.size); !problem.empty()) {
        return problem;
    }
    const HANDLE h = file->get();
    image.read = readerOf(h);
    image.writeAt = [h](const void* data, std::size_t size, uint64_t offset) {
        return writeAt(h, data, size, offset);
    };
    image.truncate = [h](uint64_t size) {
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(size);
        return SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    };
    return fw::pe::finishImage(image, dropped);
}

// Builds the launcher; on failure gives the reason and writes nothing.
std::string writeLauncher(const fw::pack::Options& options, const std::string& prefix,
                          const fw::pack::Payload& payload, fw::pack::Made& made) {
    if (options.signing.wanted()) {
        return "signing runs osslsigncode, which this packer does not: sign with ferrowick-pack "
               "on Linux";
    }
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
    fw::pe::Image stubImage;
    const bool signedStub =
        fw::pe::readImage(fw::pack::payloadOf(stub).readAt, stub.size(), stubImage).empty() &&
        hasCertificate(stubImage);
    stub.clear();

    std::string temporary(MAX_PATH + 1, '\0');
    if (GetTempFileNameA(folderOf(options.output).c_str(), "fwp", 0, temporary.data()) == 0) {
        return "cannot create a file beside " + options.output + ": " + lastError();
    }
    temporary.resize(temporary.find('\0'));
    bool updated = CopyFileA(options.stub.c_str(), temporary.c_str(), FALSE);
    if (updated) {
        const HANDLE update = BeginUpdateResourceA(temporary.c_str(), FALSE);
        updated = update != nullptr &&
                  UpdateResourceA(update, FERROWICK_PAYLOAD_TYPE, MAKEINTRESOURCEA(IDR_PAYLOAD),
                                  kLanguage, resource.data(), static_cast<DWORD>(resource.size()));
        const std::string why = updated ? std::string() : lastError();
        updated = update != nullptr && EndUpdateResourceA(update, !updated) && updated;
        if (!why.empty()) {
            SetLastError(0);
            DeleteFileA(temporary.c_str());
            return "cannot write the payload resource into " + options.output + ": " + why;
        }
    }
    bool dropped = false;
    if (updated) {
        if (std::string problem = finish(temporary, dropped); !problem.empty()) {
            DeleteFileA(temporary.c_str());
            return "cannot finish " + options.output + ": " + problem;
        }
    }
    if (!updated || !MoveFileExA(temporary.c_str(), options.output.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const std::string why = lastError();
        DeleteFileA(temporary.c_str());
        return "cannot write " + options.output + ": " + why;
    }
    made.format = "a Windows launcher (PE)";
    made.signature = {fw::pack::SignatureKind::none, "none"};
    if (signedStub || dropped) {
        made.notes.push_back("the stub " + options.stub +
                             " was signed; its signature is dropped, as it could not match the "
                             "new payload: sign " +
                             options.output + " again");
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    if (fw::tool::answered(argc, argv, "ferrowick-pack", fw::pack::kUsage, fw::pack::kHelp)) {
        return 0;
    }
    fw::pack::Backend backend;
    backend.defaultStub = defaultStub();
    backend.defaultCodePage = GetACP();
    backend.openArchive = openArchive;
    backend.openLauncher = openLauncher;
    backend.writeLauncher = writeLauncher;
    backend.stubLimit = stubLimit;
    return fw::pack::runPacker(argc, argv, backend);
}
