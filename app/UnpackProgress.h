// How far the unpacking has come, counted item by item in archive order: shown through
// the seam (a window that comes up when the unpacking takes longer than a second, or a
// line on a terminal), and written to the log at each tenth of the bytes, which is all
// there is of it under /S.
#pragma once

#include <cstdint>

#include "app/LaunchLog.h"
#include "platform/Platform.h"

class UnpackProgress {
  public:
    // Begins with nothing done of `total`; `shown` false shows nothing, for /S.
    UnpackProgress(const LaunchLog& log, bool shown, const char* caption, fw::Progress total);
    ~UnpackProgress();
    UnpackProgress(const UnpackProgress&) = delete;
    UnpackProgress& operator=(const UnpackProgress&) = delete;

    // One more item has been dealt with, unpacked or not: `bytes` of it (its unpacked size).
    void ItemDone(std::uint64_t bytes);

    // The end: what is shown is gone when this returns. The destructor ends it too.
    void End();

  private:
    const LaunchLog& log_;
    bool shown_;
    bool ended_ = false;
    fw::Progress total_;
    fw::Progress done_;
    unsigned tenthsLogged_ = 0;
};
