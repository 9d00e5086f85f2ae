// ferrowick-make-sample ARCHIVE.zip [--setup-exe FILE]: writes the sample installer set;
// FILE, when given, is carried as its set-up program instead of the sample script.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "tools/SampleInstallerSet.h"
#include "tools/ZipWriter.h"

int main(int argc, char** argv) {
    const bool withSetup = argc == 4 && std::string_view(argv[2]) == "--setup-exe";
    if (argc != 2 && !withSetup) {
        std::fputs("usage: ferrowick-make-sample ARCHIVE.zip [--setup-exe FILE]\n", stderr);
        return 2;
    }
    std::optional<std::string> setupProgram;
    if (withSetup) {
        std::ifstream in(argv[3], std::ios::binary);
        if (!in.is_open()) {
            std::fprintf(stderr, "ferrowick-make-sample: cannot open %s\n", argv[3]);
            return 1;
        }
        setupProgram.emplace(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) {
            std::fprintf(stderr, "ferrowick-make-sample: cannot read %s\n", argv[3]);
            return 1;
        }
    }
    std::string error;
    const std::string* setup = setupProgram ? &*setupProgram : nullptr;
    if (!fw::zipwrite::writeArchive(argv[1], fw::sample::sampleEntries(setup), &error)) {
        std::fprintf(stderr, "ferrowick-make-sample: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
