#include "protocol/replies.h"

#include <cstring>

#include "protocol/wire_format.h"

std::optional<UnitReply> DecodeUnitReply(const std::uint8_t* frame, std::size_t capturedLength) {
    if (frame == nullptr || capturedLength < kMinReplyLength ||
        ReadBe16(frame + kTfdpMagicOffset) != kTfdpMagic) {
        return std::nullopt;
    }
    UnitReply reply;
    reply.messageClass = ReadBe16(frame + kTfdpClassOffset);
    if ((reply.messageClass & kReplyClassBit) == 0) {
        return std::nullopt;
    }
    reply.code = ReadBe16(frame + kTfdpCodeOffset);
    std::memcpy(reply.source.data(), frame + kEthSourceMacOffset, kMacSize);
    return reply;
}

ReplyCodes ReplyCodesOf(ConfirmedOperation operation) {
    switch (operation) {
        case ConfirmedOperation::SetName:
            return {kConfigurationReplyClass, 1, 2};
        case ConfirmedOperation::SetIp:
            return {kConfigurationReplyClass, 3, 4};
        case ConfirmedOperation::SetTopology:
            return {kConfigurationReplyClass, 5, 6};
        case ConfirmedOperation::AddReceiver:
            return {kConnectionReplyClass, 1, 2};
        case ConfirmedOperation::DeleteReceiver:
            return {kConnectionReplyClass, 3, 4};
    }
    return {};
}

std::optional<ReplyVerdict> VerdictOf(std::uint16_t messageClass, std::uint16_t code) {
    for (const auto operation :
         {ConfirmedOperation::SetName, ConfirmedOperation::SetIp, ConfirmedOperation::SetTopology,
          ConfirmedOperation::AddReceiver, ConfirmedOperation::DeleteReceiver}) {
        const ReplyCodes codes = ReplyCodesOf(operation);
        if (codes.messageClass == messageClass &&
            (code == codes.accepted || code == codes.refused)) {
            return ReplyVerdict{operation, code == codes.accepted};
        }
    }
    return std::nullopt;
}
