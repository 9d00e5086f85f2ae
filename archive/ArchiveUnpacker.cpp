#include "archive/ArchiveUnpacker.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "platform/Mbcs.h"
#include "platform/Platform.h"

namespace fw::archive {

namespace {

constexpr int kMostWorkers = 4;
// Items described ahead of the workers: enough that a whole installer set is one batch,
// few enough that their records stay well under a megabyte.
constexpr std::size_t kBatchItems = 2048;

// The levels of the path `target` names, each as a key that two names a Windows file
// system takes for one path share: split at either separator (multibyte-aware), "."
// dropped, ".." going back a level, a level cut at a ':' (a stream of the file) and its
// trailing dots and blanks dropped, ASCII letters in one case. Every byte from 0x80 up
// stands for any other such byte, so names that differ only there count as one (the file
// system may fold their letter case too): such items are only kept in order needlessly.
// Each key is kept as a 64-bit hash, which only makes more items keep their order when
// two hashes meet.
std::vector<uint64_t> pathLevels(std::string_view target) {
    std::vector<std::string> parts;
    for (;;) {
        const std::size_t separator = mbcs::findSeparator(target);
        std::string part(target.substr(0, separator));
        if (const std::size_t colon = part.find(':');
            colon != std::string::npos && (!parts.empty() || separator == mbcs::npos)) {
            part.resize(colon);
        }
        while (!part.empty() && (part.back() == '.' || part.back() == ' ')) {
            part.pop_back();
        }
        for (char& c : part) {
            const auto byte = static_cast<unsigned char>(c);
            c = byte >= 0x80 ? '\x80' : (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
        }
        const std::string_view level(target.substr(0, separator));
        if (level == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && level != ".") {
            parts.push_back(std::move(part));
        }
        if (separator == mbcs::npos) {
            break;
        }
        target.remove_prefix(separator + 1);
    }
    std::vector<uint64_t> levels;
    uint64_t key = 14695981039346656037ull;  // FNV-1a over "/part/part..."
    for (const std::string& part : parts) {
        for (const char c : "/" + part) {
            key = (key ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        }
        levels.push_back(key);
    }
    return levels;
}

// Groups of items that must keep their order: union by the first item of each.
class Groups {
  public:
    explicit Groups(std::size_t n) : parent_(n) { std::iota(parent_.begin(), parent_.end(), 0); }
    std::size_t find(std::size_t i) {
        while (parent_[i] != i) {
            parent_[i] = parent_[parent_[i]];
            i = parent_[i];
        }
        return i;
    }
    void join(std::size_t a, std::size_t b) {
        a = find(a);
        b = find(b);
        if (a != b) {
            parent_[std::max(a, b)] = std::min(a, b);
        }
    }

  private:
    std::vector<std::size_t> parent_;
};

}  // namespace

int unpackWorkers(int limit) {
    if (limit <= 1) {
        return 1;  // without asking: one worker's run is the walk, call for call
    }
    const uint32_t processors = os().processorCount();
    const int most = processors > static_cast<uint32_t>(kMostWorkers)
                         ? kMostWorkers
                         : static_cast<int>(std::max<uint32_t>(processors, 1));
    return std::max(1, std::min(limit, most));
}

ArchiveResult extractPlainly(ArchiveHandle archive, const DescribedItem& item,
                             const std::string& target, uint32_t& error) {
    const ArchiveResult result = ExtractDescribedItem(archive, item, target.c_str());
    error = result == AR_OK ? 0 : os().lastError();
    return result;
}

ArchiveUnpacker::ArchiveUnpacker(ArchiveHandle archive, int32_t count, std::string prefix,
                                 int workers, ItemExtractor extract)
    : archive_(archive),
      count_(count),
      prefix_(std::move(prefix)),
      extract_(std::move(extract)),
      workerCount_(std::clamp(workers, 1, kMostWorkers)) {}

ArchiveUnpacker::~ArchiveUnpacker() {
    {
        const std::lock_guard guard(lock_);
        stopping_ = true;
    }
    jobsReady_.notify_all();
    for (std::thread& worker : workers_) {
        worker.join();
    }
}

std::string ArchiveUnpacker::targetOf(const Slot& slot) const {
    const ArchiveItem& record = slot.item.record;
    return prefix_ + std::string(record.name, strnlen(record.name, sizeof record.name));
}

void ArchiveUnpacker::unpackOne(Slot& slot) {
    ItemOutcome& outcome = slot.outcome;
    outcome.result = extract_(archive_, slot.item, targetOf(slot), outcome.error);
}

bool ArchiveUnpacker::next(ItemOutcome& outcome) {
    if (next_ >= count_) {
        return false;
    }
    if (workerCount_ > 1 && workers_.empty()) {
        for (int i = 0; i < workerCount_; ++i) {
            try {
                workers_.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                break;  // fewer workers, or none: then the walk
            }
        }
        workerCount_ = static_cast<int>(workers_.size());
    }
    if (workers_.empty()) {
        // The walk: describe, then unpack, one item after the other.
        DescribedItem item;
        outcome = ItemOutcome{};
        outcome.index = next_++;
        outcome.result = DescribeArchiveItem(archive_, outcome.index, item);
        outcome.error = outcome.result == AR_OK ? 0 : os().lastError();
        if (outcome.result != AR_OK) {
            return true;
        }
        const ArchiveItem& record = item.record;
        outcome.described = true;
        outcome.name.assign(record.name, strnlen(record.name, sizeof record.name));
        outcome.size = record.uncompressedSize;
        outcome.result = extract_(archive_, item, prefix_ + outcome.name, outcome.error);
        return true;
    }
    if (next_ >= batchStart_ + static_cast<int32_t>(slots_.size())) {
        startBatch();
    }
    const auto at = static_cast<std::size_t>(next_ - batchStart_);
    Slot& slot = slots_[at];
    {
        // Woken only by the worker that finishes this slot: a wake for any other would
        // take a core from the workers for nothing.
        std::unique_lock guard(lock_);
        awaited_ = at;
        slotDone_.wait(guard, [&] { return slot.done; });
        awaited_ = kNoSlot;
    }
    outcome = slot.outcome;
    if (outcome.described) {
        const ArchiveItem& record = slot.item.record;
        outcome.name.assign(record.name, strnlen(record.name, sizeof record.name));
    }
    ++next_;
    return true;
}

// Describes the next batch on this thread, makes its folders and hands it to the workers.
// The batch before it is done: every outcome of it has been handed back.
void ArchiveUnpacker::startBatch() {
    batchStart_ = next_;
    const auto size = static_cast<std::size_t>(
        std::min<int64_t>(static_cast<int64_t>(kBatchItems), int64_t{count_} - next_));
    std::vector<Slot> slots(size);
    for (std::size_t i = 0; i < size; ++i) {
        Slot& slot = slots[i];
        ItemOutcome& outcome = slot.outcome;
        outcome.index = batchStart_ + static_cast<int32_t>(i);
        outcome.result = DescribeArchiveItem(archive_, outcome.index, slot.item);
        outcome.error = outcome.result == AR_OK ? 0 : os().lastError();
        if (outcome.result != AR_OK) {
            slot.done = true;
            continue;
        }
        outcome.described = true;
        outcome.size = slot.item.record.uncompressedSize;
    }

    // Which items touch a path that is another's file: those keep their order.
    Groups groups(size);
    std::vector<std::vector<uint64_t>> levels(size);
    std::unordered_map<uint64_t, std::size_t> fileOwners;
    for (std::size_t i = 0; i < size; ++i) {
        if (slots[i].done) {
            continue;
        }
        levels[i] = pathLevels(targetOf(slots[i]));
        if ((slots[i].item.record.attributes & kAttrDirectory) == 0 && !levels[i].empty()) {
            const auto [owner, fresh] = fileOwners.emplace(levels[i].back(), i);
            if (!fresh) {
                groups.join(owner->second, i);
            }
        }
    }
    std::vector<bool> shared(size, false);
    for (std::size_t i = 0; i < size; ++i) {
        for (const uint64_t level : levels[i]) {
            if (const auto owner = fileOwners.find(level);
                owner != fileOwners.end() && owner->second != i) {
                groups.join(owner->second, i);
                shared[owner->second] = shared[i] = true;
            }
        }
    }
    for (std::size_t i = 0; i < size; ++i) {
        if (!slots[i].done && groups.find(i) != i) {
            shared[i] = shared[groups.find(i)] = true;
        }
    }

    // Every folder first, in archive order, but those of items that keep their order. A
    // folder made (or found, or refused) once is not asked about again for the next item
    // in it: the answer would be the same.
    std::vector<Job> jobs;
    std::unordered_map<std::size_t, std::size_t> jobOfGroup;
    std::unordered_set<std::string> foldersMade;
    for (std::size_t i = 0; i < size; ++i) {
        if (slots[i].done) {
            continue;
        }
        if (!shared[i]) {
            const std::string target = targetOf(slots[i]);
            const bool folderItem = (slots[i].item.record.attributes & kAttrDirectory) != 0;
            const std::size_t separator = mbcs::rfindSeparator(target);
            const std::string folder =
                folderItem || separator == mbcs::npos ? target : target.substr(0, separator);
            if (!foldersMade.contains(folder) &&
                MakeItemFolders(archive_, slots[i].item, target.c_str()) == AR_OK) {
                foldersMade.insert(folder);
            }
        }
        const auto [at, fresh] = jobOfGroup.emplace(groups.find(i), jobs.size());
        if (fresh) {
            jobs.emplace_back();
        }
        Job& job = jobs[at->second];
        job.slots.push_back(i);
        job.size += slots[i].item.record.uncompressedSize;
    }
    std::stable_sort(jobs.begin(), jobs.end(),
                     [](const Job& a, const Job& b) { return a.size > b.size; });
    {
        const std::lock_guard guard(lock_);
        slots_ = std::move(slots);
        jobs_ = std::move(jobs);
        nextJob_ = 0;
    }
    jobsReady_.notify_all();
}

void ArchiveUnpacker::work() {
    std::unique_lock guard(lock_);
    for (;;) {
        jobsReady_.wait(guard, [&] { return stopping_ || nextJob_ < jobs_.size(); });
        if (stopping_) {
            return;
        }
        const Job& job = jobs_[nextJob_++];
        for (const std::size_t i : job.slots) {
            if (stopping_) {
                return;
            }
            Slot& slot = slots_[i];
            guard.unlock();
            unpackOne(slot);
            guard.lock();
            slot.done = true;
            if (i == awaited_) {
                slotDone_.notify_one();
            }
        }
    }
}

}  // namespace fw::archive
