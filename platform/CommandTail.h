// Where a Windows command line's text for another program begins: after the first
// argument written "--". The program keeps the arguments before it for itself and hands
// what follows on exactly as it stands, never split and quoted again.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace fw {

struct CommandTail {
    std::size_t separator = 0;  // where the "--" begins
    std::size_t tail = 0;       // where the text after it begins: past "--" and one blank
};

// Finds the first argument that is "--" as written (quoted, it is an argument like any
// other). Arguments begin and end where the run-time library splits them: the program's
// name at the first blank or tab outside quotes; every argument after it at the first
// blank or tab outside quotes, where a quote preceded by an even number of backslashes
// opens or closes quotes, one preceded by an odd number is a literal quote, and "" within
// quotes is a literal quote. None when there is no such argument.
template <typename Char>
std::optional<CommandTail> findCommandTail(std::basic_string_view<Char> line) {
    const auto blank = [](Char c) { return c == Char(' ') || c == Char('\t'); };
    std::size_t i = 0;
    bool quoted = false;
    for (; i < line.size() && (quoted || !blank(line[i])); ++i) {
        if (line[i] == Char('"')) {
            quoted = !quoted;
        }
    }
    for (;;) {
        while (i < line.size() && blank(line[i])) {
            ++i;
        }
        if (i == line.size()) {
            return std::nullopt;
        }
        const std::size_t begin = i;
        quoted = false;
        while (i < line.size() && (quoted || !blank(line[i]))) {
            if (line[i] == Char('\\')) {
                std::size_t backslashes = 0;
                for (; i < line.size() && line[i] == Char('\\'); ++i) {
                    ++backslashes;
                }
                // An odd number makes the quote after them a literal one.
                if (backslashes % 2 == 1 && i < line.size() && line[i] == Char('"')) {
                    ++i;
                }
            } else if (line[i] == Char('"')) {
                // "" within quotes is a literal quote; any other quote opens or closes.
                if (quoted && i + 1 < line.size() && line[i + 1] == Char('"')) {
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                ++i;
            }
        }
        if (i - begin == 2 && line[begin] == Char('-') && line[begin + 1] == Char('-')) {
            return CommandTail{begin, i == line.size() ? i : i + 1};
        }
    }
}

}  // namespace fw
