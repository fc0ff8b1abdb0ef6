#pragma once

// vx418-capture's answers to its caller's requests, apart from its sockets and from libpcap, so
// that the bytes a group member may send can be put through them in a test or a fuzz target with
// an in-memory segment in place of the network.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "net/capture_backend.h"

class CaptureRequests {
  public:
    using Message = std::vector<std::uint8_t>;
    // One line of the helper's own, for its standard error.
    using Note = std::function<void(const std::string& line)>;

    // library lists, opens (with the helper's fixed filter and parameters, whatever it is
    // asked) and reads interface addresses; an open adapter's frames go to the caller from its
    // open on, which is the library's business.
    CaptureRequests(CaptureBackend& library, Note note);

    // The answer to one message from the caller; nullopt for anything that is not one whole
    // request it knows: the session ends.
    std::optional<Message> Answer(std::span<const std::uint8_t> received);

  private:
    Message List();
    Message Open(const std::string& name);
    Message Send(std::span<const std::uint8_t> frame);
    Message Sent(std::int32_t status, const std::string& error) const;
    Message Dropped() const;

    CaptureBackend& library_;
    const Note note_;
    std::unique_ptr<CaptureHandle> handle_;  // one adapter per caller
    std::array<std::uint8_t, 6> adapterMac_{};
    std::uint32_t refused_ = 0;
};
