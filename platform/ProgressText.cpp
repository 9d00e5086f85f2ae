#include "platform/ProgressText.h"

#include <algorithm>
#include <cstdint>

namespace fw {

namespace {

constexpr std::uint64_t kKilobyte = 1024;
constexpr std::uint64_t kMegabyte = 1024 * 1024;

std::uint64_t rounded(std::uint64_t bytes, std::uint64_t unit) {
    return bytes / unit + (bytes % unit * 2 >= unit ? 1 : 0);
}

}  // namespace

std::string progressCounts(const Progress& done, const Progress& total) {
    const std::uint64_t unit = total.bytes < kKilobyte   ? 1
                               : total.bytes < kMegabyte ? kKilobyte
                                                         : kMegabyte;
    std::string text = std::to_string(done.items);
    text += " of ";
    text += std::to_string(total.items);
    text += " items, ";
    text += std::to_string(rounded(done.bytes, unit));
    text += " of ";
    text += std::to_string(rounded(total.bytes, unit));
    text += unit == 1 ? " bytes" : unit == kKilobyte ? " KB" : " MB";
    return text;
}

unsigned progressPermille(const Progress& done, const Progress& total) {
    const bool byBytes = total.bytes > 0;
    const std::uint64_t part = byBytes ? done.bytes : done.items;
    const std::uint64_t whole = byBytes ? total.bytes : total.items;
    // Every item done is the end, also where an item that failed counted no bytes.
    if (whole == 0 || part >= whole || done.items >= total.items) {
        return 1000;
    }
    // Below the whole it stays below 1000, also where part * 1000 would not fit 64 bits.
    const std::uint64_t scaled =
        part <= UINT64_MAX / 1000 ? part * 1000 / whole : part / (whole / 1000);
    return static_cast<unsigned>(std::min<std::uint64_t>(999, scaled));
}

std::string progressBar(unsigned permille, std::size_t width) {
    const std::size_t filled = std::min<std::size_t>(width, permille * width / 1000);
    std::string bar = "[";
    bar.append(filled, '#');
    bar.append(width - filled, '.');
    bar += ']';
    return bar;
}

}  // namespace fw
