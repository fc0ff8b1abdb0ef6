#include "net/posix/helper_backend.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "net/capture_messages.h"
#include "net/posix/pcap_backend.h"
#include "platform/interface_query.h"

namespace {

using Message = std::vector<std::uint8_t>;

// Long enough for an open (list, query, activate twice) on a loaded machine.
constexpr int kAnswerTimeoutMs = 10000;
// A helper whose sockets are closed ends at once; one that does not is killed after this.
constexpr auto kHelperExitWait = std::chrono::seconds(1);
// What pcap_loop returns after pcap_breakloop.
constexpr int kLoopBroken = -2;

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int Get() const { return fd_; }
    void Reset() {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

// Our end and the helper's end; both close on exec, so no other child inherits them. The
// helper's end is kept above standard error, so placing it at 0 or 1 cannot overwrite the other.
bool SocketPair(UniqueFd& ours, UniqueFd& theirs) {
    int fds[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) {
        return false;
    }
    ours = UniqueFd(fds[0]);
    theirs = UniqueFd(fds[1]);
    if (theirs.Get() <= STDERR_FILENO) {
        theirs = UniqueFd(fcntl(theirs.Get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
    }
    return theirs.Get() >= 0;
}

std::string ErrorText(int error) {
    return std::strerror(error);
}

std::optional<MessageReader> Read(const std::optional<Message>& answer) {
    return answer ? MessageReader::Of(*answer) : std::nullopt;
}

// One running helper and our ends of its sockets. Destruction closes them, which ends the
// helper, and reaps it.
class HelperProcess {
  public:
    // nullptr when it cannot be started; error says why and startError holds the errno.
    static std::unique_ptr<HelperProcess> Start(const std::string& path, std::string& error,
                                                int& startError) {
        UniqueFd control, controlTheirs, frames, framesTheirs;
        if (!SocketPair(control, controlTheirs) || !SocketPair(frames, framesTheirs)) {
            startError = errno;
            error = "cannot make the sockets for " + path + ": " + ErrorText(startError);
            return nullptr;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, controlTheirs.Get(), STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, framesTheirs.Get(), STDOUT_FILENO);
        // Signals as a fresh program has them, whatever the spawning thread blocks or ignores.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        std::string name = kCaptureHelperName;
        char* argv[] = {name.data(), nullptr};
        char* envp[] = {nullptr};
        pid_t pid = -1;
        startError = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, envp);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        if (startError != 0) {
            error = "cannot run " + path + ": " + ErrorText(startError);
            return nullptr;
        }
        return std::unique_ptr<HelperProcess>(
            new HelperProcess(pid, std::move(control), std::move(frames)));
    }

    ~HelperProcess() {
        control_.Reset();
        frames_.Reset();
        const auto deadline = std::chrono::steady_clock::now() + kHelperExitWait;
        while (waitpid(pid_, nullptr, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    // One request and its answer, one at a time; nullopt when the helper is gone or silent.
    std::optional<Message> Ask(const Message& request) {
        const std::lock_guard lock(mutex_);
        if (send(control_.Get(), request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size())) {
            return std::nullopt;
        }
        pollfd answer{control_.Get(), POLLIN, 0};
        int ready = 0;
        do {
            ready = poll(&answer, 1, kAnswerTimeoutMs);
        } while (ready < 0 && errno == EINTR);
        const ssize_t length =
            ready > 0 ? recv(control_.Get(), received_.data(), received_.size(), 0) : -1;
        if (length <= 0) {
            return std::nullopt;
        }
        return Message(received_.begin(), received_.begin() + length);
    }

    int FramesFd() const { return frames_.Get(); }

  private:
    HelperProcess(pid_t pid, UniqueFd control, UniqueFd frames)
        : pid_(pid), control_(std::move(control)), frames_(std::move(frames)) {}

    const pid_t pid_;
    UniqueFd control_;
    UniqueFd frames_;
    std::mutex mutex_;
    Message received_ = Message(kCaptureMaxMessage);
};

class HelperCaptureHandle final : public CaptureHandle {
  public:
    HelperCaptureHandle(std::unique_ptr<HelperProcess> helper, UniqueFd wake)
        : helper_(std::move(helper)), wake_(std::move(wake)) {}

    int SendPacket(const std::uint8_t* frame, std::size_t length) override {
        const auto bytes =
            helper_->Ask(MessageWriter(CaptureMessage::Send).Rest({frame, length}).Finish());
        auto answer = Read(bytes);
        std::int32_t status = -1;
        std::uint32_t refused = 0;
        std::string error;
        if (!answer || answer->Type() != CaptureMessage::Sent || !answer->I32(status) ||
            !answer->U32(refused) || !answer->Text(error)) {
            SetError("vx418-capture did not answer a send");
            return -1;
        }
        if (status != 0) {
            SetError(error);
        }
        return status;
    }

    int Loop(const FrameCallback& onFrame) override {
        std::array<pollfd, 2> ready{{{helper_->FramesFd(), POLLIN, 0}, {wake_.Get(), POLLIN, 0}}};
        for (;;) {
            if (poll(ready.data(), ready.size(), -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                SetError("poll: " + ErrorText(errno));
                return -1;
            }
            if (ready[1].revents != 0) {
                std::uint64_t breaks = 0;
                [[maybe_unused]] const ssize_t drained = read(wake_.Get(), &breaks, sizeof breaks);
                return kLoopBroken;
            }
            const ssize_t length = recv(helper_->FramesFd(), received_.data(), received_.size(), 0);
            if (length < 0 && errno == EINTR) {
                continue;
            }
            if (length <= 0) {
                SetError("vx418-capture ended");
                return -1;
            }
            if (const auto ended =
                    Deliver({received_.data(), static_cast<std::size_t>(length)}, onFrame)) {
                return *ended;
            }
        }
    }

    void BreakLoop() override {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wake_.Get(), &one, sizeof one);
    }

    std::string LastError() const override {
        const std::lock_guard lock(errorMutex_);
        return lastError_;
    }

    std::optional<CaptureDrops> Drops() const override {
        const auto bytes = helper_->Ask(MessageWriter(CaptureMessage::Drops).Finish());
        const auto answer = Read(bytes);
        const auto drops = answer ? DecodeDropped(*answer) : std::nullopt;
        return drops.value_or(std::nullopt);
    }

  private:
    // Hands every frame of a Frames message on; the loop's result when the message ends it.
    std::optional<int> Deliver(std::span<const std::uint8_t> bytes, const FrameCallback& onFrame) {
        auto message = MessageReader::Of(bytes);
        if (message && message->Type() == CaptureMessage::CaptureEnded) {
            std::int32_t result = -1;
            std::string error;
            message->I32(result);
            message->Text(error);
            SetError(error);
            return result < 0 ? result : -1;
        }
        if (!message || message->Type() != CaptureMessage::Frames) {
            SetError("vx418-capture sent a message that is not a frame");
            return -1;
        }
        std::span<const std::uint8_t> frame;
        while (!message->AtEnd() && message->Block(frame)) {
            try {
                onFrame(frame.data(), frame.size());
            } catch (...) {
                // As with libpcap: a handler's exception drops the frame, not the loop.
            }
        }
        return std::nullopt;
    }

    void SetError(std::string text) {
        const std::lock_guard lock(errorMutex_);
        lastError_ = std::move(text);
    }

    std::unique_ptr<HelperProcess> helper_;
    UniqueFd wake_;                                   // BreakLoop's signal to Loop
    Message received_ = Message(kCaptureMaxMessage);  // only Loop's thread uses it
    mutable std::mutex errorMutex_;
    std::string lastError_;
};

}  // namespace

HelperCaptureBackend::HelperCaptureBackend(std::string helperPath)
    : helperPath_(std::move(helperPath)) {}

std::optional<std::vector<AdapterInfo>> HelperCaptureBackend::FindAllDevices(std::string& error) {
    int startError = 0;
    const auto helper = HelperProcess::Start(helperPath_, error, startError);
    if (!helper) {
        return PcapCaptureBackend().FindAllDevices(error);
    }
    const auto bytes = helper->Ask(MessageWriter(CaptureMessage::List).Finish());
    auto answer = Read(bytes);
    if (answer && answer->Type() == CaptureMessage::ListFailed) {
        answer->Text(error);
        return std::nullopt;
    }
    auto adapters = answer ? DecodeAdapters(*answer) : std::nullopt;
    if (!adapters) {
        error = "vx418-capture gave no adapter list";
    }
    return adapters;
}

std::unique_ptr<CaptureHandle> HelperCaptureBackend::Open(const std::string& adapterName,
                                                          const OpenParameters& parameters,
                                                          std::string& error) {
    OpenOutcome outcome;
    return OpenWithOutcome(adapterName, parameters, error, outcome);
}

std::unique_ptr<CaptureHandle> HelperCaptureBackend::OpenWithOutcome(const std::string& adapterName,
                                                                     const OpenParameters&,
                                                                     std::string& error,
                                                                     OpenOutcome& outcome) {
    outcome = {};
    int startError = 0;
    auto helper = HelperProcess::Start(helperPath_, error, startError);
    if (!helper) {
        // Most often a user outside the group that may run it.
        outcome.notPermitted = startError == EACCES || startError == EPERM;
        return nullptr;
    }
    const auto bytes = helper->Ask(MessageWriter(CaptureMessage::Open).Text(adapterName).Finish());
    auto answer = Read(bytes);
    std::uint8_t notPermitted = 0;
    if (answer && answer->Type() == CaptureMessage::OpenFailed && answer->U8(notPermitted) &&
        answer->Text(error)) {
        outcome.notPermitted = notPermitted != 0;
        return nullptr;
    }
    if (!answer || answer->Type() != CaptureMessage::Opened || !answer->Text(outcome.warnings)) {
        error = "vx418-capture did not answer the open";
        return nullptr;
    }
    UniqueFd wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (wake.Get() < 0) {
        error = "eventfd: " + ErrorText(errno);
        return nullptr;
    }
    return std::make_unique<HelperCaptureHandle>(std::move(helper), std::move(wake));
}

std::optional<std::array<std::uint8_t, 6>> HelperCaptureBackend::QueryCurrentAddress(
    const std::string& driverName) {
    return QueryInterfaceMac(driverName);
}

std::optional<std::string> CaptureHelperBesideProgram() {
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return std::nullopt;
    }
    const auto helper = program.parent_path() / kCaptureHelperName;
    if (!std::filesystem::exists(helper, error)) {
        return std::nullopt;
    }
    return helper.string();
}

bool ProcessMayCapture() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3]{};
    return syscall(SYS_capget, &header, sets) == 0 &&
           (sets[0].effective & (1u << CAP_NET_RAW)) != 0;
}
