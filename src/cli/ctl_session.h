#pragma once

// One run of vx418ctl on an open adapter: a table of its own filled by the discovery replies
// addressed to this station (every unit that answers, however many), the addressed unit's own
// reply to this station's request, and the read-back of units after a change.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/station.h"
#include "protocol/device_table.h"
#include "protocol/line_sink.h"
#include "protocol/replies.h"

// Drops every line: the table's trace lines when nobody asked for them.
class QuietSink final : public LineSink {
  public:
    void Log(std::string_view) override {}
    void Trace(std::string_view) override {}
};

// Units by MAC, as they last described themselves.
using UnitRecords = std::map<MacBytes, DeviceRecord>;

class CtlSession {
  public:
    using Done = std::function<bool(const DeviceTable&)>;
    using Check = std::function<bool(const UnitRecords&)>;

    // Opens the adapter and starts capturing; nullptr and failure as Station::Open. The table's
    // trace lines go to trace.
    static std::unique_ptr<CtlSession> Open(const AdapterInfo& adapter, LineSink& trace,
                                            StationOpenFailure& failure, std::string& warnings);

    // The window's Refresh: three broadcasts 200 ms apart, 200 ms after the last, then wait
    // more for the replies. With done, it ends as soon as done(table) holds, skipping the
    // broadcasts left. While it waits, progress (if any) hears every kProgressInterval how many
    // units have answered. False when the adapter refused a broadcast.
    using Progress = std::function<void(int answered)>;
    static constexpr std::chrono::milliseconds kProgressInterval{100};
    bool Discover(std::chrono::milliseconds wait, const Done& done,
                  const Progress& progress = nullptr);

    // The first reply to this station of the operation's class with its accepted or refused
    // code from mac, waited for up to timeout after send() has run; send()'s false ends it at
    // once. Replies from other units, to other stations, of other classes or with other codes
    // do not count.
    std::optional<UnitReply> SendAndAwaitReply(const MacBytes& mac, ConfirmedOperation operation,
                                               const std::function<bool()>& send,
                                               std::chrono::milliseconds timeout, bool& sent);

    struct ReadBack {
        bool answered = false;  // every unit in macs answered a read-back broadcast
        bool matched = false;   // and check held on what they said
        UnitRecords records;    // what those that answered said last
    };
    // Broadcasts discoveries (now, after 200 and 400 ms, then every second) until every unit in
    // macs has answered one of them and check holds on their latest answers, or wait has
    // passed. Only answers that arrive after the first of these broadcasts count.
    ReadBack ReadBackUnits(const std::vector<MacBytes>& macs, const Check& check,
                           std::chrono::milliseconds wait);

    DeviceTable& Table() { return table_; }
    const MacBytes& StationMac() const { return stationMac_; }
    const Ipv4Bytes& StationIp() const { return stationIp_; }
    // The adapter's prefix length; 0 when the capture library did not list a netmask.
    std::uint8_t StationPrefixLength() const { return stationPrefixLength_; }
    // Discovery broadcasts and requests sent so far.
    int FramesSent() const { return framesSent_; }
    // Discovery replies to this station captured so far, duplicates included.
    int DiscoveryReplies();

  private:
    CtlSession() = default;
    void OnFrame(const std::uint8_t* frame, std::size_t length);
    bool Broadcast();
    // Traces the frames the capture lost since the open, naming the step that just ended.
    void TraceDrops(const std::string& step);

    DeviceTable table_{kUnboundedDeviceTable};
    LineSink* trace_ = nullptr;
    MacBytes stationMac_{};
    Ipv4Bytes stationIp_{};
    std::uint8_t stationPrefixLength_ = 0;
    int framesSent_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<MacBytes> awaitedUnit_;
    ReplyCodes awaitedCodes_;
    std::optional<UnitReply> reply_;
    int discoveryReplies_ = 0;
    bool readingBack_ = false;
    UnitRecords readBack_;
    std::unique_ptr<Station> station_;  // last: its capture thread stops before the rest goes
};
