// Times the application layer's own work on the POSIX backend: writing a large payload
// to the staging archive (throughput, and the resident memory it adds: none beyond the
// payload, since it is written straight from the resource), the whole installation over
// an archive of many small items (once more over the tree it left, which is emptied
// first, and that emptying alone), and the resource folder copy of a wide tree.
// Usage: ferrowick-app-bench [payload megabytes, default 128]
#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/FerrowickApp.h"
#include "app/Folders.h"
#include "app/InstallPaths.h"
#include "app/PayloadStaging.h"
#include "app/StagingFolderCleaning.h"
#include "pack/ZipWriter.h"
#include "platform/Platform.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string payload;

fw::Resource findResource(const char*, const char*) {
    return {true, reinterpret_cast<const unsigned char*>(payload.data()), payload.size()};
}
void quietBox(const char*, const char*) {}
int noCommand(const char*) {
    return 0;
}
void noSleep(uint32_t) {}
void noProgress(const char*, const char*, const fw::Progress&) {}
void noOutput(const char*) {}

long peakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 128;
    std::string root = (fs::temp_directory_path() / "ferrowick-app-bench-XXXXXX").string();
    if (mkdtemp(root.data()) == nullptr) {
        return 1;
    }
    setenv("FERROWICK_PREFIX", root.c_str(), 1);
    fs::create_directories(fs::path(root) / "drive_c" / "Temp" / "_Download" / "_UnZip");

    fw::Platform table = fw::os();
    table.findResource = findResource;
    table.messageBox = quietBox;
    table.runCommand = noCommand;
    table.sleep = noSleep;
    table.progressBegin = noProgress;  // a terminal's progress line is not measured
    table.writeStandardOutput = noOutput;
    fw::setPlatform(&table);

    // Staging: one write of the whole archive part.
    payload.assign(kPayloadPrefixSize + megabytes * 1024 * 1024, 'p');
    const long before = peakKilobytes();
    auto start = Clock::now();
    const bool staged = StagePayload(kStagingArchive) == StagingResult::staged;
    const double stagingSeconds = secondsSince(start);
    std::printf("%-40s %8.3f s %10.1f MB/s  peak RSS +%ld kB%s\n", "stage payload", stagingSeconds,
                megabytes / stagingSeconds, peakKilobytes() - before, staged ? "" : "  (FAILED)");

    // The whole installation over 2000 small items.
    std::vector<fw::zipwrite::Entry> entries;
    for (int i = 0; i < 2000; ++i) {
        fw::zipwrite::Entry e;
        e.name = "disk1/d" + std::to_string(i % 40) + "/item" + std::to_string(i) + ".dat";
        e.data = std::string(4096, static_cast<char>('a' + i % 26));
        entries.push_back(e);
    }
    const std::string zip = root + "/items.zip";
    fw::zipwrite::writeArchive(zip, entries);
    std::ifstream in(zip, std::ios::binary);
    payload = std::string(kPayloadPrefixSize, 'B') +
              std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    start = Clock::now();
    {
        CFerrowickApp app;
        app.InitInstance();
    }
    std::printf("%-40s %8.3f s %10.1f items/s\n", "install 2000 items of 4 kB", secondsSince(start),
                2000 / secondsSince(start));
    // Again over that tree, which is emptied first; then the emptying alone.
    start = Clock::now();
    {
        CFerrowickApp app;
        app.InitInstance();
    }
    std::printf("%-40s %8.3f s %10.1f items/s\n", "install them again over the first run's",
                secondsSince(start), 2000 / secondsSince(start));
    start = Clock::now();
    const bool emptied = !EmptyFolder(kStagingFolder);
    std::printf("%-40s %8.3f s %10.1f items/s%s\n", "empty the staging folder of them",
                secondsSince(start), 2000 / secondsSince(start), emptied ? "" : "  (FAILED)");

    // The resource folder copy: 2000 files in 40 folders.
    const fs::path source = fs::path(root) / "drive_c" / "src";
    for (int i = 0; i < 2000; ++i) {
        fs::path folder = source / "f";
        folder += std::to_string(i % 40);
        fs::create_directories(folder);
        std::ofstream(folder / ("file" + std::to_string(i) + ".res")) << std::string(4096, 'r');
    }
    start = Clock::now();
    {
        CFerrowickApp app;
        CreateFolderIfMissing("C:\\dst");
        app.CopyResourceFolder("", "", "C:\\src", "C:\\dst");
    }
    std::printf("%-40s %8.3f s %10.1f files/s\n", "copy 2000 files of 4 kB", secondsSince(start),
                2000 / secondsSince(start));

    fw::setPlatform(nullptr);
    fs::remove_all(root);
    std::printf("peak RSS %ld kB\n", peakKilobytes());
    return staged ? 0 : 1;
}
