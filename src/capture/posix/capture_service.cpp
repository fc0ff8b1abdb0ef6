#include "capture/posix/capture_service.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "capture/capture_requests.h"
#include "net/capture_messages.h"
#include "net/posix/pcap_backend.h"
#include "platform/interface_query.h"

namespace {

// How often a caller that went away without closing its socket is noticed.
constexpr int kParentCheckMs = 500;
constexpr int kExitCallerGone = 0;
constexpr int kExitBadRequest = 2;
// The window's parameters (the snapshot length explains itself there); the caller cannot choose.
constexpr OpenParameters kOpenParameters{};

using Message = std::vector<std::uint8_t>;

// MSG_NOSIGNAL: a caller that went away must not end the helper with SIGPIPE mid-answer.
bool SendMessage(int fd, const Message& message) {
    for (;;) {
        const ssize_t sent = send(fd, message.data(), message.size(), MSG_NOSIGNAL);
        if (sent >= 0 || errno != EINTR) {
            return sent == static_cast<ssize_t>(message.size());
        }
    }
}

// libpcap as the helper uses it: the fixed filter and parameters, whatever it is asked, and an
// open adapter's frames passed on over the frame socket from its open on.
class RelayingLibrary final : public CaptureBackend {
  public:
    explicit RelayingLibrary(int framesFd) : framesFd_(framesFd) {}

    std::optional<std::vector<AdapterInfo>> FindAllDevices(std::string& error) override {
        return pcap_.FindAllDevices(error);
    }
    std::unique_ptr<CaptureHandle> Open(const std::string& adapterName, const OpenParameters&,
                                        std::string& error) override {
        OpenOutcome outcome;
        return OpenWithOutcome(adapterName, kOpenParameters, error, outcome);
    }
    std::unique_ptr<CaptureHandle> OpenWithOutcome(const std::string& adapterName,
                                                   const OpenParameters&, std::string& error,
                                                   OpenOutcome& outcome) override {
        auto handle = pcap_.OpenPcap(adapterName, kOpenParameters, error, outcome);
        if (handle) {
            // The handle is never closed: every way out of the helper is _Exit.
            PcapCaptureHandle* const capture = handle.get();
            std::thread([this, capture] { Relay(*capture); }).detach();
        }
        return handle;
    }
    std::optional<std::array<std::uint8_t, 6>> QueryCurrentAddress(
        const std::string& driverName) override {
        return QueryInterfaceMac(driverName);
    }

  private:
    // The capture thread: whatever has arrived goes to the caller as one message. A caller that
    // does not read makes the send wait, and the frames wait in the kernel's capture buffer.
    void Relay(PcapCaptureHandle& handle) const {
        MessageWriter batch(CaptureMessage::Frames);
        bool delivered = true;
        const auto flush = [&] {
            if (delivered && batch.HasFields()) {
                delivered = SendMessage(framesFd_, batch.Finish());
            }
        };
        int result = 0;
        while (delivered && result >= 0) {
            result = handle.Dispatch([&](const std::uint8_t* frame, std::size_t length) {
                if (batch.Size() + kCaptureLengthSize + length > kCaptureBatchBytes) {
                    flush();
                }
                batch.Block({frame, length});
            });
            flush();
        }
        if (delivered) {
            SendMessage(framesFd_, MessageWriter(CaptureMessage::CaptureEnded)
                                       .I32(result)
                                       .Text(handle.LastError())
                                       .Finish());
        }
    }

    const int framesFd_;
    PcapCaptureBackend pcap_;  // immediate mode and the fixed filter: not the caller's choice
};

}  // namespace

void ServeCaller(int controlFd, int framesFd, pid_t parent) {
    // Never destroyed: every way out is _Exit, with the capture thread still in the library.
    RelayingLibrary library(framesFd);
    CaptureRequests requests(
        library, [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    Message buffer(kCaptureMaxMessage);
    for (;;) {
        pollfd control{controlFd, POLLIN, 0};
        const int ready = poll(&control, 1, kParentCheckMs);
        if (getppid() != parent) {
            std::_Exit(kExitCallerGone);
        }
        if (ready <= 0) {
            continue;
        }
        const ssize_t length = recv(controlFd, buffer.data(), buffer.size(), 0);
        if (length == 0 || (length < 0 && errno != EINTR)) {
            std::_Exit(kExitCallerGone);  // the caller closed its end
        }
        if (length < 0) {
            continue;
        }
        const auto answer = requests.Answer({buffer.data(), static_cast<std::size_t>(length)});
        if (!answer) {
            std::fputs("vx418-capture: a request it does not know; ending\n", stderr);
            std::_Exit(kExitBadRequest);
        }
        if (!SendMessage(controlFd, *answer)) {
            std::_Exit(kExitCallerGone);
        }
    }
}
