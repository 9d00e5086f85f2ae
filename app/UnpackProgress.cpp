#include "app/UnpackProgress.h"

#include <string>

#include "platform/ProgressText.h"

UnpackProgress::UnpackProgress(const LaunchLog& log, bool shown, const char* caption,
                               fw::Progress total)
    : log_(log), shown_(shown), total_(total) {
    if (shown_) {
        fw::os().progressBegin(caption, "Unpacking the installation files", total_);
    }
}

UnpackProgress::~UnpackProgress() {
    End();
}

void UnpackProgress::ItemDone(std::uint64_t bytes) {
    ++done_.items;
    done_.bytes += bytes;
    if (shown_) {
        fw::os().progressUpdate(done_);
    }
    // One line when a tenth is reached, however many tenths one item passed.
    const unsigned tenths = fw::progressPermille(done_, total_) / 100;
    if (tenths > tenthsLogged_) {
        tenthsLogged_ = tenths;
        log_.Line("progress",
                  std::to_string(tenths * 10) + "%: " + fw::progressCounts(done_, total_));
    }
}

void UnpackProgress::End() {
    if (shown_ && !ended_) {
        fw::os().progressEnd();
    }
    ended_ = true;
}
