// A platform table for the application's and the whole launcher's tests: the real backend
// underneath, with the process-facing entries (notices, dialogs, the command line and
// the programs started, the sleep, progress, standard output, the executable's path, its
// strings and its payload, the time and the process id) recorded or scripted, so that no
// real command runs, no real sleep happens and nothing is drawn.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace fw::test {

struct Recorded {
    // Everything the user or the outside world would see, in order: "notice:<text>",
    // "dialog:<id>", "run:<command>" (through the interpreter), "start:<command line>"
    // (a program started directly: its quoted path and its arguments), "usage:<text>",
    // "sleep:<ms>", "progress:<caption>|<what>|<items>|<bytes>" when progress begins and
    // "progress end".
    std::vector<std::string> events;
    std::vector<std::string> notices;
    std::vector<std::string> captions;
    std::vector<std::string> commands;  // run or started
    // Each progressUpdate: items and bytes done.
    std::vector<Progress> progress;
    std::vector<uint32_t> sleeps;
    std::vector<std::string> findPatterns;
    std::vector<std::string> copySources;
    std::string standardOutput;
};

struct Script {
    std::string modulePath = "C:\\Tools\\Ferrowick.exe";
    bool hasTitle = true;
    // The whole payload resource, prefix included; absent when `hasPayload` is false.
    bool hasPayload = true;
    std::string payload;
    // 0: the backend's own code page.
    uint32_t codePage = 0;
    // Another launcher holds the one-at-a-time lock.
    bool anotherLauncherRunning = false;
    // What the command interpreter returns for a command, and a program started directly
    // for its run.
    int commandStatus = 0;
    // Not 0: a program to be started directly cannot be, and the system's last error
    // then is this one.
    uint32_t programError = 0;
    // The local time and the process id; the real ones when absent.
    std::optional<SystemTime> localTime;
    std::optional<uint32_t> processId;
    // Called while a notice is up, with its text.
    std::function<void(const std::string&)> onNotice;
};

// Puts itself over the table in force for its lifetime; one at a time.
class RecordingPlatform {
  public:
    RecordingPlatform();
    ~RecordingPlatform();
    RecordingPlatform(const RecordingPlatform&) = delete;
    RecordingPlatform& operator=(const RecordingPlatform&) = delete;

    Script script;
    Recorded recorded;

    const Platform& below() const { return below_; }

  private:
    Platform below_;
    Platform table_;
    const Platform* replaced_;
};

// The application title that the recording table gives for string 0xE000.
inline constexpr const char* kTitle = "BRASKETTLE";

}  // namespace fw::test
