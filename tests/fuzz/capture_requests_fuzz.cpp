// Feeds the capture helper's request handling what a member of its group may send over its
// control socket: a session of messages, each a 2-byte length and its bytes (the rest of the
// input is the last one). An in-memory segment stands in for the network. After each message it
// checks that the answer is of the request's kind, and that every frame that reached the segment
// is a request as the frame table describes it, by a check of its own.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <utility>

#include "capture/capture_requests.h"
#include "net/capture_messages.h"
#include "net/memory_segment.h"
#include "protocol/wire_format.h"

namespace {

constexpr char kAdapter[] = "rpcap://fz0";
constexpr char kInterface[] = "fz0";
constexpr std::array<std::uint8_t, 6> kAdapterMac{0x02, 0x18, 0x00, 0x00, 0x00, 0x01};
constexpr std::size_t kSessionLengthSize = 2;

// The IPv4 total and UDP lengths of each request class.
struct RequestLengths {
    std::uint16_t messageClass;
    std::uint16_t ip;
    std::uint16_t udp;
};
constexpr std::array<RequestLengths, 3> kRequestLengths{{
    {kDiscoveryClass, 40, 20},
    {kConfigurationClass, 72, 52},
    {kConnectionClass, 62, 42},
}};

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::uint16_t Be16(const std::vector<std::uint8_t>& f, std::size_t offset) {
    return static_cast<std::uint16_t>(f[offset] << 8 | f[offset + 1]);
}

bool IsRequest(const std::vector<std::uint8_t>& f) {
    if (f.size() != kProtocolFrameSize ||
        !std::equal(kAdapterMac.begin(), kAdapterMac.end(), f.begin() + kEthSourceMacOffset) ||
        Be16(f, kEthTypeOffset) != kEtherTypeIpv4 || f[kIpVersionIhlOffset] != kIpVersionIhl ||
        Be16(f, kIpFlagsFragmentOffset) != 0 || f[kIpProtocolOffset] != kIpProtocolUdp ||
        Be16(f, kUdpSourcePortOffset) != kTfdpPort || Be16(f, kUdpDestPortOffset) != kTfdpPort ||
        Be16(f, kTfdpMagicOffset) != kTfdpMagic) {
        return false;
    }
    return std::any_of(kRequestLengths.begin(), kRequestLengths.end(), [&](const auto& r) {
        return Be16(f, kTfdpClassOffset) == r.messageClass &&
               Be16(f, kIpTotalLengthOffset) == r.ip && Be16(f, kUdpLengthOffset) == r.udp;
    });
}

// The answers each request may get.
bool Answers(CaptureMessage request, CaptureMessage answer) {
    switch (request) {
        case CaptureMessage::List:
            return answer == CaptureMessage::Adapters || answer == CaptureMessage::ListFailed;
        case CaptureMessage::Open:
            return answer == CaptureMessage::Opened || answer == CaptureMessage::OpenFailed;
        case CaptureMessage::Send:
            return answer == CaptureMessage::Sent;
        case CaptureMessage::Drops:
            return answer == CaptureMessage::Dropped;
        default:
            return false;
    }
}

// The next message of the session; the rest of the input when no length is left.
std::span<const std::uint8_t> NextMessage(std::span<const std::uint8_t>& input) {
    if (input.size() < kSessionLengthSize) {
        return std::exchange(input, {});
    }
    const std::size_t length = std::min<std::size_t>(
        static_cast<std::size_t>(input[0] << 8 | input[1]), input.size() - kSessionLengthSize);
    const auto message = input.subspan(kSessionLengthSize, length);
    input = input.subspan(kSessionLengthSize + length);
    return message;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemorySegment segment;
    segment.SetAdapters({AdapterInfo{kAdapter, "fz0 (198.18.0.1)", {{true, {198, 18, 0, 1}}}, 0}});
    segment.SetAdapterMac(kInterface, kAdapterMac);
    int notes = 0;
    CaptureRequests requests(segment, [&](const std::string&) { ++notes; });
    std::uint32_t refusedBefore = 0;
    std::span<const std::uint8_t> input(data, size);
    while (!input.empty()) {
        const auto message = NextMessage(input);
        const std::size_t sentBefore = segment.SentFrames().size();
        const auto answer = requests.Answer(message);
        if (!answer) {
            break;  // the helper ends
        }
        const auto request = MessageReader::Of(message);
        auto reader = MessageReader::Of(*answer);
        Require(request && reader && Answers(request->Type(), reader->Type()));
        const auto sent = segment.SentFrames();
        Require(sent.size() <= sentBefore + 1);
        if (sent.size() > sentBefore) {
            Require(IsRequest(sent.back()));
        }
        if (request->Type() == CaptureMessage::Send) {
            // A frame either leaves, or is refused and counted once with a line of its own.
            std::int32_t status = 0;
            std::uint32_t refused = 0;
            std::string error;
            Require(reader->I32(status) && reader->U32(refused) && reader->Text(error) &&
                    reader->Complete());
            Require((status == 0) == (sent.size() > sentBefore));
            Require(refused == refusedBefore + (status == 0 ? 0 : 1));
            Require(notes == static_cast<int>(refused));
            refusedBefore = refused;
        }
    }
    Require(segment.OpenHandles() <= 1);
    return 0;
}
