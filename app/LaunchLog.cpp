#include "app/LaunchLog.h"

#include <utility>

#include "app/File.h"
#include "platform/Platform.h"

void LaunchLog::Open(std::string path, bool fresh) {
    path_ = std::move(path);
    if (fresh) {
        CFile file;
        if (file.Open(path_.c_str(), CFile::modeCreate)) {
            file.Close();
        }
    }
}

void LaunchLog::Line(std::string_view what, std::string_view text) const {
    if (!IsOpen()) {
        return;
    }
    while (!text.empty() && text.back() == '\n') {
        text.remove_suffix(1);
    }
    const std::string indent(what.size() + 2, ' ');
    std::string line = std::string(what) + ": ";
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('\n', start);
        line.append(text.substr(start, end - start));
        line += '\n';
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
        if (start < text.size() && text[start] != '\n') {
            line += indent;
        }
    }
    // A log that cannot be written must not stop the run: the result is let be.
    (void)fw::os().appendText(path_.c_str(), line.c_str());
}
