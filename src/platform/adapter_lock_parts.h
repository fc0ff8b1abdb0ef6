#pragma once

// The adapter lock's parts that do not depend on the operating system (posix/adapter_lock.cpp and
// win32/adapter_lock.cpp share them).

#include <chrono>
#include <functional>
#include <optional>
#include <string>

// "vx418ctl.<adapter, made safe for a file name><tag>.lock"
std::string AdapterLockFileName(const std::string& adapter, const std::string& tag);
// The holder's note as read from the file, without the line end and padding behind it.
std::string TrimmedHolderNote(std::string note);

enum class LockAttempt { Locked, Failed, TimedOut };
// Calls tryOnce until it locks (true), fails (nothing) or wait has passed; false means busy.
LockAttempt PollForLock(std::chrono::milliseconds wait,
                        const std::function<std::optional<bool>()>& tryOnce);
