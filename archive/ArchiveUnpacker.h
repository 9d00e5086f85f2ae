// Unpacks every item of an open archive below a prefix, on up to four threads, and hands
// back each item's outcome in archive order, as one thread walking the items would.
//
// With one worker it is that walk, call for call: describe item i, unpack it, report it,
// then item i + 1. With more, the items are described in batches on the caller's thread;
// then every folder of the batch is made, in archive order; then the workers take whole
// items, the largest first. Items that touch the same path (one's file is another's file
// or folder, letter case and trailing dots and blanks aside) are one job, unpacked in
// archive order by one worker, and their folders are left to them: so the tree, and
// every item's result, are those of the walk.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/ArchiveReader.h"

namespace fw::archive {

// Workers for unpacking: min(processors, 4), at most `limit`.
int unpackWorkers(int limit);

// What became of one item.
struct ItemOutcome {
    int32_t index = 0;
    bool described = false;  // false: `result` is the description's
    ArchiveResult result = AR_OK;
    uint32_t error = 0;  // the system's last error on the thread that failed, else 0
    std::string name;    // the cleaned name, when described
    uint32_t size = 0;   // the unpacked size, when described
};

// Unpacks a described item to `target`: AR_OK or the failure, with the system's last
// error of that failure in `error`. Called on the workers' threads.
using ItemExtractor = std::function<ArchiveResult(ArchiveHandle archive, const DescribedItem& item,
                                                  const std::string& target, uint32_t& error)>;

// ExtractDescribedItem, with the last error of a failure.
ArchiveResult extractPlainly(ArchiveHandle archive, const DescribedItem& item,
                             const std::string& target, uint32_t& error);

class ArchiveUnpacker {
  public:
    // Items 0 to `count` - 1 of `archive` go to `prefix` followed by their cleaned names.
    ArchiveUnpacker(ArchiveHandle archive, int32_t count, std::string prefix, int workers,
                    ItemExtractor extract = extractPlainly);
    // Waits for the items under way; those not begun are not unpacked.
    ~ArchiveUnpacker();
    ArchiveUnpacker(const ArchiveUnpacker&) = delete;
    ArchiveUnpacker& operator=(const ArchiveUnpacker&) = delete;

    // The next item's outcome, in archive order, once it is unpacked; false after the last.
    bool next(ItemOutcome& outcome);

  private:
    // An item of the batch; its name and target are made from its record when needed.
    struct Slot {
        DescribedItem item;
        ItemOutcome outcome;
        bool done = false;
    };
    // Items unpacked one after the other by one worker, in archive order.
    struct Job {
        std::vector<std::size_t> slots;
        uint64_t size = 0;
    };

    std::string targetOf(const Slot& slot) const;
    void unpackOne(Slot& slot);
    void startBatch();
    void work();

    ArchiveHandle archive_;
    int32_t count_;
    std::string prefix_;
    ItemExtractor extract_;
    int workerCount_;   // threads to start at the first item: 1 for the walk
    int32_t next_ = 0;  // the index next() hands back next

    // The batch, from `batchStart`: the slots and the jobs over them.
    int32_t batchStart_ = 0;
    std::vector<Slot> slots_;
    std::vector<Job> jobs_;

    std::mutex lock_;
    std::condition_variable jobsReady_;
    std::condition_variable slotDone_;
    std::size_t nextJob_ = 0;  // the next job a worker takes
    static constexpr std::size_t kNoSlot = SIZE_MAX;
    std::size_t awaited_ = kNoSlot;  // the slot next() waits for
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace fw::archive
