// ferrowick-make-sample ARCHIVE.zip [--setup-exe FILE]: writes the sample installer set;
// FILE, when given, is carried as its set-up program instead of the sample script.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "pack/SampleInstallerSet.h"
#include "pack/ZipWriter.h"
#include "tools/ToolInfo.h"

namespace {

const char* const kUsage = "usage: ferrowick-make-sample ARCHIVE.zip [--setup-exe FILE]\n";
const char* const kHelp =
    "Writes the sample installer set, the payload the built launcher carries, to\n"
    "ARCHIVE.zip: a top folder disk1 with its SETUP.EXE (a shell script that notes its\n"
    "run), names in code page 936, read-only items and time stamps. With --setup-exe,\n"
    "FILE is carried as the set-up program instead of the script.\n"
    "Exit status: 0 written, 1 cannot read or write, 2 bad arguments.\n";

}  // namespace

int main(int argc, char** argv) {
    if (fw::tool::answered(argc, argv, "ferrowick-make-sample", kUsage, kHelp)) {
        return 0;
    }
    const bool withSetup = argc == 4 && std::string_view(argv[2]) == "--setup-exe";
    if (argc != 2 && !withSetup) {
        std::fputs(
            "ferrowick-make-sample: give the archive to write (see ferrowick-make-sample "
            "--help)\n",
            stderr);
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::optional<std::string> setupProgram;
    if (withSetup) {
        std::ifstream in(argv[3], std::ios::binary);
        if (!in.is_open()) {
            std::fprintf(stderr,
                         "ferrowick-make-sample: cannot open %s (name a file you may read)\n",
                         argv[3]);
            return 1;
        }
        setupProgram.emplace(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) {
            std::fprintf(stderr,
                         "ferrowick-make-sample: cannot read %s (name a file you may read)\n",
                         argv[3]);
            return 1;
        }
    }
    std::string error;
    const std::string* setup = setupProgram ? &*setupProgram : nullptr;
    if (!fw::zipwrite::writeArchive(argv[1], fw::sample::sampleEntries(setup), &error)) {
        std::fprintf(stderr, "ferrowick-make-sample: %s (name a folder you may write in)\n",
                     error.c_str());
        return 1;
    }
    return 0;
}
