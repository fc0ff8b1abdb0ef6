#include "platform/adapter_lock.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/adapter_lock_file.h"

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

}  // namespace

namespace lockfile {

std::string PathFor(const std::string& adapter, std::string& error) {
    const std::string directory = LockDirectory();
    if (directory.empty()) {
        error = "no lock directory (/run/lock, /var/lock or /tmp)";
        return {};
    }
    return directory + "/" + AdapterLockFileName(adapter, NetworkNamespaceTag());
}

std::intptr_t Open(const std::string& path, std::string& error) {
    return OpenLockFile(path, error);
}

std::optional<bool> TryLock(std::intptr_t file, const std::string& path, std::string& error) {
    if (flock(static_cast<int>(file), LOCK_EX | LOCK_NB) == 0) {
        return true;
    }
    if (errno == EWOULDBLOCK || errno == EINTR) {
        return false;
    }
    error = path + ": " + std::strerror(errno);
    return std::nullopt;
}

std::string ReadNote(std::intptr_t file) {
    char text[kMaxHolderText] = {};
    const ssize_t n = pread(static_cast<int>(file), text, sizeof text - 1, 0);
    return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

void WriteNote(std::intptr_t file, const std::string& owner) {
    const std::string note = owner + "\n";
    if (ftruncate(static_cast<int>(file), 0) == 0) {
        [[maybe_unused]] const ssize_t written =
            pwrite(static_cast<int>(file), note.data(), note.size(), 0);
    }
}

void Close(std::intptr_t file) {
    close(static_cast<int>(file));
}

}  // namespace lockfile

std::string ProcessIdentity() {
    const uid_t uid = geteuid();
    const passwd* entry = getpwuid(uid);
    const std::string user = entry != nullptr ? entry->pw_name : "uid " + std::to_string(uid);
    return "pid " + std::to_string(getpid()) + ", user " + user;
}
