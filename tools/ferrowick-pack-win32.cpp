// ferrowick-pack.exe: makes a Windows launcher that carries an installer set.
//
//   ferrowick-pack (--payload ARCHIVE.zip | --folder DIR) --output LAUNCHER.exe [--stub STUB.exe]
//                  [--prefix FILE] [--code-page N] [--force] [--icon FILE.ico]
//                  [--version KEY=VALUE]...
//   ferrowick-pack --check (--payload ARCHIVE.zip | --folder DIR | --launcher FILE.exe)
//
// The launcher is the stub (by default ferrowick.exe beside this program) whose resource
// "TIMELISTINGS"/#132 (language 0x0409) is the 54-byte prefix followed by the archive,
// byte for byte, written by the same portable PE writer as the Linux packer's, so that
// both give the same launcher. The payload is streamed, never held whole. The launcher is
// written beside the output and renamed over it only when complete, so nothing is written
// unless the whole launcher could be made.
#include <windows.h>
// After windows.h.
#include <softpub.h>
#include <wintrust.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "pack/Packer.h"
#include "pack/WindowsLauncher.h"
#include "pe/PeImage.h"
#include "res/resource.h"
#include "tools/ToolInfo.h"

namespace {

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

// Opens a file to read and gives its size; the reason it cannot, or empty.
std::string openFile(const std::string& path, std::shared_ptr<Handle>& file, uint64_t& size) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return "it is a folder";
    }
    file =
        std::make_shared<Handle>(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER length{};
    if (file->get() == INVALID_HANDLE_VALUE || !GetFileSizeEx(file->get(), &length)) {
        return lastError();
    }
    size = static_cast<uint64_t>(length.QuadPart);
    return {};
}

