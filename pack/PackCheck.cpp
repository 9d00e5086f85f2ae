#include "pack/PackCheck.h"

#include <unzip.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "app/InstallPaths.h"
#include "app/LaunchCommand.h"
#include "app/Text.h"
#include "archive/ArchiveReader.h"
#include "archive/detail/ArchiveReader.h"
#include "pack/CodePageText.h"
#include "platform/Mbcs.h"
#include "platform/Platform.h"

namespace fw::pack {

namespace {

constexpr int32_t kPatienceIndex = 600;  // the item before which the launcher asks for patience
constexpr std::size_t kMaxPathLength = 259;
constexpr const char* kArchivePath = "C:\\payload.zip";
constexpr FileHandle kArchiveFile = 0x7A00;
constexpr FileHandle kDiscardFile = 0x7A01;

// The one check in force: the platform table's functions reach it through here.
struct Session {
    const ReadAt* readAt = nullptr;
    uint64_t size = 0;
    uint64_t position = 0;
    uint32_t codePage = 0;
    const Platform* host = nullptr;
};
Session* session = nullptr;

FileHandle openArchive(const char*) {
    session->position = 0;
    return kArchiveFile;
}
int64_t readArchive(FileHandle file, void* buffer, std::size_t count) {
    if (file != kArchiveFile) {
        return -1;
    }
    const uint64_t left = session->size - std::min(session->position, session->size);
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(count, left));
    if (n > 0 && !(*session->readAt)(buffer, n, session->position)) {
        return -1;
    }
    session->position += n;
    return static_cast<int64_t>(n);
}
int64_t readArchiveAt(FileHandle file, void* buffer, std::size_t count, uint64_t offset) {
    if (file != kArchiveFile) {
        return -1;
    }
    const uint64_t left = session->size - std::min(offset, session->size);
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(count, left));
    if (n > 0 && !(*session->readAt)(buffer, n, offset)) {
        return -1;
    }
    return static_cast<int64_t>(n);
}
int64_t seekArchive(FileHandle file, int64_t offset, SeekOrigin origin) {
    if (file != kArchiveFile) {
        return -1;
    }
    const int64_t from = origin == SeekOrigin::begin     ? 0
                         : origin == SeekOrigin::current ? static_cast<int64_t>(session->position)
                                                         : static_cast<int64_t>(session->size);
    if (from + offset < 0) {
        return -1;
    }
    session->position = static_cast<uint64_t>(from + offset);
    return static_cast<int64_t>(session->position);
}
// Every folder is there already, so nothing is made; every output file keeps nothing.
uint32_t folderEverywhere(const char*) {
    return kAttrDirectory;
}
bool madeFolder(const char*) {
    return true;
}
FileHandle createDiscard(const char*, uint32_t, bool) {
    return kDiscardFile;
}
bool writeDiscard(FileHandle file, const void*, std::size_t) {
    return file == kDiscardFile;
}
bool timesDiscarded(FileHandle, const FileTime*, const FileTime*, const FileTime*) {
    return true;
}
bool closeAny(FileHandle) {
    return true;
}
bool unpackFolder(std::string& path) {
    path = "C:\\Temp\\_Download\\_UnZip";
    return true;
}
uint32_t noError() {
    return 0;
}
uint32_t checkedCodePage() {
    return session->codePage;
}
bool checkedFromUtf8(const char* utf8, std::string& ansi) {
    return codePageFromUtf8(utf8, session->codePage, ansi);
}

// Puts the check's table in force for its lifetime.
class CheckPlatform {
  public:
    CheckPlatform(const ReadAt& readAt, uint64_t size, uint32_t codePage) {
        session_.readAt = &readAt;
        session_.size = size;
        session_.codePage = codePage;
        session_.host = &os();
        table_ = os();
        table_.getFileAttributes = folderEverywhere;
        table_.createDirectory = madeFolder;
        table_.openFile = openArchive;
        table_.createFile = createDiscard;
        table_.readFile = readArchive;
        table_.readFileAt = readArchiveAt;
        table_.writeFile = writeDiscard;
        table_.seekFile = seekArchive;
        table_.setFileTimes = timesDiscarded;
        table_.closeFile = closeAny;
        table_.currentDirectory = unpackFolder;
        table_.lastError = noError;
        table_.ansiCodePage = checkedCodePage;
        table_.ansiFromUtf8 = checkedFromUtf8;
        session = &session_;
        previous_ = setPlatform(&table_);
    }
    ~CheckPlatform() {
        setPlatform(previous_);
        session = nullptr;
    }
    CheckPlatform(const CheckPlatform&) = delete;
    CheckPlatform& operator=(const CheckPlatform&) = delete;

  private:
    Session session_;
    Platform table_{};
    const Platform* previous_ = nullptr;
};

// A name as Windows finds it: components split at either separator, "." dropped, trailing
// dots and blanks gone, ASCII letters in one case.
std::vector<std::string> components(std::string_view name) {
    std::vector<std::string> parts;
    for (;;) {
        const std::size_t separator = mbcs::findSeparator(name);
        std::string part = UpperCased(name.substr(0, separator));
        while (!part.empty() && (part.back() == '.' || part.back() == ' ')) {
            part.pop_back();
        }
        if (!part.empty()) {
            parts.push_back(std::move(part));
        }
        if (separator == mbcs::npos) {
            return parts;
        }
        name.remove_prefix(separator + 1);
    }
}

