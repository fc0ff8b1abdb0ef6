#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "net/capture_backend.h"

// The open adapter as the senders see it. AdapterHandle is shared: a sender keeps the handle
// alive for the length of its send, the capture loop for the length of the loop, so a handle
// is closed only when the last user lets go of it.
struct AdapterSnapshot {
    std::shared_ptr<CaptureHandle> AdapterHandle;
    std::array<std::uint8_t, 6> AdapterMac{};
    std::array<std::uint8_t, 4> AdapterIp{};
    std::uint8_t AdapterPrefixLength = 0;  // of AdapterIp's subnet; 0 when unknown
};

// Reads the current adapter state atomically (handle, MAC and address together).
AdapterSnapshot CurrentAdapter();
// Replaces the whole state; the previous handle is released by its last user.
void SetCurrentAdapter(AdapterSnapshot snapshot);
// AdapterHandle := none, keeping AdapterMac and AdapterIp; returns the handle that was open.
std::shared_ptr<CaptureHandle> TakeAdapterHandle();
// Sets AdapterMac / AdapterIp (with its prefix length) alone (they are learned before the open).
void SetAdapterMac(const std::array<std::uint8_t, 6>& mac);
void SetAdapterIp(const std::array<std::uint8_t, 4>& ip, std::uint8_t prefixLength = 0);
