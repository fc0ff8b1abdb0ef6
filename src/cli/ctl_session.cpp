#include "cli/ctl_session.h"

#include <algorithm>
#include <thread>

#include "net/frame_builder.h"
#include "protocol/messages.h"

namespace {

constexpr int kDiscoveryBroadcasts = 3;
constexpr std::chrono::milliseconds kBroadcastSpacing{200};

}  // namespace

std::unique_ptr<CtlSession> CtlSession::Open(const AdapterInfo& adapter,
                                             StationOpenFailure& failure, std::string& warnings) {
    std::unique_ptr<CtlSession> session(new CtlSession);
    CtlSession* const self = session.get();
    session->station_ = Station::Open(
        adapter,
        [self](const std::uint8_t* frame, std::size_t length) { self->OnFrame(frame, length); },
        failure, warnings);
    if (!session->station_) {
        return nullptr;
    }
    return session;
}

void CtlSession::OnFrame(const std::uint8_t* frame, std::size_t length) {
    HandleCapturedFrame(frame, length, table_, sink_);
    const auto reply = DecodeUnitReply(frame, length);
    if (!reply) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        if (awaitedUnit_ && !reply_ && reply->source == *awaitedUnit_ &&
            reply->messageClass == awaitedCodes_.messageClass &&
            (reply->code == awaitedCodes_.accepted || reply->code == awaitedCodes_.refused)) {
            reply_ = reply;
        }
    }
    // Discovery replies too: Discover waits on the table.
    changed_.notify_all();
}

bool CtlSession::Discover(std::chrono::milliseconds wait, const Done& done) {
    using Clock = std::chrono::steady_clock;
    const auto waitUntil = [&](Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        if (!done) {
            changed_.wait_until(lock, deadline, [&] { return Clock::now() >= deadline; });
            return false;
        }
        return changed_.wait_until(lock, deadline, [&] { return done(table_); });
    };
    for (int i = 0; i < kDiscoveryBroadcasts; ++i) {
        if (SendRequest(nullptr, kDiscoveryRequest) != 1) {
            return false;
        }
        if (waitUntil(Clock::now() + kBroadcastSpacing)) {
            return true;
        }
    }
    waitUntil(Clock::now() + wait);
    return true;
}

std::optional<UnitReply> CtlSession::SendAndAwaitReply(const MacBytes& mac,
                                                       ConfirmedOperation operation,
                                                       const std::function<bool()>& send,
                                                       std::chrono::milliseconds timeout,
                                                       bool& sent) {
    {
        // Expected before the send: the reply may arrive before send() returns.
        const std::lock_guard lock(mutex_);
        awaitedUnit_ = mac;
        awaitedCodes_ = ReplyCodesOf(operation);
        reply_.reset();
    }
    sent = send();
    std::unique_lock lock(mutex_);
    if (sent) {
        changed_.wait_for(lock, timeout, [&] { return reply_.has_value(); });
    }
    awaitedUnit_.reset();
    return reply_;
}

std::optional<MacBytes> ParseMac(const std::string& text) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return ParseMacText(lower);
}