std::string joined(const std::vector<std::string>& parts, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        out += (i ? "/" : "") + parts[i];
    }
    return out;
}

// A name of the code page in UTF-8, for the report; a byte that is no character of the
// code page as \xNN.
std::string shown(std::string_view name, uint32_t codePage) {
    if (expressible(name, codePage)) {
        return shownName(name, codePage);
    }
    std::string out;
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            static const char kDigits[] = "0123456789ABCDEF";
            out += std::string("\\x") + kDigits[byte >> 4] + kDigits[byte & 15];
        }
    }
    return out;
}

// Why the reader's clean-up changed a stored name.
std::string cleanedBecause(std::string_view stored) {
    if (stored.size() >= 2 && stored[1] == ':') {
        return "its drive is dropped";
    }
    if (!stored.empty() && (stored[0] == '/' || stored[0] == '\\')) {
        return "its leading separator is dropped";
    }
    if (mbcs::findSubstring(stored, "..") != mbcs::npos) {
        return "its \"..\" steps are dropped, which would climb out of the unpack folder";
    }
    return "the reader cleans it";
}

std::string failureText(ArchiveResult result, uint32_t codePage) {
    std::string text = ArchiveResultWording(result).forPackager;
    if (result == AR_NAME_NOT_IN_CODE_PAGE) {
        text.append(" ").append(std::to_string(codePage));
    }
    return text;
}

// The walk over the items, and what it gathers for the plan.
class ItemWalk {
  public:
    ItemWalk(ArchiveHandle archive, uint32_t codePage, CheckReport& report)
        : archive_(archive), codePage_(codePage), report_(report) {}

    // Checks item `index`: its entry, its name, where it lands, and its data read through.
    void check(int32_t index) {
        std::string stored;
        GetArchiveItemStoredName(archive_, index, stored);
        ArchiveItem item;
        const ArchiveResult described = GetArchiveItem(archive_, index, item);
        const std::string name(item.name, strnlen(item.name, sizeof(item.name)));
        // As the launcher does: the first name with a separator gives the top folder.
        if (topFolder_.empty()) {
            topFolder_ = TopFolderOf(name);
        }
        // The container stands at the item once its central entry was read.
        unz_file_info64 info{};
        const bool reached = described != AR_BAD_CATALOGUE &&
                             unzGetCurrentFileInfo64(archive_->reader->container, &info, nullptr, 0,
                                                     nullptr, 0, nullptr, 0) == UNZ_OK;
        utf8_ = reached && (info.flag & 0x800) != 0;
        if (reached && info.compression_method != 0 && info.compression_method != Z_DEFLATED) {
            problem(index, stored,
                    "its method " + std::to_string(info.compression_method) +
                        " is not supported (only stored and deflated items are)");
            return;
        }
        if (described != AR_OK) {
            problem(index, stored, failureText(described, codePage_));
            return;
        }
        total_ += item.uncompressedSize;
        checkStoredName(index, stored, name);
        const std::string target = std::string(kUnpackPrefix) + name;
        const bool tooLong = checkPath(index, name, target);
        const bool folder = (item.attributes & kAttrDirectory) != 0;
        const std::vector<std::string> parts = components(name);
        checkStagingArchive(index, name, parts, folder);
        checkCollisions(index, name, parts, folder);
        noteSetup(parts, folder);
        if (info.flag & 1) {
            problem(index, name, "it is encrypted (pack it without a password)");
            return;
        }
        // Read through, CRC-32 checked, into files that keep nothing.
        const ArchiveResult unpacked = ExtractArchiveItem(archive_, index, target.c_str());
        if (unpacked != AR_OK && !(unpacked == AR_PATH_TOO_LONG && tooLong)) {
            problem(index, name, failureText(unpacked, codePage_));
        }
    }

    // The plan's lines, and the problems of what the launcher would launch.
    void plan(int32_t count) {
        const bool hasSetup = topFolder_.empty() ? setupAtTop_ : setupInTop_;
        report_.plan.push_back("items: " + std::to_string(count) + ", " + std::to_string(total_) +
                               " bytes unpacked");
        report_.plan.push_back("code page: " + std::to_string(codePage_));
        report_.plan.push_back("top folder: " +
                               (topFolder_.empty() ? std::string("none (no item name has a folder)")
                                                   : "\"" + shown(topFolder_, codePage_) + "\"") +
                               ", SETUP.exe " + (hasSetup ? "in it" : "NOT in it"));
        report_.plan.push_back(
            std::string("patience notice: ") +
            (count > kPatienceIndex ? "shown before item 600" : "not shown (600 items or fewer)"));
        const std::optional<std::string> command = LaunchCommandFor(topFolder_);
        if (command && !hasSetup) {
            report_.problems.push_back(
                (topFolder_.empty()
                     ? std::string("no item name has a folder, and no SETUP.exe lies at the top")
                     : "the top folder \"" + shown(topFolder_, codePage_) + "\" has no SETUP.exe") +
                ": the launcher would run a command that is not found (add it, or pack anyway "
                "with --force)");
        }
        if (command) {
            report_.plan.push_back("launch command: " + shown(*command, codePage_));
        } else {
            report_.plan.emplace_back("launch command: none");
            report_.problems.push_back("the top folder \"" + shown(topFolder_, codePage_) +
                                       "\" cannot be put on a command line safely: the launcher "
                                       "launches nothing (rename it)");
        }
    }

