#include "capture/capture_service.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "capture/send_policy.h"
#include "net/capture_messages.h"
#include "net/pcap_backend.h"
#include "platform/interface_query.h"

namespace {

// How often a caller that went away without closing its socket is noticed.
constexpr int kParentCheckMs = 500;
constexpr int kExitCallerGone = 0;
constexpr int kExitBadRequest = 2;
constexpr std::int32_t kRefusedStatus = -1;
// The window's parameters but for the snapshot length. In immediate mode each slot of the
// kernel's capture ring is as long as the snapshot (on interfaces with receive offload), so
// 65536 bytes leave room for some 250 frames, which a flood of port-2098 traffic fills in a few
// milliseconds; the units' frames are far shorter than 2048 bytes, and 2048 leaves room for
// some 8000.
constexpr OpenParameters kOpenParameters{.snapshotLength = 2048};

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

Message OpenFailed(bool notPermitted, std::string_view error) {
    return MessageWriter(CaptureMessage::OpenFailed).U8(notPermitted ? 1 : 0).Text(error).Finish();
}

class CaptureService {
  public:
    explicit CaptureService(int framesFd) : framesFd_(framesFd) {}

    // nullopt for anything that is not one of the requests: the session ends.
    std::optional<Message> Answer(MessageReader request) {
        std::string name;
        switch (request.Type()) {
            case CaptureMessage::List:
                return request.Complete() ? std::optional(List()) : std::nullopt;
            case CaptureMessage::Open:
                return request.Text(name) && request.Complete() ? std::optional(Open(name))
                                                                : std::nullopt;
            case CaptureMessage::Send:
                return Send(request.Rest());
            default:
                return std::nullopt;
        }
    }

  private:
    Message List() {
        std::string error;
        const auto adapters = backend_.FindAllDevices(error);
        return adapters ? EncodeAdapters(*adapters)
                        : MessageWriter(CaptureMessage::ListFailed).Text(error).Finish();
    }

    // Only an adapter of the list, with the fixed filter of the default options and the
    // helper's own parameters; one per caller.
    Message Open(const std::string& name) {
        if (handle_) {
            return OpenFailed(false, "vx418-capture has an adapter open already");
        }
        std::string error;
        const auto adapters = backend_.FindAllDevices(error);
        if (!adapters) {
            return OpenFailed(false, error);
        }
        if (std::none_of(adapters->begin(), adapters->end(),
                         [&](const AdapterInfo& a) { return a.name == name; })) {
            return OpenFailed(false, name + " is not an adapter vx418-capture lists");
        }
        const auto mac = QueryInterfaceMac(name.substr(sizeof kAdapterNamePrefix - 1));
        if (!mac) {
            return OpenFailed(false, "the MAC address of " + name + " cannot be read");
        }
        OpenOutcome outcome;
        handle_ = backend_.OpenPcap(name, kOpenParameters, error, outcome);
        if (!handle_) {
            return OpenFailed(outcome.notPermitted, error);
        }
        adapterMac_ = *mac;
        std::thread([this] { Relay(); }).detach();
        return MessageWriter(CaptureMessage::Opened).Text(outcome.warnings).Finish();
    }

    Message Send(std::span<const std::uint8_t> frame) {
        const std::string_view refusal =
            handle_ ? RefusalOf(frame, adapterMac_) : "no adapter is open";
        if (!refusal.empty()) {
            ++refused_;
            std::fprintf(stderr, "vx418-capture: refused a frame of %zu bytes: %.*s (%u refused)\n",
                         frame.size(), static_cast<int>(refusal.size()), refusal.data(), refused_);
            return Sent(kRefusedStatus, "vx418-capture refused the frame: " + std::string(refusal));
        }
        const int status = handle_->SendPacket(frame.data(), frame.size());
        return Sent(status, status == 0 ? std::string() : handle_->LastError());
    }

    Message Sent(std::int32_t status, std::string_view error) const {
        return MessageWriter(CaptureMessage::Sent).I32(status).U32(refused_).Text(error).Finish();
    }

    // The capture thread: whatever has arrived goes to the caller as one message. A caller that
    // does not read makes the send wait, and the frames wait in the kernel's capture buffer.
    void Relay() {
        MessageWriter batch(CaptureMessage::Frames);
        bool delivered = true;
        const auto flush = [&] {
            if (delivered && batch.HasFields()) {
                delivered = SendMessage(framesFd_, batch.Finish());
            }
        };
        int result = 0;
        while (delivered && result >= 0) {
            result = handle_->Dispatch([&](const std::uint8_t* frame, std::size_t length) {
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
                                       .Text(handle_->LastError())
                                       .Finish());
        }
    }

    const int framesFd_;
    PcapCaptureBackend backend_;  // immediate mode and the fixed filter: not the caller's choice
    std::unique_ptr<PcapCaptureHandle> handle_;
    std::array<std::uint8_t, 6> adapterMac_{};
    std::uint32_t refused_ = 0;
};

}  // namespace

void ServeCaller(int controlFd, int framesFd, pid_t parent) {
    // Never destroyed: every way out is _Exit, with the capture thread still in the library.
    CaptureService service(framesFd);
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
        const auto request = MessageReader::Of({buffer.data(), static_cast<std::size_t>(length)});
        const auto answer = request ? service.Answer(*request) : std::nullopt;
        if (!answer) {
            std::fputs("vx418-capture: a request it does not know; ending\n", stderr);
            std::_Exit(kExitBadRequest);
        }
        if (!SendMessage(controlFd, *answer)) {
            std::_Exit(kExitCallerGone);
        }
    }
}