// Bytes of an open file from `offset` on, for as long as the payload is read.
fw::pack::Payload payloadIn(std::shared_ptr<Handle> file, uint64_t offset, uint64_t size) {
    fw::pack::Payload payload;
    payload.size = size;
    payload.readAt = [file = std::move(file), offset](void* buffer, std::size_t count,
                                                      uint64_t at) {
        return readAt(file->get(), buffer, count, offset + at);
    };
    return payload;
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

std::string openArchive(const std::string& path, fw::pack::Payload& payload) {
    std::shared_ptr<Handle> file;
    uint64_t size = 0;
    if (std::string problem = openFile(path, file, size); !problem.empty()) {
        return problem;
    }
    payload = payloadIn(std::move(file), 0, size);
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

// Where Windows' own loader finds the payload resource, and how large it is; empty when
// it is where the resource tree says.
std::string loaderDisagrees(const std::string& path, const fw::pe::ReadAt& read,
                            const fw::pack::PayloadSpan& archive) {
    const HMODULE module = LoadLibraryExA(
        path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) {
        return "Windows does not load it (" + lastError() + ")";
    }
    const HRSRC found =
        FindResourceA(module, MAKEINTRESOURCEA(IDR_PAYLOAD), FERROWICK_PAYLOAD_TYPE);
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const auto* data = static_cast<const char*>(loaded ? LockResource(loaded) : nullptr);
    const DWORD loadedSize = found ? SizeofResource(module, found) : 0;
    // The archive's first and last bytes, where the loader maps them.
    std::string problem;
    char first = 0;
    char last = 0;
    if (data == nullptr || loadedSize != archive.size + fw::pack::kPrefixSize) {
        problem = "Windows finds its payload resource with " + std::to_string(loadedSize) +
                  " bytes, its resource tree says " +
                  std::to_string(archive.size + fw::pack::kPrefixSize);
    } else if (archive.size != 0 &&
               (!read(&first, 1, archive.offset) ||
                !read(&last, 1, archive.offset + archive.size - 1) ||
                first != data[fw::pack::kPrefixSize] || last != data[loadedSize - 1])) {
        problem = "Windows maps other bytes as its payload than its resource tree points at";
    }
    FreeLibrary(module);
    return problem;
}

// The archive after the prefix in a launcher's payload resource, read where the resource
// tree points, which Windows' own loader must agree with.
std::string openLauncher(const std::string& path, fw::pack::LauncherRead& read) {
    std::shared_ptr<Handle> file;
    uint64_t size = 0;
    if (std::string problem = openFile(path, file, size); !problem.empty()) {
        return problem;
    }
    const fw::pe::ReadAt reader = readerOf(file->get());
    fw::pe::Image image;
    read.signature = fw::pe::readImage(reader, size, image).empty() && hasCertificate(image)
                         ? signatureOf(path)
                         : fw::pack::Signature{fw::pack::SignatureKind::none, "none"};
    fw::pack::PayloadSpan archive;
    if (std::string problem = fw::pack::readWindowsLauncher(reader, size, read, archive);
        !problem.empty()) {
        return problem;
    }
    if (std::string problem = loaderDisagrees(path, reader, archive); !problem.empty()) {
        read.problems.push_back(problem);
    }
    read.payload = payloadIn(std::move(file), archive.offset, archive.size);
    return {};
}

std::string stubLimit(const std::string& stub, fw::pack::StubLimit& limit) {
    std::shared_ptr<Handle> file;
    uint64_t size = 0;
    if (std::string problem = openFile(stub, file, size); !problem.empty()) {
        return problem;
    }
    return fw::pack::windowsStubLimit(readerOf(file->get()), size, limit);
}

// A file without a name's use: made beside the output (for a check, in the temporary
// folder) and deleted by the system when the packer closes it, however it ends.
std::string scratchFile(const fw::pack::Options& options, fw::pack::Scratch& scratch) {
    std::string folder(MAX_PATH + 1, '\0');
    if (!options.output.empty()) {
        folder = folderOf(options.output);
    } else {
        folder.resize(GetTempPathA(static_cast<DWORD>(folder.size()), folder.data()));
    }
    std::string path(MAX_PATH + 1, '\0');
    if (GetTempFileNameA(folder.c_str(), "fws", 0, path.data()) == 0) {
        return "cannot make a scratch file in " + folder + ": " + lastError();
    }
    path.resize(path.find('\0'));
    auto file = std::make_shared<Handle>(
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (file->get() == INVALID_HANDLE_VALUE) {
        const std::string why = lastError();
        DeleteFileA(path.c_str());
        return "cannot make a scratch file in " + folder + ": " + why;
    }
    scratch.writeAt = [file](const void* data, std::size_t size, uint64_t offset) {
        return writeAt(file->get(), data, size, offset);
    };
    scratch.readAt = [file](void* buffer, std::size_t size, uint64_t offset) {
        return readAt(file->get(), buffer, size, offset);
    };
    return {};
}

// Builds the launcher; on failure gives the reason and writes nothing.
std::string writeLauncher(const fw::pack::Options& options, const std::string& prefix,
                          const fw::pack::Payload& payload, const fw::pe::ResourceEdits& edits,
                          fw::pack::Made& made) {
    made.format = "a Windows launcher (PE)";
    made.signature = {fw::pack::SignatureKind::none, "none"};
    if (options.signing.wanted()) {
        return "signing runs osslsigncode, which this packer does not: sign with ferrowick-pack "
               "on Linux";
    }
    std::shared_ptr<Handle> stub;
    uint64_t stubSize = 0;
    if (std::string problem = openFile(options.stub, stub, stubSize); !problem.empty()) {
        return "cannot read the stub " + options.stub + ": " + problem;
    }
    std::string temporary(MAX_PATH + 1, '\0');
    if (GetTempFileNameA(folderOf(options.output).c_str(), "fwp", 0, temporary.data()) == 0) {
        return "cannot create a file beside " + options.output + ": " + lastError();
    }
    temporary.resize(temporary.find('\0'));
    std::string problem;
    {
        Handle out(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (out.get() == INVALID_HANDLE_VALUE) {
            problem = "cannot write " + options.output + ": " + lastError();
        } else {
            fw::pe::Output output;
            const HANDLE h = out.get();
            output.append = [h](const void* data, std::size_t size) {
                DWORD wrote = 0;
                return WriteFile(h, data, static_cast<DWORD>(size), &wrote, nullptr) &&
                       wrote == size;
            };
            output.writeAt = [h](const void* data, std::size_t size, uint64_t offset) {
                return writeAt(h, data, size, offset);
            };
            problem = fw::pack::writeWindowsLauncher(options, readerOf(stub->get()), stubSize,
                                                     prefix, payload, edits, output, made);
            if (problem == "cannot write") {
                problem = "cannot write " + options.output + ": " + lastError();
            }
        }
    }
    if (problem.empty() && !MoveFileExA(temporary.c_str(), options.output.c_str(),
                                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        problem = "cannot write " + options.output + ": " + lastError();
    }
    if (!problem.empty()) {
        DeleteFileA(temporary.c_str());
    }
    return problem;
}

// Command-line arguments are text in the ANSI code page.
std::string argumentText(const std::string& ansi) {
    const int units =
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), units);
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
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
    backend.scratch = scratchFile;
    backend.argumentText = argumentText;
    return fw::pack::runPacker(argc, argv, backend);
}
