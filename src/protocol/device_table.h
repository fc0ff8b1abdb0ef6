#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "protocol/confirmed_operation.h"
#include "protocol/line_sink.h"

using MacBytes = std::array<std::uint8_t, 6>;
using Ipv4Bytes = std::array<std::uint8_t, 4>;

// One unit as carried in a discovery reply (66 bytes on the wire) and kept in the table.
// 16-bit fields are numbers here except a Receiver's Mode, which keeps its wire bytes.
struct DeviceRecord {
    std::array<std::uint8_t, 16> Name{};  // zero-padded; 16 characters have no terminator
    std::uint16_t FirmwareVersion = 0;
    std::uint16_t TfdpVersion = 0;
    std::array<std::uint8_t, 2> Reserved{};
    Ipv4Bytes Ip{};
    MacBytes Mac{};
    std::uint16_t Kind = 0;
    std::uint16_t Mode = 0;
    Ipv4Bytes PeerIp{};
    Ipv4Bytes Backup1Ip{};
    Ipv4Bytes Backup2Ip{};
    MacBytes T1Mac{};
    MacBytes T2Mac{};
    MacBytes T3Mac{};

    bool operator==(const DeviceRecord&) const = default;
};

inline constexpr std::size_t kDeviceRecordSize = 66;
// The window's table: what its trees and pickers show.
inline constexpr std::size_t kDeviceTableCapacity = 32;
// A table that keeps every unit that answers (the command-line tool).
inline constexpr std::size_t kUnboundedDeviceTable = static_cast<std::size_t>(-1);

// "%.02x:%.02x:%.02x:%.02x:%.02x:%.02x"
std::string MacText(const MacBytes& mac);
// "%d.%d.%d.%d"
std::string Ipv4Text(const Ipv4Bytes& ip);
// The bytes whose MAC text is exactly macText (lower case, colons), or nothing when no MAC
// prints as that text. Comparing these bytes is the same as comparing the texts, and cheaper.
std::optional<MacBytes> ParseMacText(const std::string& macText);
// The characters of a Name field up to the first zero byte, at most 16; bytes kept as they are.
std::string NameText(const std::array<std::uint8_t, 16>& name);

// A discovery reply's 66 record bytes as the table keeps them (16-bit fields as numbers, a
// Receiver's Mode as it arrived), and back: a table can be filled again from records.
DeviceRecord DecodeDeviceRecord(std::span<const std::uint8_t, kDeviceRecordSize> wire);
std::array<std::uint8_t, kDeviceRecordSize> EncodeDeviceRecord(const DeviceRecord& record);

// A Transmitter's Receiver slots: T1Mac, T2Mac and T3Mac; also the wire's selector values.
enum class PeerSlot : int { Main = 0, Backup1 = 1, Backup2 = 2 };

// The table of discovered units, shared by the capture thread, the workers and the views.
// One mutex inside; every operation is atomic with respect to the others. No method calls out
// while holding the lock except StoreDiscoveredDevice's trace lines, which are composed first
// and emitted after the lock is released.
class DeviceTable {
  public:
    explicit DeviceTable(std::size_t capacity = kDeviceTableCapacity);

    int DeviceCount() const;
    // Under one lock: the valid records, and the distinct units that answered since the last
    // Clear(), stored or not (more when the table was full; counting stops at kMaxCountedUnits).
    struct UnitCounts {
        int stored = 0;
        int answered = 0;
    };
    UnitCounts CountUnits() const;
    static constexpr std::size_t kMaxCountedUnits = 65536;

    // By index, 0 .. DeviceCount()-1. An index outside that range reads slot 0's stale bytes
    // rather than anything past the table.
    std::string DeviceNameAt(int i) const;
    std::string DeviceIpTextAt(int i) const;
    std::string DeviceMacTextAt(int i) const;
    std::string PeerIpTextAt(int i) const;
    std::string T1MacTextAt(int i) const;
    std::string T2MacTextAt(int i) const;
    std::string T3MacTextAt(int i) const;
    DeviceRecord RecordAt(int i) const;

