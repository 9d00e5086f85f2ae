// What every tool answers alike: --help and --version, each given alone.
#pragma once

#include <cstdio>
#include <string_view>

#ifndef FERROWICK_VERSION
#error "FERROWICK_VERSION is set by the build"
#endif

namespace fw::tool {

// When the command line is only --help (or -h) or --version, prints the answer on
// standard output and gives true; `usage` and `help` end with a newline.
inline bool answered(int argc, char** argv, const char* name, const char* usage, const char* help) {
    if (argc != 2) {
        return false;
    }
    const std::string_view arg = argv[1];
    if (arg == "--help" || arg == "-h") {
        std::fputs(usage, stdout);
        std::fputs(help, stdout);
        return true;
    }
    if (arg == "--version") {
        std::printf("%s (Ferrowick) %s\n", name, FERROWICK_VERSION);
        return true;
    }
    return false;
}

}  // namespace fw::tool
