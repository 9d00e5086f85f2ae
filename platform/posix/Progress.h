// The progress line's place among the other output on standard error (Progress.cpp).
#pragma once

namespace fw::posix {

// A notice is written below the work's progress: the line, when one is drawn, is wiped
// first (nothing when there is none) and drawn again once the notice is answered.
void wipeProgressLine();
void redrawProgressLine();

}  // namespace fw::posix