  private:
    void problem(int32_t index, const std::string& name, const std::string& text) {
        report_.problems.push_back("item " + std::to_string(index) + " \"" +
                                   (utf8_ ? name : shown(name, codePage_)) + "\": " + text);
    }

    // The stored name in the code page, and as the reader cleans it.
    void checkStoredName(int32_t index, const std::string& stored, const std::string& name) {
        std::string storedAnsi = stored;
        if (utf8_) {
            codePageFromUtf8(stored, codePage_, storedAnsi);
        } else if (!expressible(stored, codePage_)) {
            problem(index, stored,
                    "its name cannot be expressed in code page " + std::to_string(codePage_));
        }
        utf8_ = false;  // from here on, names in the code page
        if (name != storedAnsi) {
            problem(index, storedAnsi,
                    "it is unpacked as \"" + shown(name, codePage_) +
                        "\": " + cleanedBecause(storedAnsi));
        }
    }

    // True when the path it is unpacked to is too long for Windows, which is a problem.
    bool checkPath(int32_t index, const std::string& name, const std::string& target) {
        std::string trimmed = target;
        while (!trimmed.empty() && (trimmed.back() == '/' || trimmed.back() == '\\')) {
            trimmed.pop_back();
        }
        const bool tooLong = trimmed.size() > kMaxPathLength;
        if (tooLong) {
            problem(index, name,
                    "its path is over 259 characters (" + std::to_string(trimmed.size()) + ")");
        }
        return tooLong;
    }

    void checkStagingArchive(int32_t index, const std::string& name,
                             const std::vector<std::string>& parts, bool folder) {
        if (!parts.empty() && parts[0] == "MORVANTA.ZIP") {
            problem(index, name,
                    !folder && parts.size() == 1
                        ? "it would be unpacked over the staging archive it is read from "
                          "(rename it)"
                        : "its folder would stand where the staging archive lies (rename it)");
        }
    }

    // Files collide with anything of their name; folders only with files.
    void checkCollisions(int32_t index, const std::string& name,
                         const std::vector<std::string>& parts, bool folder) {
        for (std::size_t level = 1; level <= parts.size(); ++level) {
            const bool file = !folder && level == parts.size();
            const std::string key = joined(parts, level);
            const auto [at, fresh] = seen_.emplace(key, file ? "f" + name : "d" + name);
            if (!fresh && (file || at->second[0] == 'f')) {
                const std::string other = at->second.substr(1);
                problem(index, name,
                        other == name ? "it is in the archive twice: the later one replaces "
                                        "the earlier"
                                      : "it collides with \"" + shown(other, codePage_) +
                                            "\" when letter case is ignored");
                return;
            }
        }
    }

    // Whether SETUP.exe lies in the top folder, or at the top when no name has a folder.
    void noteSetup(const std::vector<std::string>& parts, bool folder) {
        setupAtTop_ = setupAtTop_ || (!folder && parts.size() == 1 && parts[0] == "SETUP.EXE");
        if (!topFolder_.empty() && parts.size() == 2 && !folder) {
            const std::vector<std::string> top = components(topFolder_);
            setupInTop_ =
                setupInTop_ || (top.size() == 1 && top[0] == parts[0] && parts[1] == "SETUP.EXE");
        }
    }

    ArchiveHandle archive_;
    uint32_t codePage_;
    CheckReport& report_;
    uint64_t total_ = 0;
    std::string topFolder_;
    bool setupInTop_ = false;
    bool setupAtTop_ = false;
    std::map<std::string, std::string> seen_;  // key of a name as Windows finds it -> name
    bool utf8_ = false;                        // the current item's name is flagged as UTF-8
};

}  // namespace

CheckReport checkPayload(const ReadAt& readAt, uint64_t size, uint32_t codePage) {
    CheckReport report;
    CheckPlatform platform(readAt, size, codePage);
    ArchiveHandle archive = OpenArchive(kArchivePath);
    ArchiveItem item;
    if (archive == nullptr || GetArchiveItem(archive, -1, item) != AR_OK) {
        CloseArchive(archive);
        report.problems.emplace_back(
            "the archive cannot be read by the launcher's reader (write it again with a ZIP "
            "tool, or pack with --folder)");
        return report;
    }
    report.items = item.index;
    ItemWalk walk(archive, codePage, report);
    for (int32_t index = 0; index < report.items; ++index) {
        walk.check(index);
    }
    CloseArchive(archive);
    walk.plan(report.items);
    return report;
}

}  // namespace fw::pack
