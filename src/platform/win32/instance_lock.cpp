#include "platform/instance_lock.h"

#include <windows.h>
// clang-format off
#include <fcntl.h>
#include <io.h>
// clang-format on

#include <algorithm>
#include <cstdlib>

#include "platform/win32/temp_directory.h"

// The file is opened for exclusive use (no sharing): a second copy's open fails with a sharing
// violation, and Windows closes the file when the process ends however it ends.
namespace {

std::string LockDirectory() {
    // The user's own local application data, else the user's temporary folder; both are
    // private to the user.
    const char* local = std::getenv("LOCALAPPDATA");
    const DWORD attributes = local != nullptr ? GetFileAttributesA(local) : INVALID_FILE_ATTRIBUTES;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return local;
    }
    return UserTempDirectory();
}

std::string SystemText(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = length > 0 ? std::string(text, length) : "error " + std::to_string(code);
    LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) {
        out.pop_back();
    }
    return out;
}

}  // namespace

InstanceLock::InstanceLock(const std::string& path) {
    if (path.empty()) {
        error_ = "no private directory for the lock file";
        return;
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_SHARING_VIOLATION) {
            state_ = State::HeldByOther;
        } else {
            error_ = path + ": " + SystemText(code);
        }
        return;
    }
    // Kept as a descriptor, as on Linux: closing it ends the exclusive use.
    fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR);
    if (fd_ < 0) {
        CloseHandle(file);
        error_ = path + ": cannot keep the lock file open";
        return;
    }
    state_ = State::Held;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) {
        _close(fd_);
    }
}

std::string InstanceLockPath(const std::string& program, const std::string& sessionKey) {
    const std::string directory = LockDirectory();
    if (directory.empty()) {
        return {};
    }
    std::string key = sessionKey;
    std::replace_if(
        key.begin(), key.end(),
        [](char c) { return c == '/' || c == '\\' || c == ':' || c == '*' || c == '?'; }, '_');
    return directory + "\\" + program + "-" + key + ".lock";
}
