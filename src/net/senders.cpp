#include "net/adapter_state.h"
#include "net/frame_builder.h"
#include "protocol/messages.h"

namespace {

// Sends on the adapter as it is at this moment; the snapshot keeps the handle open until the
// send returns, even if Set Adapter replaces it meanwhile.
bool AssembleAndSend(RequestKind kind, const std::uint8_t* block) {
    const AdapterSnapshot adapter = CurrentAdapter();
    if (!adapter.AdapterHandle) {
        return false;
    }
    ProtocolFrame frame{};
    if (!AssembleRequestFrame(kind, block, adapter.AdapterMac, adapter.AdapterIp, frame)) {
        return false;
    }
    return adapter.AdapterHandle->SendPacket(frame.data(), frame.size()) == 0;
}

}  // namespace

int SendRequest(const std::uint8_t* block, RequestKind kind) {
    return AssembleAndSend(kind, block) ? 1 : 0;
}

bool SendBackupRequest(const ConnectionBlock& block) {
    const std::uint16_t slot = Selector(block);
    if (slot != 1 && slot != 2) {
        return false;
    }
    // The add-backup frame is the add-receiver frame with the slot in the selector.
    return AssembleAndSend(kAddReceiverRequest, block.data());
}
