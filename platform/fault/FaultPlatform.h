// A platform table that forwards every call to the table below it and fails the calls
// a test has chosen: a refused create, a failed write, a short read. It is put over the
// real backend, so everything that is not failed behaves exactly as it would in use.
#pragma once

#include <array>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace fw::fault {

// One name per entry of the platform table.
#define FW_FAULT_CALL(result, name, parameters) name,
enum class Call { FW_PLATFORM_CALLS(FW_FAULT_CALL) };
#undef FW_FAULT_CALL
// NOLINTNEXTLINE(bugprone-macro-parentheses): adds one per call to a sum
#define FW_FAULT_COUNT(result, name, parameters) +1
inline constexpr std::size_t kCallCount = 0 FW_PLATFORM_CALLS(FW_FAULT_COUNT);
#undef FW_FAULT_COUNT

const char* callName(Call call);

// Puts itself over the table in force for its lifetime; one at a time.
class FaultInjector {
  public:
    FaultInjector();
    ~FaultInjector();
    FaultInjector(const FaultInjector&) = delete;
    FaultInjector& operator=(const FaultInjector&) = delete;

    // Fails the n-th call (counted from 1) of `call` that matches `pathPart`.
    void failNth(Call call, int nth, std::string pathPart = {});
    // Fails every call of `call` from the n-th matching one on.
    void failFrom(Call call, int nth = 1, std::string pathPart = {});
    // The n-th call of `read` (readFile or readFileAt) delivers at most `limit` bytes (0: as
    // at the end of the file).
    void shortReadNth(Call read, int nth, std::size_t limit);
    // Every call of `read` from the n-th on delivers at most `limit` bytes.
    void shortReadFrom(Call read, int nth, std::size_t limit);

    // How many calls of `call` went through this layer, failed ones included.
    int calls(Call call) const;
    // How many calls were failed or shortened.
    int injected() const;

    // The table this layer forwards to.
    const Platform& below() const { return *below_; }

    // For the forwarding functions: decides what happens to the next call of `call`. Calls
    // may come from several threads; they are counted one at a time.
    enum class Verdict { pass, fail, shorten };
    Verdict decide(Call call, const char* path, std::size_t& limit);

  private:
    struct Rule {
        Call call;
        int nth;
        bool onwards;
        bool shorten;
        std::size_t limit;
        std::string pathPart;
        int matched = 0;
    };
    mutable std::mutex lock_;
    std::vector<Rule> rules_;
    std::array<int, kCallCount> counts_{};
    int injected_ = 0;
    const Platform* below_;
    const Platform* replaced_;
};

}  // namespace fw::fault
