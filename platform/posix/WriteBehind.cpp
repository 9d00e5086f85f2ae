#include "platform/posix/WriteBehind.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/posix/ThreadRecord.h"

namespace fw::posix::writeBehind {

namespace {

struct Block {
    int fd = -1;
    std::size_t used = 0;
    std::unique_ptr<unsigned char[]> bytes{new unsigned char[kBlockSize]};
};

struct Handle {
    Block* filling = nullptr;  // being filled by the caller, not yet queued
    std::size_t queued = 0;    // blocks queued for the worker or being written by it
    int failure = 0;           // errno of the first write that failed
};

struct Writer {
    std::mutex lock;
    std::condition_variable queued;    // the worker waits here for blocks to write
    std::condition_variable returned;  // callers wait here for blocks written
    std::vector<std::unique_ptr<Block>> blocks;
    std::vector<Block*> spare;
    std::deque<Block*> queue;
    std::vector<int> closing;                 // descriptors to close on the worker
    std::vector<int> closingNow;              // those it is closing
    std::unordered_map<int, Handle> handles;  // element references survive rehashing
    std::size_t busy = 0;                     // blocks queued or being written
    std::size_t waitingForBlock = 0;          // callers in takeBlock's wait
    enum class Worker { none, running, refused } worker = Worker::none;
};

void settleAtExit() {
    settleAll();
}

// The detached worker waits on it for the life of the process; a child of fork() starts
// afresh (what the parent queued is the parent's).
Writer& writer() {
    return threadRecord<Writer, settleAtExit>();
}

// Writes `block` on this thread, the lock released meanwhile, and recycles it. Who
// waits for blocks is told by the caller of this.
void writeHere(Writer& w, std::unique_lock<std::mutex>& guard, Handle& handle, Block* block) {
    if (handle.failure == 0) {
        guard.unlock();
        const bool written = writeFully(block->fd, block->bytes.get(), block->used);
        const int error = errno;
        guard.lock();
        if (!written && handle.failure == 0) {
            handle.failure = error != 0 ? error : EIO;
        }
    }
    w.spare.push_back(block);
}

void work(Writer& w) {
    pthread_setname_np(pthread_self(), "write-behind");  // for profilers and ps
    std::unique_lock guard(w.lock);
    for (;;) {
        w.queued.wait(guard, [&] { return !w.queue.empty() || !w.closing.empty(); });
        if (!w.closing.empty()) {
            // Held by the record, not this thread's stack: a child forked meanwhile has
            // no such thread, and would count a batch held only there as lost.
            w.closingNow.swap(w.closing);
            guard.unlock();
            for (int fd : w.closingNow) {
                ::close(fd);
            }
            guard.lock();
            w.closingNow.clear();
            continue;
        }
        Block* block = w.queue.front();
        w.queue.pop_front();
        // The entry stays while it has queued blocks: settling waits for them.
        Handle& handle = w.handles[block->fd];
        writeHere(w, guard, handle, block);
        --handle.queued;
        --w.busy;
        // Likewise a caller waiting for blocks is woken when half of them are free, one
        // settling a handle when that handle is done.
        if (handle.queued == 0 || w.spare.size() >= kBlocks / 2) {
            w.returned.notify_all();
        }
    }
}

bool workerRuns(Writer& w) {
    if (w.worker == Writer::Worker::none) {
        try {
            std::thread(work, std::ref(w)).detach();
            w.worker = Writer::Worker::running;
        } catch (const std::system_error&) {
            w.worker = Writer::Worker::refused;  // every block is written by the caller
        }
    }
    return w.worker == Writer::Worker::running;
}

// An empty block; waits for the worker to hand one back when every block is busy.
Block* takeBlock(Writer& w, std::unique_lock<std::mutex>& guard) {
    for (;;) {
        if (!w.spare.empty()) {
            Block* block = w.spare.back();
            w.spare.pop_back();
            return block;
        }
        if (w.blocks.size() < kBlocks) {
            w.blocks.push_back(std::make_unique<Block>());
            return w.blocks.back().get();
        }
        if (w.busy == 0) {
            // Every block is being filled for some other handle: write one of them out.
            // Blocks being copied into, outside the lock, are no handle's for now.
            const auto filled = std::find_if(w.handles.begin(), w.handles.end(),
                                             [](const auto& h) { return h.second.filling; });
            if (filled != w.handles.end()) {
                Handle& handle = filled->second;
                writeHere(w, guard, handle, std::exchange(handle.filling, nullptr));
                w.returned.notify_all();
                continue;
            }
        }
        w.queued.notify_one();
        ++w.waitingForBlock;
        w.returned.wait(guard);
        --w.waitingForBlock;
    }
}

bool settleLocked(Writer& w, std::unique_lock<std::mutex>& guard, int fd) {
    const auto found = w.handles.find(fd);
    if (found == w.handles.end()) {
        return true;
    }
    Handle& handle = found->second;
    if (handle.queued > 0) {
        w.queued.notify_one();
        w.returned.wait(guard, [&] { return handle.queued == 0; });
    }
    if (handle.filling != nullptr) {
        writeHere(w, guard, handle, std::exchange(handle.filling, nullptr));
        w.returned.notify_all();
    }
    if (handle.failure != 0) {
        errno = handle.failure;
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

bool write(int fd, const void* data, std::size_t count) {
    Writer& w = writer();
    std::unique_lock guard(w.lock);
    const auto entry = w.handles.find(fd);
    if (entry == w.handles.end()) {
        errno = EBADF;  // not a handle opened for writing
        return false;
    }
    Handle& handle = entry->second;
    if (handle.failure != 0) {
        errno = handle.failure;
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (count >= kBlockSize && handle.filling == nullptr) {
        // Nothing to gather: write it here, after what went before.
        if (!settleLocked(w, guard, fd)) {
            return false;
        }
        guard.unlock();
        return writeFully(fd, bytes, count);
    }
    while (count > 0) {
        if (handle.filling == nullptr) {
            handle.filling = takeBlock(w, guard);
            handle.filling->fd = fd;
            handle.filling->used = 0;
        }
        // The copy is made without the lock, so that the worker, done with a block, is
        // not kept waiting for it (each such wait costs both threads a system call).
        // Meanwhile the block is no handle's: nobody else writes it out.
        Block* const block = std::exchange(handle.filling, nullptr);
        const std::size_t n = std::min(count, kBlockSize - block->used);
        guard.unlock();
        std::memcpy(block->bytes.get() + block->used, bytes, n);
        guard.lock();
        if (w.waitingForBlock > 0) {
            w.returned.notify_all();  // it may have waited for this one
        }
        block->used += n;
        bytes += n;
        count -= n;
        handle.filling = block;
        if (block->used == kBlockSize) {
            Block* full = std::exchange(handle.filling, nullptr);
            if (workerRuns(w)) {
                w.queue.push_back(full);
                ++handle.queued;
                ++w.busy;
                // Waking the worker costs more than a block's write: it is woken for
                // two blocks at a time, or by whoever then waits for it.
                if (w.queue.size() >= 2) {
                    w.queued.notify_one();
                }
            } else {
                writeHere(w, guard, handle, full);
                w.returned.notify_all();
            }
        }
    }
    return true;
}

void open(int fd) {
    Writer& w = writer();
    const std::lock_guard guard(w.lock);
    w.handles[fd] = Handle{};
}

bool settle(int fd) {
    Writer& w = writer();
    std::unique_lock guard(w.lock);
    return settleLocked(w, guard, fd);
}

bool finish(int fd) {
    Writer& w = writer();
    std::unique_lock guard(w.lock);
    const bool settled = settleLocked(w, guard, fd);
    const int error = errno;
    w.handles.erase(fd);
    errno = error;
    return settled;
}

void closeLater(int fd) {
    Writer& w = writer();
    std::unique_lock guard(w.lock);
    if (!workerRuns(w)) {
        guard.unlock();
        ::close(fd);
        return;
    }
    w.closing.push_back(fd);
    w.queued.notify_one();
}

void settleAll() {
    Writer& w = writer();
    std::unique_lock guard(w.lock);
    std::vector<int> fds;
    for (const auto& [fd, handle] : w.handles) {
        if (handle.filling != nullptr || handle.queued > 0) {
            fds.push_back(fd);
        }
    }
    for (int fd : fds) {
        settleLocked(w, guard, fd);
    }
}

}  // namespace fw::posix::writeBehind