    // By MAC text: the first valid record whose MAC text equals macText, 0 when none does.
    int FindDeviceByMac(const std::string& macText) const;
    // A copy of the record FindDeviceByMac names, taken under one lock.
    DeviceRecord RecordByMac(const std::string& macText) const;
    std::string DeviceNameByMac(const std::string& macText) const;
    std::string DeviceIpTextByMac(const std::string& macText) const;
    std::uint8_t DeviceKindByMac(const std::string& macText) const;
    std::uint8_t DeviceModeByMac(const std::string& macText) const;
    // True when some valid record carries exactly this MAC text (the views need to tell a real
    // hit from the fall-back to record 0).
    bool ContainsMac(const std::string& macText) const;
    // A copy of the record with this MAC, or nothing: no fall-back to record 0.
    std::optional<DeviceRecord> FindRecord(const std::string& macText) const;

    // An unknown MAC changes nothing: a fall-back to record 0 would patch another unit.
    void SetDeviceNameByMac(const std::string& macText, const std::array<std::uint8_t, 16>& name);
    void SetDeviceIpByMac(const std::string& macText,
                          std::span<const std::uint8_t, 32> configBlock);
    void SetDeviceModeByMac(const std::string& macText, std::uint8_t mode);
    void SetDeviceKindByMac(const std::string& macText, std::uint8_t kind);
    void LinkT1MacByMac(const std::string& macText, int sourceIndex);

    // set: the target's slot becomes the source's Mac (an unknown slot changes nothing).
    // Clearing applies to PeerSlot::Main only: the first backup that names a unit moves up.
    void SetPeerMacSlot(int sourceIndex, int targetIndex, PeerSlot slot, bool set);
    bool ForgetPeerLinks(int index);

    // Converts, traces and appends one discovery record unless its MAC is already present or
    // the table is full.
    void StoreDiscoveredDevice(std::span<const std::uint8_t, kDeviceRecordSize> wire,
                               LineSink& sink);

    // DeviceCount := 0; no record bytes are cleared.
    void Clear();

    // All valid records, copied under one lock: the views build from this.
    std::vector<DeviceRecord> Snapshot() const;

    // ---- changes awaiting the addressed unit's answer ----
    // The window shows a change as soon as its request has left; a unit that refuses it gets
    // its values back. The journal lives until the next Clear().
    using RequestTicket = std::uint64_t;
    using RecordEdit = std::function<void(std::span<DeviceRecord> valid)>;

    // Before a request leaves: its answer will come from addressed. Two requests of one
    // operation in flight to one unit make both answers ambiguous, so neither restores.
    RequestTicket ExpectAnswer(const MacBytes& addressed, ConfirmedOperation operation);
    // The request did not leave.
    void DropExpectation(RequestTicket ticket);
    // The request left: edit runs on the valid records under the table's lock and what it
    // changed is kept with the ticket. A unit that has already refused changes nothing; a
    // ticket the journal no longer has (a Refresh came between) is edited without a journal.
    void ApplyForRequest(RequestTicket ticket, const RecordEdit& edit);
    // A reply from source: an accepted one settles the change, a refused one puts back every
    // field that still holds what the request set. True when a record changed.
    bool SettleAnswer(const MacBytes& source, ConfirmedOperation operation, bool accepted);
    static constexpr std::size_t kMaxPendingAnswers = 256;

  private:
    // Callers hold mutex_.
    DeviceRecord& Slot(int i);
    const DeviceRecord& Slot(int i) const;
    // The valid record's index, or -1; FindLocked falls back to 0 as the look-ups do.
    int IndexOfLocked(const std::string& macText) const;
    int FindLocked(const std::string& macText) const;
    // The valid record with this MAC text, or null.
    DeviceRecord* KnownLocked(const std::string& macText);

    const std::size_t capacity_;
    mutable std::mutex mutex_;
    // Never shrinks, so slot 0 exists and Clear() leaves stale bytes behind, as the fixed
    // array did; only records_[0, count_) are valid.
    std::vector<DeviceRecord> records_;
    int count_ = 0;
    std::set<MacBytes> turnedAway_;  // distinct units that did not fit since Clear()

    struct RecordChange {
        DeviceRecord before;
        DeviceRecord after;
    };
    struct PendingAnswer {
        RequestTicket ticket = 0;
        MacBytes addressed{};
        ConfirmedOperation operation = ConfirmedOperation::SetName;
        bool ambiguous = false;
        bool applied = false;
        std::optional<bool> accepted;  // the answer, when it came before the change was made
        std::vector<RecordChange> changes;
    };
    void RestoreLocked(const std::vector<RecordChange>& changes);
    std::deque<PendingAnswer> pending_;
    RequestTicket lastTicket_ = 0;
};

// The process-wide table.
DeviceTable& Devices();
