#include "capture/capture_requests.h"

#include <algorithm>
#include <utility>

#include "capture/send_policy.h"
#include "net/capture_messages.h"
#include "net/posix/pcap_backend.h"

namespace {

constexpr std::int32_t kRefusedStatus = -1;

CaptureRequests::Message OpenFailed(bool notPermitted, const std::string& error) {
    return MessageWriter(CaptureMessage::OpenFailed).U8(notPermitted ? 1 : 0).Text(error).Finish();
}

}  // namespace

CaptureRequests::CaptureRequests(CaptureBackend& library, Note note)
    : library_(library), note_(std::move(note)) {}

std::optional<CaptureRequests::Message> CaptureRequests::Answer(
    std::span<const std::uint8_t> received) {
    auto request = MessageReader::Of(received);
    if (!request) {
        return std::nullopt;
    }
    std::string name;
    switch (request->Type()) {
        case CaptureMessage::List:
            return request->Complete() ? std::optional(List()) : std::nullopt;
        case CaptureMessage::Open:
            return request->Text(name) && request->Complete() ? std::optional(Open(name))
                                                              : std::nullopt;
        case CaptureMessage::Send:
            return Send(request->Rest());
        case CaptureMessage::Drops:
            return request->Complete() ? std::optional(Dropped()) : std::nullopt;
        default:
            return std::nullopt;
    }
}

CaptureRequests::Message CaptureRequests::List() {
    std::string error;
    const auto adapters = library_.FindAllDevices(error);
    return adapters ? EncodeAdapters(*adapters)
                    : MessageWriter(CaptureMessage::ListFailed).Text(error).Finish();
}

// Only an adapter of the list, with the library's fixed filter and parameters; one per caller.
CaptureRequests::Message CaptureRequests::Open(const std::string& name) {
    if (handle_) {
        return OpenFailed(false, "vx418-capture has an adapter open already");
    }
    std::string error;
    const auto adapters = library_.FindAllDevices(error);
    if (!adapters) {
        return OpenFailed(false, error);
    }
    if (std::none_of(adapters->begin(), adapters->end(),
                     [&](const AdapterInfo& a) { return a.name == name; })) {
        return OpenFailed(false, name + " is not an adapter vx418-capture lists");
    }
    const auto mac = library_.QueryCurrentAddress(name.substr(sizeof kAdapterNamePrefix - 1));
    if (!mac) {
        return OpenFailed(false, "the MAC address of " + name + " cannot be read");
    }
    OpenOutcome outcome;
    handle_ = library_.OpenWithOutcome(name, OpenParameters{}, error, outcome);
    if (!handle_) {
        return OpenFailed(outcome.notPermitted, error);
    }
    adapterMac_ = *mac;
    return MessageWriter(CaptureMessage::Opened).Text(outcome.warnings).Finish();
}

CaptureRequests::Message CaptureRequests::Send(std::span<const std::uint8_t> frame) {
    const std::string_view refusal = handle_ ? RefusalOf(frame, adapterMac_) : "no adapter is open";
    if (!refusal.empty()) {
        ++refused_;
        note_("vx418-capture: refused a frame of " + std::to_string(frame.size()) +
              " bytes: " + std::string(refusal) + " (" + std::to_string(refused_) + " refused)");
        return Sent(kRefusedStatus, "vx418-capture refused the frame: " + std::string(refusal));
    }
    const int status = handle_->SendPacket(frame.data(), frame.size());
    return Sent(status, status == 0 ? std::string() : handle_->LastError());
}

CaptureRequests::Message CaptureRequests::Sent(std::int32_t status,
                                               const std::string& error) const {
    return MessageWriter(CaptureMessage::Sent).I32(status).U32(refused_).Text(error).Finish();
}

CaptureRequests::Message CaptureRequests::Dropped() const {
    return EncodeDropped(handle_ ? handle_->Drops() : std::nullopt);
}
