#include "platform/adapter_lock.h"

#include <windows.h>

#include <cstdlib>

#include "platform/adapter_lock_parts.h"
#include "platform/win32/temp_directory.h"

// A byte range far past the holder's note is locked (LockFileEx), so the note itself stays
// readable by the copies that wait. Windows drops the lock when the process ends.
namespace {

constexpr DWORD kLockOffsetHigh = 0x7fffffff;
constexpr DWORD kMaxHolderText = 512;

// Shared by every user of the machine: ProgramData, else the user's temporary folder.
std::string LockDirectory() {
    const char* shared = std::getenv("ProgramData");
    if (shared != nullptr && shared[0] != '\0') {
        const std::string directory = std::string(shared) + "\\vx418";
        CreateDirectoryA(directory.c_str(), nullptr);
        const DWORD attributes = GetFileAttributesA(directory.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return directory;
        }
    }
    return UserTempDirectory();
}

bool TryLock(HANDLE file) {
    OVERLAPPED range{};
    range.OffsetHigh = kLockOffsetHigh;
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range) !=
           0;
}

std::string ReadHolder(HANDLE file) {
    char text[kMaxHolderText] = {};
    DWORD read = 0;
    OVERLAPPED start{};
    if (!ReadFile(file, text, kMaxHolderText - 1, &read, &start)) {
        return {};
    }
    return TrimmedHolderNote(std::string(text, read));
}

}  // namespace

AdapterLock::AdapterLock(const std::string& adapter, const std::string& owner,
                         std::chrono::milliseconds wait) {
    const std::string directory = LockDirectory();
    if (directory.empty()) {
        error_ = "no directory for the lock file";
        return;
    }
    path_ = directory + "\\" + AdapterLockFileName(adapter, "");
    HANDLE file = CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error_ = path_ + ": cannot open (error " + std::to_string(GetLastError()) + ")";
        return;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    const LockAttempt attempt = PollForLock(wait, [&]() -> std::optional<bool> {
        if (TryLock(file)) {
            return true;
        }
        if (GetLastError() == ERROR_LOCK_VIOLATION) {
            return false;
        }
        error_ = path_ + ": cannot lock (error " + std::to_string(GetLastError()) + ")";
        return std::nullopt;
    });
    if (attempt == LockAttempt::TimedOut) {
        holder_ = ReadHolder(file);
        state_ = State::Busy;
    }
    if (attempt != LockAttempt::Locked) {
        return;
    }
    state_ = State::Held;
    const std::string note = owner + "\r\n";
    DWORD written = 0;
    OVERLAPPED start{};
    if (WriteFile(file, note.data(), static_cast<DWORD>(note.size()), &written, &start)) {
        SetFilePointer(file, static_cast<LONG>(written), nullptr, FILE_BEGIN);
        SetEndOfFile(file);
    }
}

AdapterLock::~AdapterLock() {
    if (handle_ != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
    }
}

std::string ProcessIdentity() {
    const char* user = std::getenv("USERNAME");
    return "pid " + std::to_string(GetCurrentProcessId()) + ", user " +
           (user != nullptr ? user : "unknown");
}
