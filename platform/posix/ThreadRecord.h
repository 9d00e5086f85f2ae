// The record of process-wide state that a thread of the backend's own works on.
//
// Made at first use and never destroyed: a detached thread may use it until the
// process ends. A child of fork() has no such thread, and its copy of the record's lock
// may have been held by that thread: it gets a fresh record (the parent's stays
// reachable, and is the parent's business). `atExit` runs at exit(), so that what the
// thread still had to do lands.
#pragma once

#include <pthread.h>

#include <cstdlib>
#include <utility>

namespace fw::posix {

template <typename Record, void (*atExit)()>
Record& threadRecord() {
    static Record* current = nullptr;
    // Never read: it holds the parent's record in a child, so that nothing counts it as
    // lost. Volatile, so that the compiler keeps the store.
    [[maybe_unused]] static Record* volatile abandoned = nullptr;
    static const bool made = [] {
        current = new Record;
        pthread_atfork(nullptr, nullptr, [] { abandoned = std::exchange(current, new Record); });
        std::atexit(atExit);
        return true;
    }();
    static_cast<void>(made);
    return *current;
}

}  // namespace fw::posix
