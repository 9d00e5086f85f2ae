// What the packer does the same on every system: its options, the ZIP check and the
// 54-byte prefix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pack/CodeSigning.h"
#include "pe/ResourceEdits.h"
#include "res/resource.h"

namespace fw::pack {

inline constexpr std::size_t kPrefixSize = FERROWICK_PAYLOAD_PREFIX_SIZE;

// The usage lines, and what --help adds to them.
extern const char* const kUsage;
extern const char* const kHelp;

struct Options {
    std::string payload;   // a ZIP archive
    std::string folder;    // a folder to make the archive of
    std::string launcher;  // a launcher whose payload is checked
    std::string output;
    std::string stub;
    std::string prefix;
    std::string icon;                  // an icon file for a Windows launcher
    std::vector<std::string> version;  // "KEY=VALUE", for a Windows launcher
    uint32_t codePage = 0;             // 0: the one the launcher would take here
    bool check = false;
    bool force = false;
    SigningRequest signing;
};

// Reads `size` bytes at `offset` in full; false otherwise.
using ReadAt = std::function<bool(void* buffer, std::size_t size, uint64_t offset)>;

// The ZIP archive to carry, wherever its bytes are.
struct Payload {
    uint64_t size = 0;
    ReadAt readAt;
};

// Where an archive is made and read back. Nothing of it outlives the packer.
struct Scratch {
    std::function<bool(const void* data, std::size_t size, uint64_t offset)> writeAt;
    ReadAt readAt;
};

// A scratch in memory.
Scratch memoryScratch();

// A launcher's payload, read where its platform loads it, and what else is known of it.
struct LauncherRead {
    Payload payload;
    std::string format;  // "Windows (PE)", "Linux (ELF)"
    std::string source;  // where the payload lies in it
    Signature signature;
    std::vector<std::string> plan;      // further lines of the check
    std::vector<std::string> problems;  // what stops it beyond its payload
};

// Adds what a Windows launcher's check says of its image, `sizeOfImage` bytes against the
// `largest` that Windows loads, and of a broken signature (read.signature set before).
void checkWindowsImage(uint64_t sizeOfImage, uint64_t largest, LauncherRead& read);

// What writing a launcher made.
struct Made {
    std::string format;  // "Windows launcher (PE)", ...
    Signature signature;
    std::vector<std::string> notes;  // told on standard error
};

// What a stub allows: for a Windows stub, the largest archive its launcher may carry, and
// the figures of its image that it follows from.
struct StubLimit {
    std::string format;
    uint64_t largestPayload = 0;  // 0: no limit
    uint64_t imageLimit = 0;
    uint64_t sizeOfImage = 0;
    uint32_t resourceAddress = 0;  // RVA of the resource section
    uint64_t imageAfterResources = 0;
};

// What a Windows stub allows, read through `read`; why it is no stub, or empty.
std::string windowsStubLimit(const ReadAt& read, uint64_t size, StubLimit& limit);

// What each system does its own way.
struct Backend {
    // A scratch for the archive made of a folder; why none, or empty. Unset: memory.
    std::function<std::string(const Options&, Scratch&)> scratch;
    std::string defaultStub;
    uint32_t defaultCodePage = 1252;
    // Opens a ZIP archive file; gives why it cannot, or empty.
    std::function<std::string(const std::string& path, Payload&)> openArchive;
    // The archive that a launcher carries, after its prefix; why not, or empty.
    std::function<std::string(const std::string& path, LauncherRead&)> openLauncher;
    // What the stub allows; why it is no stub, or empty.
    std::function<std::string(const std::string& stub, StubLimit&)> stubLimit;
    // Writes the launcher: the stub with `prefix` and the archive as its payload, and a
    // Windows launcher's icon and version changed as `edits` says.
    std::function<std::string(const Options&, const std::string& prefix, const Payload&,
                              const pe::ResourceEdits& edits, Made&)>
        writeLauncher;
    // The text of a command-line argument as UTF-8. Unset: it is UTF-8 already.
    std::function<std::string(const std::string&)> argumentText;
};

// Parses the command line, reporting a bad one on standard error; an empty stub is
// replaced by `defaultStub`.
bool parseOptions(int argc, char** argv, const std::string& defaultStub, Options& options);

// The BMP file header and information header that the shipped payload begins with.
std::string defaultPrefix();

// Why the file is no complete ZIP archive whose end record closes it; empty if it is one.
std::string zipProblem(const ReadAt& readAt, uint64_t size);

// The prefix to put ahead of the archive: the default, or the given file's bytes, which
// must be exactly 54. Gives the reason on failure.
std::string loadPrefix(const std::string& path, std::string& prefix);

// The version keys --version sets.
extern const char* const kVersionKeys[7];

// The icon and version strings that the options ask for; why they cannot be had, or
// empty. `text` gives an argument's text as UTF-8.
std::string loadEdits(const Options& options,
                      const std::function<std::string(const std::string&)>& text,
                      pe::ResourceEdits& edits);

// A payload held in memory.
Payload payloadOf(std::string bytes);

// The packer's main: parses the options, makes or opens the payload, checks it as the
// launcher will read it, and prints the check or writes the launcher. Exit status: 0 made
// (or checked clean), 1 refused (or problems found), 2 usage.
int runPacker(int argc, char** argv, const Backend& backend);

}  // namespace fw::pack
