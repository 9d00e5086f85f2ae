#include "pack/Packer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

#include "archive/ZipLayout.h"
#include "pack/CodePageText.h"
#include "pack/PackCheck.h"
#include "pack/PackFolder.h"
#include "pe/PePayload.h"
#include "pe/ResourceEdits.h"
#include "platform/LittleEndian.h"

namespace fw::pack {

namespace {

using zip::kZip64LocatorSize;
constexpr std::size_t kEndRecordSize = zip::kEndSize;

}  // namespace

const char* const kUsage =
    "usage: ferrowick-pack (--payload ARCHIVE.zip | --folder DIR) --output LAUNCHER\n"
    "                      [--stub STUB] [--prefix FILE] [--code-page N] [--force]\n"
    "                      [--icon FILE.ico] [--version KEY=VALUE]...\n"
    "                      [(--sign-cert FILE --sign-key FILE | --sign-pkcs12 FILE)\n"
    "                       [--sign-password-file FILE | --sign-password-env NAME]\n"
    "                       [--sign-timestamp URL]]\n"
    "       ferrowick-pack --check (--payload ARCHIVE.zip | --folder DIR | --launcher FILE)\n"
    "                      [--stub STUB] [--code-page N]\n";

const char* const kHelp =
    "Makes a launcher that carries an installer set: a copy of STUB (by default the\n"
    "launcher beside this program) whose payload resource is a 54-byte prefix (FILE, by\n"
    "default a bitmap header) followed by a ZIP archive. A payload the stub carries\n"
    "already is replaced. Nothing is written unless the whole launcher could be made.\n"
    "\n"
    "  --payload ARCHIVE.zip  carry this archive byte for byte (it must end with its end\n"
    "                         record)\n"
    "  --folder DIR           carry an archive made of DIR in memory: DIR is the top\n"
    "                         folder, whose SETUP.exe the launcher runs; names in the\n"
    "                         code page, files deflated, read-only and hidden attributes\n"
    "                         and times kept\n"
    "  --code-page N          the ANSI code page of the machines the launcher will run\n"
    "                         on (1252, 936, 932, 949, 950, 874, 1250 to 1258); by\n"
    "                         default the one the launcher takes here from the locale\n"
    "  --stub STUB            the launcher to pack into: a Windows launcher (PE), whose\n"
    "                         payload resource is replaced, or a Linux launcher (ELF);\n"
    "                         with --check, the one whose size limit applies\n"
    "  --check                print what the launcher will do with the payload and every\n"
    "                         problem it would meet, one line each; write nothing\n"
    "  --launcher FILE        with --check: the payload that launcher FILE carries, read\n"
    "                         where its system loads it, and the state of its signature\n"
    "  --force                pack a payload even when the check finds problems\n"
    "  --icon FILE.ico        a Windows launcher's icon: every image of FILE.ico replaces\n"
    "                         the launcher's icon group\n"
    "  --version KEY=VALUE    a string of a Windows launcher's version information, given\n"
    "                         once for each: ProductName, CompanyName, FileDescription,\n"
    "                         FileVersion, ProductVersion, LegalCopyright,\n"
    "                         OriginalFilename; FileVersion and ProductVersion (as\n"
    "                         2.1.0.7) set the version numbers too\n"
    "  --sign-cert FILE --sign-key FILE, or --sign-pkcs12 FILE\n"
    "                         sign the Windows launcher with SHA-256 (osslsigncode) and\n"
    "                         verify the result\n"
    "  --sign-password-file FILE, --sign-password-env NAME\n"
    "                         the password of the key or PKCS#12 file, from a file or an\n"
    "                         environment variable (never from the command line)\n"
    "  --sign-timestamp URL   have the signature time-stamped by this RFC 3161 server\n"
    "  --help, --version\n"
    "\n"
    "Before packing, the payload is read through with the launcher's own reader and\n"
    "rules, and refused when an item could not be unpacked or nothing launched. A\n"
    "signature the stub carried is dropped (it would no longer match).\n"
    "Exit status: 0 made (with --check: no problem), 1 refused (problems found),\n"
    "2 bad options.\n";

bool parseOptions(int argc, char** argv, const std::string& defaultStub, Options& options) {
    auto bad = [](const std::string& what) {
        std::fprintf(stderr, "ferrowick-pack: %s (see ferrowick-pack --help)\n", what.c_str());
        return false;
    };
    std::string codePage;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--check" || arg == "--force") {
            (arg == "--check" ? options.check : options.force) = true;
            continue;
        }
        std::string* target = nullptr;
        if (arg == "--payload") {
            target = &options.payload;
        } else if (arg == "--folder") {
            target = &options.folder;
        } else if (arg == "--launcher") {
            target = &options.launcher;
        } else if (arg == "--output") {
            target = &options.output;
        } else if (arg == "--stub") {
            target = &options.stub;
        } else if (arg == "--prefix") {
            target = &options.prefix;
        } else if (arg == "--icon") {
            target = &options.icon;
        } else if (arg == "--version") {
            target = &options.version.emplace_back();
        } else if (arg == "--code-page") {
            target = &codePage;
        } else if (arg == "--sign-cert") {
            target = &options.signing.certificate;
        } else if (arg == "--sign-key") {
            target = &options.signing.key;
        } else if (arg == "--sign-pkcs12") {
            target = &options.signing.pkcs12;
        } else if (arg == "--sign-password-file") {
            target = &options.signing.passwordFile;
        } else if (arg == "--sign-password-env") {
            target = &options.signing.passwordEnvironment;
        } else if (arg == "--sign-timestamp") {
            target = &options.signing.timestampUrl;
        }
        if (arg == "--sign-password" || arg == "--password") {
            return bad(
                "a password is never taken from the command line: give "
                "--sign-password-file or --sign-password-env");
        }
        if (target == nullptr) {
            return bad("unknown option " + std::string(arg));
        }
        if (i + 1 >= argc || argv[i + 1][0] == '\0') {
            return bad("missing value after " + std::string(arg));
        }
        *target = argv[++i];
    }
    if (!codePage.empty()) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(codePage.c_str(), &end, 10);
        if (*end != '\0' || !knownCodePage(static_cast<uint32_t>(value))) {
            return bad("code page " + codePage + " is not one a launcher runs under");
        }
        options.codePage = static_cast<uint32_t>(value);
    }
    const int sources =
        !options.payload.empty() + !options.folder.empty() + !options.launcher.empty();
    if (sources != 1) {
        return bad(options.check ? "give one of --payload, --folder and --launcher"
                                 : "give one of --payload and --folder");
    }
    const SigningRequest& sign = options.signing;
    const bool password = !sign.passwordFile.empty() || !sign.passwordEnvironment.empty();
    if (options.check) {
        if (!options.output.empty() || !options.prefix.empty() || !options.icon.empty() ||
            !options.version.empty() || sign.wanted() || !sign.key.empty() || password ||
            !sign.timestampUrl.empty()) {
            return bad(
                "--check writes nothing: leave out --output, --prefix, --icon, --version and "
                "signing");
        }
        if (!options.stub.empty() && !options.launcher.empty()) {
            return bad("--check --launcher reads the launcher itself: leave out --stub");
        }
        return true;
    }
    if (!sign.pkcs12.empty() && (!sign.certificate.empty() || !sign.key.empty())) {
        return bad("give --sign-pkcs12, or --sign-cert with --sign-key, not both");
    }
    if (sign.certificate.empty() != sign.key.empty() && sign.pkcs12.empty()) {
        return bad("--sign-cert and --sign-key go together");
    }
    if (!sign.passwordFile.empty() && !sign.passwordEnvironment.empty()) {
        return bad("give the password one way: --sign-password-file or --sign-password-env");
    }
    if ((password || !sign.timestampUrl.empty()) && !sign.wanted()) {
        return bad(
            "a password or time-stamp server is for signing: give --sign-cert and "
            "--sign-key, or --sign-pkcs12");
    }
    if (!options.launcher.empty()) {
        return bad("--launcher names a launcher to check: give --check with it");
    }
    if (options.output.empty()) {
        return bad("--output is required: name the launcher to write");
    }
    if (options.stub.empty()) {
        options.stub = defaultStub;
    }
    return true;
}

