#include "pack/PackFolder.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include "pack/CodePageText.h"
#include "pack/ZipWriter.h"

namespace fw::pack {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kChunk = 1 << 20;

// What the archive keeps of a host entry.
struct HostEntry {
    bool folder = false;
    bool regular = false;
    uint32_t attributes = 0;  // Win32 bits
    int64_t modified = 0;     // seconds since 1970, UTC
    int64_t accessed = 0;
};

#ifdef _WIN32
int64_t unixSeconds(const FILETIME& t) {
    const uint64_t ticks = (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000) - 11644473600LL;
}

bool lookAt(const fs::path& path, HostEntry& entry) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return false;
    }
    // A link or junction is neither: it is refused, not followed.
    const bool link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.folder = folder && !link;
    entry.regular = !folder && !link;
    entry.attributes = data.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    entry.modified = unixSeconds(data.ftLastWriteTime);
    entry.accessed = unixSeconds(data.ftLastAccessTime);
    return true;
}
#else
bool lookAt(const fs::path& path, HostEntry& entry) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return false;
    }
    entry.folder = S_ISDIR(info.st_mode);
    entry.regular = S_ISREG(info.st_mode);
    entry.attributes = (info.st_mode & S_IWUSR) ? 0 : 0x01;
    entry.modified = info.st_mtim.tv_sec;
    entry.accessed = info.st_atim.tv_sec;
    return true;
}
#endif

// The DOS date and time of a moment in local time, as readers take it; 1980 at the least.
uint32_t dosTimeOf(int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &t) != 0) {
#else
    if (localtime_r(&t, &local) == nullptr) {
#endif
        return zipwrite::dosDateTime(1980, 1, 1, 0, 0, 0);
    }
    if (local.tm_year < 80) {
        return zipwrite::dosDateTime(1980, 1, 1, 0, 0, 0);
    }
    return zipwrite::dosDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                 local.tm_hour, local.tm_min, local.tm_sec);
}

int32_t utTime(int64_t seconds) {
    return static_cast<int32_t>(std::clamp<int64_t>(seconds, INT32_MIN, INT32_MAX));
}

// Characters a Windows name cannot hold, and the separator it would split at.
bool windowsRefuses(std::string_view name) {
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr) {
            return true;
        }
    }
    return name.empty() || name.back() == '.' || name.back() == ' ';
}

// minizip's output, written through `writeAt`: it seeks back to complete local headers.
struct OutputFile {
    const WriteAt* writeAt = nullptr;
    uint64_t position = 0;
    uint64_t size = 0;
    bool failed = false;
};

voidpf openOutput(voidpf opaque, const void*, int) {
    return opaque;
}
uLong readOutput(voidpf, voidpf, void*, uLong) {
    return 0;
}
uLong writeOutput(voidpf, voidpf stream, const void* data, uLong size) {
    auto* file = static_cast<OutputFile*>(stream);
    if (!(*file->writeAt)(data, size, file->position)) {
        file->failed = true;
        return 0;
    }
    file->position += size;
    file->size = std::max(file->size, file->position);
    return size;
}
ZPOS64_T tellOutput(voidpf, voidpf stream) {
    return static_cast<OutputFile*>(stream)->position;
}
long seekOutput(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* file = static_cast<OutputFile*>(stream);
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            file->position = offset;
            return 0;
        case ZLIB_FILEFUNC_SEEK_CUR:
            file->position += offset;
            return 0;
        case ZLIB_FILEFUNC_SEEK_END:
            file->position = file->size + offset;
            return 0;
        default:
            return -1;
    }
}
int closeOutput(voidpf, voidpf) {
    return 0;
}
int errorOutput(voidpf, voidpf stream) {
    return static_cast<OutputFile*>(stream)->failed ? -1 : 0;
}

constexpr uLong kUtf8Flag = 0x800;

// An item's name in the code page and in UTF-8; stored in the code page while every
// component of it can be.
struct ItemName {
    std::string text;
    std::string utf8;
    bool inCodePage = true;
    ItemName child(const ItemName& last) const {
        return {text + "/" + last.text, utf8 + "/" + last.utf8, inCodePage && last.inCodePage};
    }
    ItemName folderEntry() const { return {text + "/", utf8 + "/", inCodePage}; }
};

std::string utf8Of(const fs::path& name) {
#ifdef _WIN32
    const std::u8string text = name.u8string();
    return std::string(text.begin(), text.end());
#else
    return name.native();
#endif
}

class Packer {
  public:
    Packer(uint32_t codePage, zipFile zip) : codePage_(codePage), zip_(zip) {}

