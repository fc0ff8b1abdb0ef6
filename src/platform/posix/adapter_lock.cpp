#include "platform/adapter_lock.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/adapter_lock_parts.h"

namespace {

constexpr std::size_t kMaxHolderText = 512;
// Every user must be able to open the lock of an adapter that another user's copy created.
constexpr mode_t kLockFileMode = 0666;

std::string LockDirectory() {
    for (const char* directory : {"/run/lock", "/var/lock", "/tmp"}) {
        struct stat info {};
        if (stat(directory, &info) == 0 && S_ISDIR(info.st_mode)) {
            return directory;
        }
    }
    return {};
}

// Interface names are per network namespace, so the namespace is part of the key: copies on
// two namespaces' "eth0" do not share a wire.
std::string NetworkNamespaceTag() {
    struct stat info {};
    if (stat("/proc/self/ns/net", &info) != 0) {
        return {};
    }
    return ".net" + std::to_string(info.st_ino);
}

// Opens the lock file without O_CREAT when it exists: in a sticky shared directory the kernel
// refuses O_CREAT on another user's file (fs.protected_regular).
int OpenLockFile(const std::string& path, std::string& error) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == EACCES) {
            // flock needs no write access; only the holder's note is lost.
            fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (fd >= 0 || errno != ENOENT) {
            if (fd < 0) {
                error = path + ": " + std::strerror(errno);
            }
            return fd;
        }
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kLockFileMode);
        if (fd >= 0) {
            fchmod(fd, kLockFileMode);  // past the umask
            return fd;
        }
        if (errno != EEXIST) {
            error = path + ": " + std::strerror(errno);
            return -1;
        }
    }
    error = path + ": created and removed again while opening";
    return -1;
}

std::string ReadHolder(int fd) {
    char text[kMaxHolderText] = {};
    const ssize_t n = pread(fd, text, sizeof text - 1, 0);
    return TrimmedHolderNote(std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0));
}

}  // namespace

AdapterLock::AdapterLock(const std::string& adapter, const std::string& owner,
                         std::chrono::milliseconds wait) {
    const std::string directory = LockDirectory();
    if (directory.empty()) {
        error_ = "no lock directory (/run/lock, /var/lock or /tmp)";
        return;
    }
    path_ = directory + "/" + AdapterLockFileName(adapter, NetworkNamespaceTag());
    const int fd = OpenLockFile(path_, error_);
    if (fd < 0) {
        return;
    }
    handle_ = fd;
    const LockAttempt attempt = PollForLock(wait, [&]() -> std::optional<bool> {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        if (errno == EWOULDBLOCK || errno == EINTR) {
            return false;
        }
        error_ = path_ + ": " + std::strerror(errno);
        return std::nullopt;
    });
    if (attempt == LockAttempt::TimedOut) {
        holder_ = ReadHolder(fd);
        state_ = State::Busy;
    }
    if (attempt != LockAttempt::Locked) {
        return;
    }
    state_ = State::Held;
    const std::string note = owner + "\n";
    if (ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t written = pwrite(fd, note.data(), note.size(), 0);
    }
}

AdapterLock::~AdapterLock() {
    if (handle_ >= 0) {
        close(static_cast<int>(handle_));
    }
}

std::string ProcessIdentity() {
    const uid_t uid = geteuid();
    const passwd* entry = getpwuid(uid);
    const std::string user = entry != nullptr ? entry->pw_name : "uid " + std::to_string(uid);
    return "pid " + std::to_string(getpid()) + ", user " + user;
}