std::string defaultPrefix() {
    std::string p = "BM";
    appendLittle(p, 838, 4);  // file size
    appendLittle(p, 0, 2);
    appendLittle(p, 0, 2);
    appendLittle(p, 118, 4);  // offset of the pixel data
    appendLittle(p, 40, 4);   // information header size
    appendLittle(p, 96, 4);   // width
    appendLittle(p, 15, 4);   // height
    appendLittle(p, 1, 2);    // planes
    appendLittle(p, 4, 2);    // bits per pixel
    appendLittle(p, 0, 4);    // no compression
    appendLittle(p, 720, 4);  // image size
    for (int i = 0; i < 4; ++i) {
        appendLittle(p, 0, 4);  // resolutions, colours used, important colours
    }
    return p;
}

void checkWindowsImage(uint64_t sizeOfImage, uint64_t largest, LauncherRead& read) {
    read.plan.push_back("image: " + std::to_string(sizeOfImage) + " bytes, at most " +
                        std::to_string(largest) + " (SizeOfImage)");
    if (sizeOfImage > largest) {
        read.problems.push_back("its image of " + std::to_string(sizeOfImage) +
                                " bytes is larger than the " + std::to_string(largest) +
                                " bytes Windows loads: it will not start (pack a smaller "
                                "payload)");
    }
    if (read.signature.kind == SignatureKind::broken) {
        read.problems.push_back("its signature is " + read.signature.text +
                                ": Windows takes it for a changed program (sign it again)");
    }
}

