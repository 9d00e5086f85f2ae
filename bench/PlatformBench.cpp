// Times the POSIX backend's hot calls: path look-ups (exact, in another letter case,
// through code page conversion), folder listings and file copies.
// Usage: ferrowick-platform-bench   (works in a temporary prefix, removed afterwards)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Platform.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

template <typename Body>
void measure(const char* name, int repeats, double unitsPerRun, const char* unit, Body body) {
    body();  // warm caches and descriptors
    const auto start = Clock::now();
    for (int i = 0; i < repeats; ++i) {
        body();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%-44s %10.2f us/run %12.1f %s/s\n", name, seconds / repeats * 1e6,
                unitsPerRun * repeats / seconds, unit);
}

long peakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main() {
    std::string root = (fs::temp_directory_path() / "ferrowick-bench-XXXXXX").string();
    if (mkdtemp(root.data()) == nullptr) {
        return 1;
    }
    setenv("FERROWICK_PREFIX", root.c_str(), 1);
    setenv("LC_ALL", "zh_CN.UTF-8", 1);
    const fs::path big = fs::path(root) / "drive_c" / "Many";
    fs::create_directories(big);
    for (int i = 0; i < 10000; ++i) {
        std::ofstream(big / ("entry" + std::to_string(i) + ".dat"));
    }
    fs::create_directories(fs::path(root) / "drive_c" / "安装" / "Folder");
    {
        std::ofstream out(fs::path(root) / "drive_c" / "source.bin", std::ios::binary);
        const std::string chunk(1 << 20, 'x');
        for (int i = 0; i < 64; ++i) {
            out << chunk;
        }
    }
    const fw::Platform& p = fw::os();

    measure("getFileAttributes exact (ASCII)", 20000, 1, "calls",
            [&] { p.getFileAttributes("C:\\Many\\entry9999.dat"); });
    measure("getFileAttributes other case (10000 names)", 200, 1, "calls",
            [&] { p.getFileAttributes("C:\\MANY\\ENTRY9999.DAT"); });
    measure("getFileAttributes GBK path", 20000, 1, "calls",
            [&] { p.getFileAttributes("C:\\\xB0\xB2\xD7\xB0\\Folder"); });
    measure("list 10000 entries", 20, 10002, "entries", [&] {
        fw::FindEntry entry;
        const fw::FindHandle find = p.findFirst("C:\\Many\\*", entry);
        while (p.findNext(find, entry) == fw::FindStep::entry) {
        }
        p.findClose(find);
    });
    measure("copyFile 64 MiB", 5, 64, "MiB", [&] { p.copyFile("C:\\source.bin", "C:\\copy.bin"); });
    std::printf("peak resident set: %ld KiB\n", peakKilobytes());

    fs::remove_all(root);
    return 0;
}
