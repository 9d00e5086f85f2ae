// The log of a run: plain text, one line for each thing that happened, "what: text".
// Each line is appended on its own through the seam, so that the log holds everything up
// to the moment a run was cut off, and can be read while the run goes on. A log that
// cannot be written is let be: the run never depends on it.
#pragma once

#include <string>
#include <string_view>

class LaunchLog {
  public:
    // Logs to `path` from now on: emptied first when `fresh`, else after what is there.
    void Open(std::string path, bool fresh);

    bool IsOpen() const { return !path_.empty(); }

    // Appends "what: text"; the lines of a text of several lines after the first are
    // indented to stand under it. Nothing when the log is not open.
    void Line(std::string_view what, std::string_view text) const;

  private:
    std::string path_;
};
