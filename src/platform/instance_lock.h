#pragma once

#include <string>

// A lock held by one running copy of the program per user and display, released by the kernel
// when the process ends however it ends (flock on a file), so a crashed copy never blocks the
// next start.
class InstanceLock {
  public:
    enum class State {
        Held,         // this process holds it
        HeldByOther,  // another process holds it: this copy must not start
        Unavailable,  // no lock file could be made; the caller decides without one
    };

    // Takes the lock on the file at path without waiting.
    explicit InstanceLock(const std::string& path);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    State state() const { return state_; }
    // What went wrong when the state is Unavailable.
    const std::string& error() const { return error_; }

  private:
    int fd_ = -1;
    State state_ = State::Unavailable;
    std::string error_;
};

// Where the lock of one program on one display lives: $XDG_RUNTIME_DIR (private to the user's
// session), else a directory of the user's own under /tmp, created 0700 when missing and used
// only when it belongs to the user and nobody else may write to it. Empty when neither will do.
// sessionKey names the display (DISPLAY, WAYLAND_DISPLAY or the platform); '/' is replaced.
std::string InstanceLockPath(const std::string& program, const std::string& sessionKey);