std::string windowsStubLimit(const ReadAt& read, uint64_t size, StubLimit& limit) {
    limit.format = "Windows launcher (PE)";
    pe::ResourcePlace place;
    if (std::string problem = pe::resourcePlace(read, size, place); !problem.empty()) {
        return problem;
    }
    limit.sizeOfImage = place.sizeOfImage;
    limit.resourceAddress = place.address;
    limit.imageAfterResources = place.imageAfter;
    return pe::largestPayload(read, size, kPrefixSize, limit.largestPayload, limit.imageLimit);
}

std::string zipProblem(const ReadAt& readAt, uint64_t size) {
    if (size < kEndRecordSize) {
        return "it is too short to be a ZIP archive";
    }
    std::array<unsigned char, kEndRecordSize> end{};
    if (!readAt(end.data(), end.size(), size - kEndRecordSize)) {
        return "it cannot be read";
    }
    const zip::EndOfDirectory record = zip::decodeEndOfDirectory(end.data());
    if (record.signature != zip::kEndSignature) {
        std::string problem = "it has no end-of-central-directory record at its end";
        return problem + " (not a ZIP archive, or one with an archive comment)";
    }
    if (record.commentLength != 0) {
        return "it has an archive comment; the archive must end with its end record";
    }
    if (record.disk != 0 || record.directoryDisk != 0 || record.diskEntries != record.entries) {
        return "it is a multi-part archive";
    }
    const uint64_t entries = record.entries;
    const uint64_t cdSize = record.directorySize;
    const uint64_t cdOffset = record.directoryOffset;
    if (entries == zip::kZip64CountMarker || cdSize == zip::kZip64Marker ||
        cdOffset == zip::kZip64Marker) {
        std::array<unsigned char, kZip64LocatorSize> locator{};
        if (size < kEndRecordSize + kZip64LocatorSize ||
            !readAt(locator.data(), locator.size(), size - kEndRecordSize - kZip64LocatorSize) ||
            zip::readLittle(locator.data(), 4) != zip::kZip64LocatorSignature) {
            return "its end record announces a ZIP64 record that is not there";
        }
        return {};
    }
    if (cdOffset + cdSize > size - kEndRecordSize) {
        return "its central directory lies outside the file";
    }
    if (entries > 0) {
        unsigned char sig[4];
        if (!readAt(sig, 4, cdOffset) || zip::readLittle(sig, 4) != zip::kCentralHeaderSignature) {
            return "its central directory is not where its end record says";
        }
        if (!readAt(sig, 4, 0) || zip::readLittle(sig, 4) != zip::kLocalHeaderSignature) {
            return "it does not begin with a local header";
        }
    }
    return {};
}

