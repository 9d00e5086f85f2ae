#include "platform/posix/IoWorker.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace fw::posix::io {

namespace {

struct Block {
    std::size_t used = 0;
    std::unique_ptr<unsigned char[]> bytes{new unsigned char[kBlockSize]};
};

struct Job {
    enum class Kind { write, close } kind = Kind::write;
    int fd = -1;             // the handle, or for a close the descriptor
    Block* block = nullptr;  // write
};

// One per handle opened for writing.
struct OpenFile {
    Block* filling = nullptr;  // being filled by the caller, not yet queued
    std::size_t pending = 0;   // jobs queued or running
    int error = 0;             // errno of the first job that failed
};

struct State {
    std::mutex lock;
    std::condition_variable queued;  // the worker waits here for jobs
    std::condition_variable done;    // callers wait here for jobs run and blocks returned
    std::deque<Job> queue;
    std::size_t inFlight = 0;                 // jobs queued or running, closes included
    std::unordered_map<int, OpenFile> files;  // element references survive rehashing
    std::vector<std::unique_ptr<Block>> blocks;
    std::vector<Block*> spare;
    std::size_t waitingForBlock = 0;  // callers in takeBlock's wait
    enum class Worker { none, running, refused } worker = Worker::none;
};

// Made at first use and never destroyed: the detached worker may use it until the
// process ends. See the header for fork() and exit().
State& state() {
    static State* current = nullptr;
    // Never read: it holds the parent's state in a child, so that nothing counts it as
    // lost. Volatile, so that the compiler keeps the store.
    [[maybe_unused]] static State* volatile abandoned = nullptr;
    static const bool made = [] {
        current = new State;
        pthread_atfork(nullptr, nullptr, [] { abandoned = std::exchange(current, new State); });
        std::atexit(waitAll);
        return true;
    }();
    static_cast<void>(made);
    return *current;
}

int failure() {
    return errno != 0 ? errno : EIO;
}

// Writes `block` on this thread, the lock released meanwhile, and returns it to the
// spares. Whoever waits for blocks is told by the caller of this.
void writeHere(State& s, std::unique_lock<std::mutex>& guard, OpenFile& file, int fd,
               Block* block) {
    if (file.error == 0) {
        guard.unlock();
        const bool written = writeFully(fd, block->bytes.get(), block->used);
        const int error = failure();
        guard.lock();
        if (!written && file.error == 0) {
            file.error = error;
        }
    }
    s.spare.push_back(block);
}

void work(State& s) {
    pthread_setname_np(pthread_self(), "io-worker");  // for profilers and ps
    std::unique_lock guard(s.lock);
    for (;;) {
        s.queued.wait(guard, [&] { return !s.queue.empty(); });
        const Job job = s.queue.front();
        s.queue.pop_front();
        bool handleDone = false;
        if (job.kind == Job::Kind::close) {
            guard.unlock();
            ::close(job.fd);
            guard.lock();
        } else {
            // The record stays while it has jobs: its close waits for them.
            OpenFile& file = s.files[job.fd];
            writeHere(s, guard, file, job.fd, job.block);
            handleDone = --file.pending == 0;
        }
        --s.inFlight;
        // A caller waiting for blocks is woken when half of them are free, one waiting
        // for a handle when that handle is done, one waiting for all at the end.
        if (handleDone || s.inFlight == 0 || s.spare.size() >= kBlocks / 2) {
            s.done.notify_all();
        }
    }
}

bool workerRuns(State& s) {
    if (s.worker == State::Worker::none) {
        try {
            std::thread(work, std::ref(s)).detach();
            s.worker = State::Worker::running;
        } catch (const std::system_error&) {
            s.worker = State::Worker::refused;  // every job is done by the caller
        }
    }
    return s.worker == State::Worker::running;
}

// Queues `job`. Waking the worker costs more than a block's write: it is woken for
// two jobs at a time, or by whoever then waits for it.
void submit(State& s, const Job& job) {
    s.queue.push_back(job);
    ++s.inFlight;
    if (job.kind != Job::Kind::write || s.queue.size() >= 2) {
        s.queued.notify_one();
    }
}

// An empty block; waits for the worker to hand one back when every block is busy.
Block* takeBlock(State& s, std::unique_lock<std::mutex>& guard) {
    for (;;) {
        if (!s.spare.empty()) {
            Block* block = s.spare.back();
            s.spare.pop_back();
            return block;
        }
        if (s.blocks.size() < kBlocks) {
            s.blocks.push_back(std::make_unique<Block>());
            return s.blocks.back().get();
        }
        if (s.queue.empty() && s.inFlight == 0) {
            // Every block is being filled for some other handle: write one of them out.
            // Blocks being copied into, outside the lock, are no record's for now.
            const auto filled = std::find_if(s.files.begin(), s.files.end(),
                                             [](const auto& f) { return f.second.filling; });
            if (filled != s.files.end()) {
                OpenFile& file = filled->second;
                writeHere(s, guard, file, filled->first, std::exchange(file.filling, nullptr));
                s.done.notify_all();
                continue;
            }
        }
        s.queued.notify_one();
        ++s.waitingForBlock;
        s.done.wait(guard);
        --s.waitingForBlock;
    }
}

// Waits for the jobs of `fd` and writes its partial block; false (errno set) when one
// of them failed.
bool waitLocked(State& s, std::unique_lock<std::mutex>& guard, int fd) {
    const auto found = s.files.find(fd);
    if (found == s.files.end()) {
        return true;
    }
    OpenFile& file = found->second;
    if (file.pending > 0) {
        s.queued.notify_one();
        s.done.wait(guard, [&] { return file.pending == 0; });
    }
    if (file.filling != nullptr) {
        writeHere(s, guard, file, fd, std::exchange(file.filling, nullptr));
        s.done.notify_all();
    }
    if (file.error != 0) {
        errno = file.error;
        return false;
    }
    return true;
}

}  // namespace

