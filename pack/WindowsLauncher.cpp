#include "pack/WindowsLauncher.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "pe/ResourceEdits.h"
#include "pe/ResourceTree.h"
#include "platform/LittleEndian.h"
#include "platform/posix/ResourceTable.h"
#include "res/resource.h"

namespace fw::pack {

namespace {

constexpr std::size_t kChunk = 1 << 20;

using posix::kTableMagic;
using posix::kTrailerSize;

// The fields of the trailer of a Linux launcher's payload table.
namespace trailer {
constexpr std::size_t imageSize = 8;
constexpr std::size_t tableSize = 20;
constexpr std::size_t tableOffset = 24;
}  // namespace trailer

std::string numbers(const std::array<uint16_t, 4>& n) {
    return std::to_string(n[0]) + "." + std::to_string(n[1]) + "." + std::to_string(n[2]) + "." +
           std::to_string(n[3]);
}

// The check's lines of a launcher's icon and version.
void describeLooks(const pe::Looks& looks, std::vector<std::string>& plan) {
    std::string icon;
    for (const pe::IconImage& image : looks.icon) {
        icon += (icon.empty() ? "" : ", ") + pe::describeIcon(image);
    }
    plan.push_back("icon: " + (icon.empty() ? std::string("none") : icon));
    if (!looks.hasVersion) {
        plan.emplace_back("version: none");
        return;
    }
    const auto file = pe::fixedVersion(looks.version, pe::FixedVersion::file);
    const auto product = pe::fixedVersion(looks.version, pe::FixedVersion::product);
    plan.push_back("version: file " + numbers(*file) + ", product " + numbers(*product));
    for (const auto& [key, value] : pe::versionStrings(looks.version)) {
        plan.push_back("version string: " + pe::utf8FromUtf16(key) + " \"" +
                       pe::utf8FromUtf16(value) + "\"");
    }
}

}  // namespace

bool holdsLauncherMarker(const ReadAt& read, uint64_t size) {
    // Joined here, so that a packer never holds the marker in one piece.
    const std::string marker =
        std::string(FERROWICK_LAUNCHER_MARKER_HEAD) + FERROWICK_LAUNCHER_MARKER_TAIL;
    std::string window;
    std::vector<char> buffer(kChunk);
    for (uint64_t offset = 0; offset < size;) {
        const auto chunk = static_cast<std::size_t>(std::min<uint64_t>(size - offset, kChunk));
        if (!read(buffer.data(), chunk, offset)) {
            return false;
        }
        offset += chunk;
        // Keep the tail of the previous chunk, so that a marker across chunks is seen.
        window.erase(0, window.size() > marker.size() ? window.size() - marker.size() : 0);
        window.append(buffer.data(), chunk);
        if (window.find(marker) != std::string::npos) {
            return true;
        }
    }
    return false;
}

uint64_t withoutAppendedTable(const ReadAt& read, uint64_t size) {
    char tail[kTrailerSize];
    if (size < kTrailerSize || !read(tail, sizeof tail, size - kTrailerSize) ||
        std::string_view(tail, kTableMagic.size()) != kTableMagic) {
        return size;
    }
    const uint64_t imageSize = readLittle(tail + trailer::imageSize, 8);
    const uint64_t tableOffset = readLittle(tail + trailer::tableOffset, 8);
    const uint64_t tableSize = readLittle(tail + trailer::tableSize, 4);
    const bool sound = tableOffset <= size - kTrailerSize &&
                       size - kTrailerSize - tableOffset == tableSize && imageSize <= tableOffset;
    return sound ? imageSize : size;
}

std::string writeWindowsLauncher(const Options& options, const ReadAt& stub, uint64_t stubSize,
                                 const std::string& prefix, const Payload& payload,
                                 const pe::ResourceEdits& edits, const pe::Output& out,
                                 Made& made) {
    made.format = "a Windows launcher (PE)";
    if (!pe::isPe(stub, stubSize)) {
        return "the stub " + options.stub +
               " is not a launcher: it is not a Windows executable (no MZ and PE signatures)";
    }
    stubSize = withoutAppendedTable(stub, stubSize);
    // The launcher's code and data come before its resources, and so does its marker.
    pe::PayloadPlace place;
    const bool carries = pe::findPayload(stub, stubSize, place).empty();
    if (!holdsLauncherMarker(stub, carries ? place.fileOffset : stubSize)) {
        return "the stub " + options.stub + " is not a launcher: it holds no launcher marker";
    }
    pe::NewPayload resource;
    resource.prefix = prefix;
    resource.read = payload.readAt;
    resource.size = payload.size;
    pe::Written written;
    std::string problem = pe::writeWithPayload(stub, stubSize, resource, edits, out, written);
    if (problem == "cannot write" || problem.rfind("the payload", 0) == 0) {
        return problem;
    }
    if (!problem.empty()) {
        return "the stub " + options.stub + " cannot carry a payload: " + problem;
    }
    if (written.certificateDropped) {
        made.notes.push_back("the stub " + options.stub +
                             " was signed; its signature is dropped, as it could "
                             "not match the new payload" +
                             (options.signing.wanted()
                                  ? std::string(" (the launcher is signed anew)")
                                  : ": sign " + options.output +
                                        " again (--sign-cert and --sign-key, or "
                                        "--sign-pkcs12)"));
    }
    return {};
}

std::string readWindowsLauncher(const ReadAt& read, uint64_t size, LauncherRead& launcher,
                                PayloadSpan& archive) {
    pe::PayloadPlace place;
    if (std::string problem = pe::findPayload(read, size, place); !problem.empty()) {
        return problem;
    }
    if (place.size < kPrefixSize) {
        return "its payload is shorter than its prefix";
    }
    pe::Image image;
    pe::ResourceDirectory root;
    pe::readImageResources(read, size, image, root);
    launcher.format = "Windows (PE)";
    launcher.source = "PE resource " FERROWICK_PAYLOAD_TYPE "/" FERROWICK_PAYLOAD_NAME;
    if (place.language != pe::kPayloadLanguage) {
        launcher.source += " (language " + std::to_string(place.language) + ")";
    }
    checkWindowsImage(image.sizeOfImage, pe::largestImageSize(image), launcher);
    pe::Looks looks;
    if (std::string problem = pe::readLooks(read, root, looks); !problem.empty()) {
        launcher.problems.push_back(problem);
    }
    describeLooks(looks, launcher.plan);
    if (withoutAppendedTable(read, size) != size) {
        launcher.problems.emplace_back(
            "it also carries a payload table appended for a Linux launcher, which Windows "
            "never reads (pack it again with this packer)");
    }
    archive.offset = place.fileOffset + kPrefixSize;
    archive.size = place.size - kPrefixSize;
    return {};
}

}  // namespace fw::pack