namespace {

// Reads the first `limit` bytes of the file `what` names at `path`, and one more, which
// tells a longer file from one of that size. Why it cannot be read, or empty.
std::string readLeading(const std::string& what, const std::string& path, std::size_t limit,
                        std::string& bytes) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        return what + " " + path + " is a folder";
    }
    std::ifstream in(path, std::ios::binary);
    bytes.assign(limit + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!in && !in.eof()) {
        return "cannot read " + what + " " + path;
    }
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return {};
}

}  // namespace

std::string loadPrefix(const std::string& path, std::string& prefix) {
    if (path.empty()) {
        prefix = defaultPrefix();
        return {};
    }
    std::string bytes;
    if (std::string problem = readLeading("the prefix file", path, kPrefixSize, bytes);
        !problem.empty()) {
        return problem;
    }
    if (bytes.size() != kPrefixSize) {
        return "the prefix file " + path + " has " +
               (bytes.size() > kPrefixSize ? std::string("more than 54")
                                           : std::to_string(bytes.size())) +
               " bytes; it must have exactly 54";
    }
    prefix = bytes;
    return {};
}

const char* const kVersionKeys[7] = {"ProductName",     "CompanyName",    "FileDescription",
                                     "FileVersion",     "ProductVersion", "LegalCopyright",
                                     "OriginalFilename"};

namespace {

// An icon file is small; a larger file is not read whole.
constexpr std::size_t kLargestIconFile = 16 << 20;

std::string loadIcon(const std::string& path, std::vector<pe::IconImage>& images) {
    std::string bytes;
    if (std::string problem = readLeading("the icon", path, kLargestIconFile, bytes);
        !problem.empty()) {
        return problem;
    }
    if (bytes.size() > kLargestIconFile) {
        return "the icon " + path + " is refused: it is over 16 MB";
    }
    if (std::string problem = pe::readIconFile(bytes, images); !problem.empty()) {
        return "the icon " + path + " is refused: " + problem;
    }
    return {};
}

std::string versionSetting(const std::string& given,
                           const std::function<std::string(const std::string&)>& text,
                           pe::VersionSetting& setting) {
    const std::size_t equals = given.find('=');
    const std::string key = given.substr(0, equals);
    if (std::find(std::begin(kVersionKeys), std::end(kVersionKeys), key) ==
        std::end(kVersionKeys)) {
        std::string keys;
        for (const char* known : kVersionKeys) {
            keys += (keys.empty() ? "" : ", ") + std::string(known);
        }
        return "unknown version key \"" + key + "\" in --version " + given + " (give one of " +
               keys + ")";
    }
    if (equals == std::string::npos) {
        return "--version " + given + " has no value (give " + key + "=VALUE)";
    }
    setting = {key, text ? text(given.substr(equals + 1)) : given.substr(equals + 1)};
    return pe::versionSettingProblem(setting);
}

}  // namespace

