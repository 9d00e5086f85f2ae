// ferrowick-make-sample ARCHIVE.zip: writes the sample installer set.
#include <cstdio>
#include <string>

#include "tools/SampleInstallerSet.h"
#include "tools/ZipWriter.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: ferrowick-make-sample ARCHIVE.zip\n", stderr);
        return 2;
    }
    std::string error;
    if (!fw::zipwrite::writeArchive(argv[1], fw::sample::sampleEntries(), &error)) {
        std::fprintf(stderr, "ferrowick-make-sample: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
