// A platform table for the application's and the whole launcher's tests: the real backend
// underneath, with the process-facing entries (notices, dialogs, the command line, the
// sleep, standard output, the executable's path, its strings and its payload) recorded
// or scripted, so that no real command runs and no real sleep happens.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace fw::test {

struct Recorded {
    // Everything the user or the outside world would see, in order: "notice:<text>",
    // "dialog:<id>", "run:<command>", "run hidden:<command>", "usage:<text>",
    // "sleep:<ms>".
    std::vector<std::string> events;
    std::vector<std::string> notices;
    std::vector<std::string> captions;
    std::vector<std::string> commands;  // run hidden or not
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
    // What the command interpreter returns for a command.
    int commandStatus = 0;
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
