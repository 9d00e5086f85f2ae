#include "app/LaunchLog.h"

#include <cstdio>
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
    fw::SystemTime now;
    fw::os().localTime(now);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%u] ",
                  unsigned{now.year}, unsigned{now.month}, unsigned{now.day}, unsigned{now.hour},
                  unsigned{now.minute}, unsigned{now.second}, unsigned{now.milliseconds},
                  unsigned{fw::os().processId()});
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    std::string line = stamp;
    line += what;
    line += ": ";
    // Neither byte is ever the trail byte of a double-byte character.
    for (char c : text) {
        line += c == '\n' || c == '\r' ? ' ' : c;
    }
    line += '\n';
    // A log that cannot be written must not stop the run: the result is let be.
    (void)fw::os().appendText(path_.c_str(), line.c_str());
}
