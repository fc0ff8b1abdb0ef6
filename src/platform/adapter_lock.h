#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// One program at a time on one network adapter, whoever runs it: a lock file per adapter in the
// system's shared lock directory. Two copies on one adapter share its MAC address, so each would
// take the other's replies for its own. The holder writes who it is into the file, so a copy that
// gives up waiting can name it; the OS releases the lock when the process ends however it ends.
class AdapterLock {
  public:
    enum class State {
        Held,         // this process holds it
        Busy,         // another process held it for the whole wait
        Unavailable,  // no lock file could be used; the caller decides without one
    };

    // Waits up to wait for the lock of the adapter named adapter (any text: it is made safe for
    // a file name). owner is written into the lock file once held.
    AdapterLock(const std::string& adapter, const std::string& owner,
                std::chrono::milliseconds wait);
    ~AdapterLock();
    AdapterLock(const AdapterLock&) = delete;
    AdapterLock& operator=(const AdapterLock&) = delete;

    State state() const { return state_; }
    const std::string& path() const { return path_; }
    // Busy: what the holder wrote about itself (empty when it wrote nothing yet).
    const std::string& holder() const { return holder_; }
    // Unavailable: why.
    const std::string& error() const { return error_; }

  private:
    std::intptr_t handle_ = -1;  // a descriptor on Linux, a HANDLE on Windows
    State state_ = State::Unavailable;
    std::string path_;
    std::string holder_;
    std::string error_;
};

// "pid 1234, user alice": who this process is, for a lock file.
std::string ProcessIdentity();
