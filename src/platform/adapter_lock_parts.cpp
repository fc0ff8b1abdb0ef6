#include "platform/adapter_lock_parts.h"

#include <thread>

namespace {

constexpr std::chrono::milliseconds kPollInterval{10};

std::string SafeFileNamePart(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '_';
        out += safe ? c : '_';
    }
    return out;
}

}  // namespace

std::string AdapterLockFileName(const std::string& adapter, const std::string& tag) {
    return "vx418ctl." + SafeFileNamePart(adapter) + tag + ".lock";
}

std::string TrimmedHolderNote(std::string note) {
    while (!note.empty() && (note.back() == '\n' || note.back() == '\r' || note.back() == '\0')) {
        note.pop_back();
    }
    return note;
}

LockAttempt PollForLock(std::chrono::milliseconds wait,
                        const std::function<std::optional<bool>()>& tryOnce) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const std::optional<bool> locked = tryOnce();
        if (!locked) {
            return LockAttempt::Failed;
        }
        if (*locked) {
            return LockAttempt::Locked;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return LockAttempt::TimedOut;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}
