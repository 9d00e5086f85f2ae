// The log of a run: plain text, one line for each thing that happened,
// "2026-12-11 12:03:04.123 [4242] what: text", the local time to the millisecond and the
// process id first, so that the lines of runs that overlap (a second launcher refused
// while the first one runs) can be told apart. Each line is appended on its own through
// the seam, so that the log holds everything up to the moment a run was cut off, and can
// be read while the run goes on. A log that cannot be written is let be: the run never
// depends on it.
#pragma once

#include <string>
#include <string_view>

class LaunchLog {
  public:
    // Logs to `path` from now on: emptied first when `fresh`, else after what is there.
    void Open(std::string path, bool fresh);

    bool IsOpen() const { return !path_.empty(); }

    // Appends "time [id] what: text" as one line: line breaks in `text` become blanks.
    // Nothing when the log is not open.
    void Line(std::string_view what, std::string_view text) const;

  private:
    std::string path_;
};
