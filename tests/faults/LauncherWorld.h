// The outside world of a whole launcher run in a test: the payload resource, the
// executable's path and title, and recorded notices, commands, sleeps and standard
// output, so that no real command runs and no real sleep happens. Everything else
// goes to the real backend below, in a throw-away prefix.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace fw::test {

struct LauncherWorld {
    std::string payload;  // the whole resource, its 54-byte prefix included
    std::string modulePath = "C:\\Tools\\Release\\Ferrowick.exe";
    std::vector<std::string> notices;
    std::vector<std::string> commands;
    std::vector<uint32_t> sleeps;
    std::string standardOutput;
};

// Puts itself over the table in force for its lifetime; one at a time.
class ScriptedPlatform {
  public:
    explicit ScriptedPlatform(LauncherWorld& world);
    ~ScriptedPlatform();
    ScriptedPlatform(const ScriptedPlatform&) = delete;
    ScriptedPlatform& operator=(const ScriptedPlatform&) = delete;

  private:
    Platform table_;
    const Platform* replaced_;
};

}  // namespace fw::test
