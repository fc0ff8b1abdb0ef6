#pragma once

// One run of vx418ctl on an open adapter: a table of its own filled by the discovery replies
// (through HandleCapturedFrame, as the window's capture loop does) and the addressed unit's own
// reply to a request.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "net/station.h"
#include "protocol/device_table.h"
#include "protocol/line_sink.h"
#include "protocol/replies.h"

class CtlSession {
  public:
    using Done = std::function<bool(const DeviceTable&)>;

    // Opens the adapter and starts capturing; nullptr and failure as Station::Open.
    static std::unique_ptr<CtlSession> Open(const AdapterInfo& adapter, StationOpenFailure& failure,
                                            std::string& warnings);

    // The window's Refresh: three broadcasts 200 ms apart, 200 ms after the last, then wait
    // more for the replies. With done, it ends as soon as done(table) holds, skipping the
    // broadcasts left. False when the adapter refused a broadcast.
    bool Discover(std::chrono::milliseconds wait, const Done& done);

    // The first reply of the operation's class with its accepted or refused code from mac,
    // waited for up to timeout after send() has run; send()'s false ends it at once. Replies
    // from other units, of other classes or with other codes do not count.
    std::optional<UnitReply> SendAndAwaitReply(const MacBytes& mac, ConfirmedOperation operation,
                                               const std::function<bool()>& send,
                                               std::chrono::milliseconds timeout, bool& sent);

    DeviceTable& Table() { return table_; }

  private:
    CtlSession() = default;
    void OnFrame(const std::uint8_t* frame, std::size_t length);

    class QuietSink final : public LineSink {
      public:
        void Log(std::string_view) override {}
        void Trace(std::string_view) override {}
    };

    DeviceTable table_;
    QuietSink sink_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<MacBytes> awaitedUnit_;
    ReplyCodes awaitedCodes_;
    std::optional<UnitReply> reply_;
    std::unique_ptr<Station> station_;  // last: its capture thread stops before the rest goes
};

// Parses "aa:bb:cc:dd:ee:ff" in either case; nothing for any other text.
std::optional<MacBytes> ParseMac(const std::string& text);
