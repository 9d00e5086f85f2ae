// Names in an ANSI code page chosen on the command line, which need not be the host's:
// the packer writes and checks names for the machine that will run the launcher.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace fw::pack {

// True for the ANSI code pages the launcher can run under.
bool knownCodePage(uint32_t codePage);

// UTF-8 to `codePage`, exactly: false when the text is no valid UTF-8 or holds a
// character the code page cannot express (nothing stands in for it).
bool codePageFromUtf8(std::string_view utf8, uint32_t codePage, std::string& out);

// True when `bytes` are characters of `codePage` (no stray lead or invalid byte).
bool expressible(std::string_view bytes, uint32_t codePage);

// A host file name (UTF-8 on POSIX, UTF-16 on Windows) in `codePage`, exactly.
bool nameInCodePage(const std::filesystem::path& name, uint32_t codePage, std::string& out);

// Code-page text as UTF-8, for messages.
std::string shownName(std::string_view bytes, uint32_t codePage);

}  // namespace fw::pack