    // Adds `path` as `name` (and, for a folder, everything below it).
    std::string add(const fs::path& path, const ItemName& name) {
        HostEntry entry;
        if (!lookAt(path, entry)) {
            return "cannot read " + path.string();
        }
        if (!entry.folder && !entry.regular) {
            return path.string() + " is neither a folder nor a regular file (a link, a device)";
        }
        if (std::string problem = addItem(path, entry, entry.folder ? name.folderEntry() : name);
            !problem.empty()) {
            return problem;
        }
        if (!entry.folder) {
            return {};
        }
        std::error_code error;
        std::vector<fs::path> children;
        for (fs::directory_iterator it(path, error), end; !error && it != end;
             it.increment(error)) {
            children.push_back(it->path());
        }
        if (error) {
            return "cannot list " + path.string() + ": " + error.message();
        }
        std::sort(children.begin(), children.end(),
                  [](const fs::path& a, const fs::path& b) { return a.native() < b.native(); });
        for (const fs::path& child : children) {
            ItemName childName;
            if (std::string problem = nameOf(child, childName); !problem.empty()) {
                return problem;
            }
            if (std::string problem = add(child, name.child(childName)); !problem.empty()) {
                return problem;
            }
        }
        return {};
    }

    // The last component of `path`, in the code page when it can express it.
    std::string nameOf(const fs::path& path, ItemName& name) const {
        const fs::path last = path.filename();
        name.utf8 = utf8Of(last);
        name.inCodePage = nameInCodePage(last, codePage_, name.text);
        if (!name.inCodePage) {
            name.text = name.utf8;
        }
        if (windowsRefuses(name.text)) {
            return "the name of " + path.string() +
                   " cannot be a Windows file name (it holds one of \\ / : * ? \" < > | or "
                   "ends in a dot or blank; rename it)";
        }
        return {};
    }

  private:
    std::string addItem(const fs::path& path, const HostEntry& entry, const ItemName& item) {
        // A name the code page cannot express goes in as UTF-8, flagged so: the check
        // names it as a problem, and a launcher packed by force cannot unpack it.
        const std::string& name = item.inCodePage ? item.text : item.utf8;
        const uLong flags = item.inCodePage ? 0 : kUtf8Flag;
        zip_fileinfo info{};
        info.dosDate = dosTimeOf(entry.modified);
        info.external_fa = entry.attributes | (entry.folder ? 0x10 : 0x20);
        const std::string local =
            zipwrite::utBlock(3, {utTime(entry.modified), utTime(entry.accessed)});
        const std::string central = zipwrite::utBlock(3, {utTime(entry.modified)});
        const uLong madeBy = (uLong{zipwrite::kHostNtfs} << 8) | 20;
        std::ifstream in;
        uint64_t size = 0;
        if (!entry.folder) {
            in.open(path, std::ios::binary);
            std::error_code error;
            size = fs::file_size(path, error);
            if (!in.is_open() || error) {
                return "cannot read " + path.string();
            }
        }
        int rc = zipOpenNewFileInZip4_64(
            zip_, name.c_str(), &info, local.data(), static_cast<uInt>(local.size()),
            central.data(), static_cast<uInt>(central.size()), nullptr,
            entry.folder ? 0 : Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, 8,
            Z_DEFAULT_STRATEGY, nullptr, 0, madeBy, flags, size >= 0xFFFFFFFFull ? 1 : 0);
        std::vector<char> buffer(entry.folder ? 0 : kChunk);
        while (rc == ZIP_OK && !entry.folder && in) {
            in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            const auto got = static_cast<unsigned>(in.gcount());
            if (got > 0) {
                rc = zipWriteInFileInZip(zip_, buffer.data(), got);
            }
        }
        if (!entry.folder && in.bad()) {
            return "cannot read " + path.string();
        }
        if (rc == ZIP_OK) {
            rc = zipCloseFileInZip(zip_);
        }
        return rc == ZIP_OK ? std::string() : "cannot pack " + path.string();
    }

    uint32_t codePage_;
    zipFile zip_;
};

}  // namespace

std::string packFolder(const std::string& folder, uint32_t codePage, const WriteAt& writeAt,
                       uint64_t& size) {
    fs::path top(folder);
    while (!top.has_filename() && top.has_relative_path()) {
        top = top.parent_path();
    }
    std::error_code error;
    if (!fs::is_directory(top, error)) {
        return "the folder " + folder + " is not a folder (name the folder of the installer set)";
    }
    // "." or ".." name no top folder: take the name the folder really has.
    if (top.filename() == "." || top.filename() == "..") {
        top = fs::canonical(top, error);
        if (error) {
            return "cannot read the folder " + folder;
        }
    }
    OutputFile file;
    file.writeAt = &writeAt;
    zlib_filefunc64_def functions{};
    functions.zopen64_file = openOutput;
    functions.zread_file = readOutput;
    functions.zwrite_file = writeOutput;
    functions.ztell64_file = tellOutput;
    functions.zseek64_file = seekOutput;
    functions.zclose_file = closeOutput;
    functions.zerror_file = errorOutput;
    functions.opaque = &file;
    zipFile archive = zipOpen2_64("payload", APPEND_STATUS_CREATE, nullptr, &functions);
    if (archive == nullptr) {
        return "cannot start the archive";
    }
    Packer packer(codePage, archive);
    ItemName topName;
    std::string problem = packer.nameOf(top, topName);
    if (problem.empty()) {
        problem = packer.add(top, topName);
    }
    if (zipClose(archive, nullptr) != ZIP_OK && problem.empty()) {
        problem = "cannot finish the archive";
    }
    if (file.failed) {
        problem = "cannot write the archive (is the disk full?)";
    }
    size = file.size;
    return problem;
}

}  // namespace fw::pack
