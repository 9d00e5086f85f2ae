// The prefix folder made on first use, as wine makes its own: a missing prefix folder
// (mode 0700) and its drive_c are created before the first drive path is resolved.
#pragma once

namespace fw::posix {

// Makes the prefix folder and its drive_c when missing, once per prefix. A prefix that
// cannot be made is reported once on standard error; the calls that then find no drive
// fail as they would have.
void ensurePrefix();

}  // namespace fw::posix