std::string loadEdits(const Options& options,
                      const std::function<std::string(const std::string&)>& text,
                      pe::ResourceEdits& edits) {
    if (!options.icon.empty()) {
        if (std::string problem = loadIcon(options.icon, edits.icon); !problem.empty()) {
            return problem;
        }
    }
    for (const std::string& given : options.version) {
        pe::VersionSetting setting;
        if (std::string problem = versionSetting(given, text, setting); !problem.empty()) {
            return problem;
        }
        edits.version.push_back(std::move(setting));
    }
    return {};
}

namespace {

ReadAt readerOf(std::shared_ptr<std::string> held) {
    return [held = std::move(held)](void* buffer, std::size_t size, uint64_t offset) {
        if (offset > held->size() || size > held->size() - offset) {
            return false;
        }
        held->copy(static_cast<char*>(buffer), size, static_cast<std::size_t>(offset));
        return true;
    };
}

}  // namespace

Payload payloadOf(std::string bytes) {
    auto held = std::make_shared<std::string>(std::move(bytes));
    Payload payload;
    payload.size = held->size();
    payload.readAt = readerOf(held);
    return payload;
}

Scratch memoryScratch() {
    auto held = std::make_shared<std::string>();
    Scratch scratch;
    scratch.writeAt = [held](const void* data, std::size_t size, uint64_t offset) {
        const auto at = static_cast<std::size_t>(offset);
        if (held->size() < at + size) {
            held->resize(at + size);
        }
        std::memcpy(held->data() + at, data, size);
        return true;
    };
    scratch.readAt = readerOf(held);
    return scratch;
}

