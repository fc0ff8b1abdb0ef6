#include "platform/adapter_lock.h"

#include <windows.h>

#include <cstdlib>

#include "platform/adapter_lock_file.h"
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

HANDLE Handle(std::intptr_t file) {
    return reinterpret_cast<HANDLE>(file);
}

}  // namespace

namespace lockfile {

std::string PathFor(const std::string& adapter, std::string& error) {
    const std::string directory = LockDirectory();
    if (directory.empty()) {
        error = "no directory for the lock file";
        return {};
    }
    return directory + "\\" + AdapterLockFileName(adapter, "");
}

std::intptr_t Open(const std::string& path, std::string& error) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = path + ": cannot open (error " + std::to_string(GetLastError()) + ")";
        return -1;
    }
    return reinterpret_cast<std::intptr_t>(file);
}

std::optional<bool> TryLock(std::intptr_t file, const std::string& path, std::string& error) {
    OVERLAPPED range{};
    range.OffsetHigh = kLockOffsetHigh;
    if (LockFileEx(Handle(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &range) != 0) {
        return true;
    }
    if (GetLastError() == ERROR_LOCK_VIOLATION) {
        return false;
    }
    error = path + ": cannot lock (error " + std::to_string(GetLastError()) + ")";
    return std::nullopt;
}

std::string ReadNote(std::intptr_t file) {
    char text[kMaxHolderText] = {};
    DWORD read = 0;
    OVERLAPPED start{};
    if (!ReadFile(Handle(file), text, kMaxHolderText - 1, &read, &start)) {
        return {};
    }
    return std::string(text, read);
}

void WriteNote(std::intptr_t file, const std::string& owner) {
    const std::string note = owner + "\r\n";
    DWORD written = 0;
    OVERLAPPED start{};
    if (WriteFile(Handle(file), note.data(), static_cast<DWORD>(note.size()), &written, &start)) {
        SetFilePointer(Handle(file), static_cast<LONG>(written), nullptr, FILE_BEGIN);
        SetEndOfFile(Handle(file));
    }
}

void Close(std::intptr_t file) {
    CloseHandle(Handle(file));
}

}  // namespace lockfile

std::string ProcessIdentity() {
    const char* user = std::getenv("USERNAME");
    return "pid " + std::to_string(GetCurrentProcessId()) + ", user " +
           (user != nullptr ? user : "unknown");
}
