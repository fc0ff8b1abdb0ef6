#include "cli/ctl_session.h"

#include <algorithm>
#include <span>

#include "net/adapter_state.h"
#include "net/frame_builder.h"
#include "protocol/messages.h"
#include "protocol/wire_format.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDiscoveryBroadcasts = 3;
constexpr MacBytes kBroadcast{0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
constexpr std::chrono::milliseconds kBroadcastSpacing{200};
// A read-back repeats its broadcast quickly at first (a lost frame), then once a second (a unit
// that needs a moment to apply a change).
constexpr std::chrono::milliseconds kReadBackFirstSpacing{200};
constexpr std::chrono::milliseconds kReadBackLaterSpacing{1000};
constexpr int kReadBackQuickBroadcasts = 3;

}  // namespace

std::unique_ptr<CtlSession> CtlSession::Open(const AdapterInfo& adapter, LineSink& trace,
                                             StationOpenFailure& failure, std::string& warnings) {
    std::unique_ptr<CtlSession> session(new CtlSession);
    CtlSession* const self = session.get();
    session->trace_ = &trace;
    session->station_ = Station::Open(
        adapter,
        [self](const std::uint8_t* frame, std::size_t length) { self->OnFrame(frame, length); },
        failure, warnings);
    if (!session->station_) {
        return nullptr;
    }
    const AdapterSnapshot station = CurrentAdapter();
    const std::lock_guard lock(session->mutex_);
    session->stationMac_ = station.AdapterMac;
    session->stationIp_ = station.AdapterIp;
    session->stationPrefixLength_ = station.AdapterPrefixLength;
    return session;
}

void CtlSession::OnFrame(const std::uint8_t* frame, std::size_t length) {
    const auto reply = DecodeUnitReply(frame, length);
    if (!reply) {
        return;
    }
    const bool discovery = reply->messageClass == kDiscoveryReplyClass;
    {
        const std::lock_guard lock(mutex_);
        // Only replies to this station count (two programs on one adapter would share its MAC:
        // the adapter lock keeps them apart); a unit's description may also come as broadcast.
        if (reply->destination != stationMac_ && !(discovery && reply->destination == kBroadcast)) {
            return;
        }
        if (awaitedUnit_ && !reply_ && reply->source == *awaitedUnit_ &&
            reply->messageClass == awaitedCodes_.messageClass &&
            (reply->code == awaitedCodes_.accepted || reply->code == awaitedCodes_.refused)) {
            reply_ = reply;
        }
    }
    if (discovery && reply->code == kDiscoveryRecordCode && length >= kMinDiscoveryReplyLength) {
        const std::span<const std::uint8_t, kDeviceRecordSize> wire(frame + kTfdpDataOffset,
                                                                    kDeviceRecordSize);
        table_.StoreDiscoveredDevice(wire, *trace_);
        const std::lock_guard lock(mutex_);
        ++discoveryReplies_;
        if (readingBack_) {
            const DeviceRecord record = DecodeDeviceRecord(wire);
            readBack_[record.Mac] = record;
        }
    }
    changed_.notify_all();
}

int CtlSession::DiscoveryReplies() {
    const std::lock_guard lock(mutex_);
    return discoveryReplies_;
}

void CtlSession::TraceDrops(const std::string& step) {
    const auto drops = station_->Drops();
    if (!drops) {
        trace_->Trace(step + ": the capture library does not count dropped frames");
        return;
    }
    const std::uint32_t total = DroppedBetween({}, *drops);
    trace_->Trace(step + ": " + std::to_string(total) + " frames dropped by the capture so far (" +
                  std::to_string(drops->buffer) + " for want of buffer, " +
                  std::to_string(drops->driver) + " by the interface)");
}

bool CtlSession::Broadcast() {
    ++framesSent_;
    return SendRequest(nullptr, kDiscoveryRequest) == 1;
}

bool CtlSession::Discover(std::chrono::milliseconds wait, const Done& done,
                          const Progress& progress) {
    // Waits in slices, so that progress hears between them; true once done holds.
    const auto waitUntil = [&](Clock::time_point deadline) {
        for (;;) {
            const auto slice = std::min(deadline, Clock::now() + kProgressInterval);
            {
                std::unique_lock lock(mutex_);
                if (!done) {
                    changed_.wait_until(lock, slice, [&] { return Clock::now() >= slice; });
                } else if (changed_.wait_until(lock, slice, [&] { return done(table_); })) {
                    return true;
                }
            }
            if (Clock::now() >= deadline) {
                return false;
            }
            if (progress) {
                progress(table_.DeviceCount());
            }
        }
    };
    for (int i = 0; i < kDiscoveryBroadcasts; ++i) {
        if (!Broadcast()) {
            return false;
        }
        if (waitUntil(Clock::now() + kBroadcastSpacing)) {
            TraceDrops("discovery");
            return true;
        }
    }
    waitUntil(Clock::now() + wait);
    TraceDrops("discovery");
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
    ++framesSent_;
    sent = send();
    std::unique_lock lock(mutex_);
    if (sent) {
        changed_.wait_for(lock, timeout, [&] { return reply_.has_value(); });
    }
    awaitedUnit_.reset();
    return reply_;
}

CtlSession::ReadBack CtlSession::ReadBackUnits(const std::vector<MacBytes>& macs,
                                               const Check& check, std::chrono::milliseconds wait) {
    ReadBack result;
    const auto evaluate = [&] {
        result.answered = std::all_of(macs.begin(), macs.end(),
                                      [&](const MacBytes& m) { return readBack_.count(m) != 0; });
        result.matched = result.answered && check(readBack_);
        return result.matched;
    };
    {
        const std::lock_guard lock(mutex_);
        readBack_.clear();
        readingBack_ = true;
    }
    const auto deadline = Clock::now() + wait;
    for (int round = 0; Clock::now() < deadline; ++round) {
        if (!Broadcast()) {
            break;
        }
        const auto next =
            Clock::now() +
            (round + 1 < kReadBackQuickBroadcasts ? kReadBackFirstSpacing : kReadBackLaterSpacing);
        std::unique_lock lock(mutex_);
        if (changed_.wait_until(lock, std::min(next, deadline), evaluate)) {
            break;
        }
    }
    {
        const std::lock_guard lock(mutex_);
        evaluate();
        readingBack_ = false;
        for (const MacBytes& mac : macs) {
            if (const auto it = readBack_.find(mac); it != readBack_.end()) {
                result.records[mac] = it->second;
            }
        }
    }
    TraceDrops("read-back");
    return result;
}
