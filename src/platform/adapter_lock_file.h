#pragma once

// What each operating system does for the adapter lock of adapter_lock.h: its lock file
// (posix/adapter_lock.cpp, win32/adapter_lock.cpp). The lock's course (open, wait, read the
// holder's note or leave one's own) is adapter_lock.cpp's, the same on both.

#include <cstdint>
#include <optional>
#include <string>

// "vx418ctl.<adapter, made safe for a file name><tag>.lock"
std::string AdapterLockFileName(const std::string& adapter, const std::string& tag);

namespace lockfile {

// Where the lock of this adapter lives; empty, with why in error, when there is no place for it.
std::string PathFor(const std::string& adapter, std::string& error);
// The lock file, opened (made when missing) for every user; -1, with why in error, on failure.
std::intptr_t Open(const std::string& path, std::string& error);
// Takes the lock without waiting: true taken, false held by another; nothing, with why in
// error, on failure.
std::optional<bool> TryLock(std::intptr_t file, const std::string& path, std::string& error);
// The holder's note as the file has it; the holder's own, once it holds the lock.
std::string ReadNote(std::intptr_t file);
void WriteNote(std::intptr_t file, const std::string& owner);
void Close(std::intptr_t file);

}  // namespace lockfile
