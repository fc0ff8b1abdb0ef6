#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// A directory only we may write to: anything else could be swapped or pre-filled by another
// user.
bool PrivateDirectory(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string LockDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/' && PrivateDirectory(runtime)) {
        return runtime;
    }
    const std::string fallback = "/tmp/vx418-" + std::to_string(geteuid());
    if (mkdir(fallback.c_str(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    return PrivateDirectory(fallback) ? fallback : std::string();
}

}  // namespace

InstanceLock::InstanceLock(const std::string& path) {
    if (path.empty()) {
        error_ = "no private directory for the lock file";
        return;
    }
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) {
        error_ = path + ": " + std::strerror(errno);
        return;
    }
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
        state_ = State::Held;
    } else if (errno == EWOULDBLOCK) {
        state_ = State::HeldByOther;
    } else {
        error_ = path + ": " + std::strerror(errno);
    }
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

std::string InstanceLockPath(const std::string& program, const std::string& sessionKey) {
    const std::string directory = LockDirectory();
    if (directory.empty()) {
        return {};
    }
    std::string key = sessionKey;
    std::replace(key.begin(), key.end(), '/', '_');
    return directory + "/" + program + "-" + key + ".lock";
}