int runPacker(int argc, char** argv, const Backend& backend) {
    Options options;
    if (!parseOptions(argc, argv, backend.defaultStub, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const uint32_t codePage = options.codePage ? options.codePage : backend.defaultCodePage;
    // "what is wrong (what to do)"; a hint is added where the problem has none.
    auto refuse = [&](const std::string& problem, const char* hint = nullptr) {
        std::fprintf(stderr, "ferrowick-pack: %s%s%s%s%s\n",
                     options.check ? "" : "nothing written: ", problem.c_str(), hint ? " (" : "",
                     hint ? hint : "", hint ? ")" : "");
        return 1;
    };

    // A wrong prefix is told before the payload is made and read through.
    std::string prefix;
    if (std::string problem = options.check ? "" : loadPrefix(options.prefix, prefix);
        !problem.empty()) {
        return refuse(problem, "give --prefix a file of exactly 54 bytes, or leave it out");
    }
    pe::ResourceEdits edits;
    if (std::string problem = loadEdits(options, backend.argumentText, edits); !problem.empty()) {
        return refuse(problem);
    }

    Payload payload;
    LauncherRead launcher;
    if (!options.folder.empty()) {
        Scratch scratch = memoryScratch();
        if (backend.scratch) {
            if (std::string problem = backend.scratch(options, scratch); !problem.empty()) {
                return refuse(problem, "name an --output in a folder you may write in");
            }
        }
        if (std::string problem =
                packFolder(options.folder, codePage, scratch.writeAt, payload.size);
            !problem.empty()) {
            return refuse(problem);
        }
        payload.readAt = scratch.readAt;
    } else if (!options.launcher.empty()) {
        if (std::string problem = backend.openLauncher(options.launcher, launcher);
            !problem.empty()) {
            return refuse("cannot read the payload of " + options.launcher + ": " + problem,
                          "name a launcher this packer made");
        }
        payload = launcher.payload;
    } else {
        if (std::string problem = backend.openArchive(options.payload, payload); !problem.empty()) {
            return refuse("cannot read the payload " + options.payload + ": " + problem,
                          "name a ZIP archive you may read");
        }
        if (std::string problem = zipProblem(payload.readAt, payload.size); !problem.empty()) {
            return refuse("the payload " + options.payload + " is refused: " + problem,
                          "write the archive again with a ZIP tool, or pack with --folder");
        }
    }

    CheckReport report = checkPayload(payload.readAt, payload.size, codePage);
    // What the launcher's system allows: a Windows image has a size limit.
    std::vector<std::string> plan;
    if (!options.stub.empty() && backend.stubLimit) {
        StubLimit limit;
        // Packing tells what is wrong with a stub when it writes.
        if (std::string problem = backend.stubLimit(options.stub, limit);
            !problem.empty() && options.check) {
            return refuse("the stub " + options.stub + " is not a launcher: " + problem,
                          "give --stub a launcher of this build");
        }
        if (options.check) {
            plan.push_back("stub: " + limit.format +
                           (limit.largestPayload != 0
                                ? ", payload of at most " + std::to_string(limit.largestPayload) +
                                      " bytes (image of at most " +
                                      std::to_string(limit.imageLimit) + ")"
                                : std::string()));
        }
        if (options.check && limit.largestPayload != 0) {
            char address[16];
            std::snprintf(address, sizeof address, "0x%X", limit.resourceAddress);
            plan.push_back("stub image: " + std::to_string(limit.sizeOfImage) +
                           " bytes, its resources at RVA " + address + " followed by " +
                           std::to_string(limit.imageAfterResources) + " bytes");
        }
        if (limit.largestPayload != 0 && payload.size > limit.largestPayload) {
            const std::string problem =
                "the payload of " + std::to_string(payload.size) +
                " bytes would make the launcher's image larger than the " +
                std::to_string(limit.imageLimit) +
                " bytes Windows loads; with this stub it may have at most " +
                std::to_string(limit.largestPayload) + " bytes (split the set)";
            if (!options.check) {
                return refuse(problem);
            }
            report.problems.push_back(problem);
        }
    }
    if (!options.launcher.empty()) {
        plan.push_back("launcher: " + launcher.format);
        plan.push_back("payload: " + launcher.source);
        plan.push_back("signature: " + launcher.signature.text);
        plan.insert(plan.end(), launcher.plan.begin(), launcher.plan.end());
        report.problems.insert(report.problems.begin(), launcher.problems.begin(),
                               launcher.problems.end());
    }
    if (options.check) {
        for (const std::string& line : plan) {
            std::printf("%s\n", line.c_str());
        }
        for (const std::string& line : report.plan) {
            std::printf("%s\n", line.c_str());
        }
        std::printf("problems: %s\n",
                    report.clean() ? "none" : std::to_string(report.problems.size()).c_str());
        for (const std::string& line : report.problems) {
            std::printf("problem: %s\n", line.c_str());
        }
        return report.clean() ? 0 : 1;
    }
    if (!report.clean() && !options.force) {
        for (const std::string& line : report.problems) {
            std::fprintf(stderr, "ferrowick-pack: problem: %s\n", line.c_str());
        }
        const std::size_t count = report.problems.size();
        return refuse("the launcher would not unpack this payload whole and launch it (fix " +
                      (count == 1 ? std::string("the problem")
                                  : "the " + std::to_string(count) + " problems") +
                      " above, or pack it anyway with --force)");
    }
    Made made;
    const std::string problem = backend.writeLauncher(options, prefix, payload, edits, made);
    for (const std::string& note : made.notes) {
        std::fprintf(stderr, "ferrowick-pack: %s\n", note.c_str());
    }
    if (!problem.empty()) {
        const bool stub = problem.find("the stub") != std::string::npos;
        const bool signing = problem.find("sign") != std::string::npos;
        return refuse(problem, stub      ? "give --stub a launcher of this build"
                               : signing ? nullptr
                                         : "name an --output in a folder you may write in");
    }
    std::printf("wrote %s: %s carrying %d item%s in a payload of %llu bytes; signature: %s\n",
                options.output.c_str(), made.format.c_str(), report.items,
                report.items == 1 ? "" : "s", static_cast<unsigned long long>(payload.size),
                made.signature.text.c_str());
    return 0;
}

}  // namespace fw::pack
