#include "platform/adapter_lock.h"

#include <functional>
#include <optional>
#include <thread>

#include "platform/adapter_lock_file.h"

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

// The holder's note as read from the file, without the line end and padding behind it.
std::string TrimmedHolderNote(std::string note) {
    while (!note.empty() && (note.back() == '\n' || note.back() == '\r' || note.back() == '\0')) {
        note.pop_back();
    }
    return note;
}

enum class LockAttempt { Locked, Failed, TimedOut };

// Calls tryOnce until it locks (true), fails (nothing) or wait has passed; false means busy.
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

}  // namespace

std::string AdapterLockFileName(const std::string& adapter, const std::string& tag) {
    return "vx418ctl." + SafeFileNamePart(adapter) + tag + ".lock";
}

AdapterLock::AdapterLock(const std::string& adapter, const std::string& owner,
                         std::chrono::milliseconds wait) {
    path_ = lockfile::PathFor(adapter, error_);
    if (path_.empty()) {
        return;
    }
    handle_ = lockfile::Open(path_, error_);
    if (handle_ == -1) {
        return;
    }
    const LockAttempt attempt =
        PollForLock(wait, [&] { return lockfile::TryLock(handle_, path_, error_); });
    if (attempt == LockAttempt::TimedOut) {
        holder_ = TrimmedHolderNote(lockfile::ReadNote(handle_));
        state_ = State::Busy;
    }
    if (attempt != LockAttempt::Locked) {
        return;
    }
    state_ = State::Held;
    lockfile::WriteNote(handle_, owner);
}

AdapterLock::~AdapterLock() {
    if (handle_ != -1) {
        lockfile::Close(handle_);
    }
}