bool writeFully(int fd, const void* data, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const ssize_t written = ::write(fd, bytes, std::min<std::size_t>(count, SSIZE_MAX));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;  // nothing taken: asking again would spin
            }
            return false;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

void opened(int fd) {
    State& s = state();
    const std::lock_guard guard(s.lock);
    s.files[fd] = OpenFile{};
}

bool write(int fd, const void* data, std::size_t count) {
    State& s = state();
    std::unique_lock guard(s.lock);
    const auto entry = s.files.find(fd);
    if (entry == s.files.end()) {
        errno = EBADF;  // not a handle opened for writing
        return false;
    }
    OpenFile& file = entry->second;
    if (file.error != 0) {
        errno = file.error;
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (count >= kBlockSize && file.filling == nullptr) {
        // Nothing to gather: written here, after what went before.
        if (!waitLocked(s, guard, fd)) {
            return false;
        }
        guard.unlock();
        return writeFully(fd, bytes, count);
    }
    while (count > 0) {
        if (file.filling == nullptr) {
            file.filling = takeBlock(s, guard);
            file.filling->used = 0;
        }
        // The copy is made without the lock, so that the worker, done with a block, is
        // not kept waiting for it (each such wait costs both threads a system call).
        // Meanwhile the block is no record's: nobody else writes it out.
        Block* const block = std::exchange(file.filling, nullptr);
        const std::size_t n = std::min(count, kBlockSize - block->used);
        guard.unlock();
        std::memcpy(block->bytes.get() + block->used, bytes, n);
        guard.lock();
        if (s.waitingForBlock > 0) {
            s.done.notify_all();  // it may have waited for this one
        }
        block->used += n;
        bytes += n;
        count -= n;
        file.filling = block;
        if (block->used == kBlockSize) {
            Block* full = std::exchange(file.filling, nullptr);
            if (workerRuns(s)) {
                ++file.pending;
                submit(s, {Job::Kind::write, fd, full});
            } else {
                writeHere(s, guard, file, fd, full);
                s.done.notify_all();
            }
        }
    }
    return true;
}

bool copy(int fd, const void* data, const FileSpan& span, std::size_t count) {
    if (!wait(fd)) {
        return false;
    }
    // A large run's space is reserved first, so that a full disk refuses the write before
    // any of it is written. The kernel also copies into reserved space faster.
    struct stat info {};
    const off_t at = count >= kReserveFrom ? lseek(fd, 0, SEEK_CUR) : -1;
    if (at >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        fallocate(fd, 0, at, static_cast<off_t>(count)) != 0 &&
        (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) {
        const int error = errno;
        if (ftruncate(fd, info.st_size) == 0) {  // what a refused reservation added goes
            lseek(fd, at, SEEK_SET);
        }
        errno = error;
        return false;
    }
    const std::size_t copied = copyFileSpan(span, fd, count);
    if (copied < count && errno == EIO) {
        return false;
    }
    return writeFully(fd, static_cast<const unsigned char*>(data) + copied, count - copied);
}

bool wait(int fd) {
    State& s = state();
    std::unique_lock guard(s.lock);
    return waitLocked(s, guard, fd);
}

bool closing(int fd) {
    State& s = state();
    std::unique_lock guard(s.lock);
    const bool waited = waitLocked(s, guard, fd);
    const int error = errno;
    s.files.erase(fd);
    errno = error;
    return waited;
}

void closeLater(int fd) {
    State& s = state();
    std::unique_lock guard(s.lock);
    if (!workerRuns(s)) {
        guard.unlock();
        ::close(fd);
        return;
    }
    submit(s, {Job::Kind::close, fd, nullptr});
}

void waitAll() {
    State& s = state();
    std::unique_lock guard(s.lock);
    if (s.inFlight > 0) {
        s.queued.notify_one();
        s.done.wait(guard, [&] { return s.inFlight == 0; });
    }
    // Each partial block is written with the lock released: the records are looked up
    // afresh for each.
    std::vector<int> partial;
    for (const auto& [fd, file] : s.files) {
        if (file.filling != nullptr) {
            partial.push_back(fd);
        }
    }
    for (const int fd : partial) {
        waitLocked(s, guard, fd);
    }
}

}  // namespace fw::posix::io
