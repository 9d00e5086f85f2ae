#include "platform/fault/FaultPlatform.h"

#include <string_view>
#include <tuple>
#include <type_traits>

namespace fw::fault {

namespace {

FaultInjector* active = nullptr;

// What a failed call returns, as the Win32 call would report its failure.
template <typename R>
R failure() {
    if constexpr (std::is_same_v<R, bool>) {
        return false;
    } else if constexpr (std::is_same_v<R, FindStep>) {
        return FindStep::failed;
    } else if constexpr (std::is_same_v<R, Resource>) {
        return Resource{};
    } else if constexpr (std::is_same_v<R, FolderVerdict>) {
        return FolderVerdict::failed;
    } else if constexpr (std::is_same_v<R, uint32_t>) {
        return kInvalidAttributes;
    } else if constexpr (std::is_void_v<R>) {
        return;
    } else {
        return static_cast<R>(-1);  // handles, counts, positions, exit statuses
    }
}

template <Call C, auto Member, typename Signature>
struct Forward;

template <Call C, auto Member, typename R, typename... Args>
struct Forward<C, Member, R (*)(Args...)> {
    static R call(Args... args) {
        const char* path = nullptr;
        if constexpr (sizeof...(Args) > 0) {
            using First = std::tuple_element_t<0, std::tuple<Args...>>;
            if constexpr (std::is_same_v<First, const char*>) {
                path = std::get<0>(std::forward_as_tuple(args...));
            }
        }
        std::size_t limit = 0;
        const auto verdict = active->decide(C, path, limit);
        if (verdict == FaultInjector::Verdict::fail) {
            // A release that reports failure still releases, as CloseHandle and
            // FindClose do: failing one must not leak the handle it was given (nor the
            // lock, which the system gives up when the process ends anyway).
            if constexpr (C == Call::closeFile || C == Call::findClose ||
                          C == Call::releaseSingleInstance) {
                (active->below().*Member)(args...);
            }
            return failure<R>();
        }
        if constexpr (C == Call::readFile || C == Call::readFileAt) {
            if (verdict == FaultInjector::Verdict::shorten) {
                return shortRead(limit, args...);
            }
        }
        return (active->below().*Member)(args...);
    }

    static R shortRead(std::size_t limit, FileHandle file, void* buffer, std::size_t count) {
        if (limit == 0) {
            return 0;
        }
        return active->below().readFile(file, buffer, count < limit ? count : limit);
    }
    static R shortRead(std::size_t limit, FileHandle file, void* buffer, std::size_t count,
                       std::uint64_t offset) {
        if (limit == 0) {
            return 0;
        }
        return active->below().readFileAt(file, buffer, count < limit ? count : limit, offset);
    }
};

#define FW_FORWARD(result, name, parameters) \
    .name = &Forward<Call::name, &Platform::name, decltype(Platform::name)>::call,
const Platform forwardingTable = {FW_PLATFORM_CALLS(FW_FORWARD)};
#undef FW_FORWARD

}  // namespace

const char* callName(Call call) {
#define FW_CALL_NAME(result, name, parameters) #name,
    static constexpr const char* names[kCallCount] = {FW_PLATFORM_CALLS(FW_CALL_NAME)};
#undef FW_CALL_NAME
    return names[static_cast<std::size_t>(call)];
}

FaultInjector::FaultInjector() : below_(&os()), replaced_(nullptr) {
    active = this;
    replaced_ = setPlatform(&forwardingTable);
}

FaultInjector::~FaultInjector() {
    setPlatform(replaced_);
    active = nullptr;
}

void FaultInjector::failNth(Call call, int nth, std::string pathPart) {
    rules_.push_back({call, nth, false, false, 0, std::move(pathPart)});
}

void FaultInjector::failFrom(Call call, int nth, std::string pathPart) {
    rules_.push_back({call, nth, true, false, 0, std::move(pathPart)});
}

void FaultInjector::shortReadNth(Call read, int nth, std::size_t limit) {
    rules_.push_back({read, nth, false, true, limit, {}});
}

void FaultInjector::shortReadFrom(Call read, int nth, std::size_t limit) {
    rules_.push_back({read, nth, true, true, limit, {}});
}

int FaultInjector::calls(Call call) const {
    const std::lock_guard guard(lock_);
    return counts_[static_cast<std::size_t>(call)];
}

int FaultInjector::injected() const {
    const std::lock_guard guard(lock_);
    return injected_;
}

FaultInjector::Verdict FaultInjector::decide(Call call, const char* path, std::size_t& limit) {
    const std::lock_guard guard(lock_);
    ++counts_[static_cast<std::size_t>(call)];
    Verdict verdict = Verdict::pass;
    for (Rule& rule : rules_) {
        if (rule.call != call) {
            continue;
        }
        if (!rule.pathPart.empty() &&
            (path == nullptr ||
             std::string_view(path).find(rule.pathPart) == std::string_view::npos)) {
            continue;
        }
        ++rule.matched;
        const bool hit = rule.onwards ? rule.matched >= rule.nth : rule.matched == rule.nth;
        if (hit && verdict == Verdict::pass) {
            verdict = rule.shorten ? Verdict::shorten : Verdict::fail;
            limit = rule.limit;
        }
    }
    if (verdict != Verdict::pass) {
        ++injected_;
    }
    return verdict;
}

}  // namespace fw::fault
