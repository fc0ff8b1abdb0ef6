#include "protocol/device_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "protocol/wire_format.h"

static_assert(kRecordWireSize == kDeviceRecordSize);

std::string MacText(const MacBytes& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%.02x:%.02x:%.02x:%.02x:%.02x:%.02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::string Ipv4Text(const Ipv4Bytes& ip) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
    return text;
}

std::string NameText(const std::array<std::uint8_t, 16>& name) {
    const auto end = std::find(name.begin(), name.end(), std::uint8_t{0});
    return std::string(name.begin(), end);
}

std::optional<MacBytes> ParseMacText(const std::string& macText) {
    constexpr std::size_t kMacTextLength = 17;
    if (macText.size() != kMacTextLength) {
        return std::nullopt;
    }
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        return -1;  // upper case never matches the lower-case text
    };
    MacBytes mac{};
    for (std::size_t i = 0; i < mac.size(); ++i) {
        const std::size_t at = i * 3;
        const int high = digit(macText[at]);
        const int low = digit(macText[at + 1]);
        if (high < 0 || low < 0 || (i + 1 < mac.size() && macText[at + 2] != ':')) {
            return std::nullopt;
        }
        mac[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return mac;
}

namespace {

constexpr MacBytes kNoMac{};
constexpr std::size_t kDashLineLength = 95;

template <std::size_t N>
std::array<std::uint8_t, N> Bytes(const std::uint8_t* wire, std::size_t offset) {
    std::array<std::uint8_t, N> out{};
    std::memcpy(out.data(), wire + offset, N);
    return out;
}

template <std::size_t N>
void PutBytes(std::uint8_t* wire, std::size_t offset, const std::array<std::uint8_t, N>& bytes) {
    std::memcpy(wire + offset, bytes.data(), N);
}

std::string Hex02(const char* format, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The trace lines of one discovery record up to (not including) the closing dash line.
std::vector<std::string> TraceLinesFor(const DeviceRecord& r) {
    std::vector<std::string> lines;
    lines.reserve(16);
    lines.push_back("Device Name is " + NameText(r.Name));
    lines.push_back("Firmware Version is " + Hex02("0.%.02x", r.FirmwareVersion));
    lines.push_back("TFDP Version is " + Hex02("%.02x", r.TfdpVersion));
    lines.push_back("Device IP is " + Ipv4Text(r.Ip));
    lines.push_back("Device MAC is " + MacText(r.Mac));
    if (r.Kind != 0) {
        lines.emplace_back("Device is T");
        if (r.Mode == 0) {
            lines.emplace_back("Mode is M");
            return lines;  // a multicast Transmitter names no peers
        }
        lines.emplace_back("Device is U");
        lines.push_back("Receiver is " + Ipv4Text(r.PeerIp));
        lines.push_back("Backup1 is " + Ipv4Text(r.Backup1Ip));
        lines.push_back("Backup2 is " + Ipv4Text(r.Backup2Ip));
    } else {
        lines.emplace_back("Device is R");
        lines.push_back("IP of T is " + Ipv4Text(r.PeerIp));
    }
    lines.push_back("T1 MAC is " + MacText(r.T1Mac));
    lines.push_back("T2 MAC is " + MacText(r.T2Mac));
    lines.push_back("T3 MAC is " + MacText(r.T3Mac));
    return lines;
}

}  // namespace

DeviceTable::DeviceTable(std::size_t capacity)
    : capacity_(capacity), records_(std::min<std::size_t>(capacity, kDeviceTableCapacity)) {
    if (records_.empty()) {
        records_.resize(1);
    }
}

DeviceRecord DecodeDeviceRecord(std::span<const std::uint8_t, kDeviceRecordSize> bytes) {
    const std::uint8_t* wire = bytes.data();
    DeviceRecord r;
    r.Name = Bytes<kRecordNameSize>(wire, kRecordNameOffset);
    r.FirmwareVersion = ReadBe16(wire + kRecordFirmwareOffset);
    r.TfdpVersion = ReadBe16(wire + kRecordTfdpVersionOffset);
    r.Reserved = Bytes<2>(wire, kRecordReservedOffset);
    r.Ip = Bytes<kIpv4Size>(wire, kRecordIpOffset);
    r.Mac = Bytes<kMacSize>(wire, kRecordMacOffset);
    r.Kind = ReadBe16(wire + kRecordKindOffset);
    if (r.Kind != 0) {
        r.Mode = ReadBe16(wire + kRecordModeOffset);
    } else {
        // A Receiver's mode word means nothing; it is kept exactly as it arrived.
        std::memcpy(&r.Mode, wire + kRecordModeOffset, sizeof r.Mode);
    }
    r.PeerIp = Bytes<kIpv4Size>(wire, kRecordPeerIpOffset);
    r.Backup1Ip = Bytes<kIpv4Size>(wire, kRecordBackup1IpOffset);
    r.Backup2Ip = Bytes<kIpv4Size>(wire, kRecordBackup2IpOffset);
    r.T1Mac = Bytes<kMacSize>(wire, kRecordT1MacOffset);
    r.T2Mac = Bytes<kMacSize>(wire, kRecordT2MacOffset);
    r.T3Mac = Bytes<kMacSize>(wire, kRecordT3MacOffset);
    return r;
}

std::array<std::uint8_t, kDeviceRecordSize> EncodeDeviceRecord(const DeviceRecord& r) {
    std::array<std::uint8_t, kDeviceRecordSize> wire{};
    std::uint8_t* w = wire.data();
    PutBytes(w, kRecordNameOffset, r.Name);
    WriteBe16(w + kRecordFirmwareOffset, r.FirmwareVersion);
    WriteBe16(w + kRecordTfdpVersionOffset, r.TfdpVersion);
    PutBytes(w, kRecordReservedOffset, r.Reserved);
    PutBytes(w, kRecordIpOffset, r.Ip);
    PutBytes(w, kRecordMacOffset, r.Mac);
    WriteBe16(w + kRecordKindOffset, r.Kind);
    if (r.Kind != 0) {
        WriteBe16(w + kRecordModeOffset, r.Mode);
    } else {
        std::memcpy(w + kRecordModeOffset, &r.Mode, sizeof r.Mode);  // kept as it arrived
    }
    PutBytes(w, kRecordPeerIpOffset, r.PeerIp);
    PutBytes(w, kRecordBackup1IpOffset, r.Backup1Ip);
    PutBytes(w, kRecordBackup2IpOffset, r.Backup2Ip);
    PutBytes(w, kRecordT1MacOffset, r.T1Mac);
    PutBytes(w, kRecordT2MacOffset, r.T2Mac);
    PutBytes(w, kRecordT3MacOffset, r.T3Mac);
    return wire;
}

int DeviceTable::DeviceCount() const {
    const std::lock_guard lock(mutex_);
    return count_;
}

DeviceTable::UnitCounts DeviceTable::CountUnits() const {
    const std::lock_guard lock(mutex_);
    return {count_, count_ + static_cast<int>(turnedAway_.size())};
}

// Callers hold the lock. An index outside the valid records falls back to slot 0, as a failed
// look-up does, so nothing past the table is ever touched.
DeviceRecord& DeviceTable::Slot(int i) {
    return records_[i >= 0 && i < count_ ? static_cast<std::size_t>(i) : 0];
}
const DeviceRecord& DeviceTable::Slot(int i) const {
    return records_[i >= 0 && i < count_ ? static_cast<std::size_t>(i) : 0];
}

int DeviceTable::IndexOfLocked(const std::string& macText) const {
    const auto mac = ParseMacText(macText);
    if (!mac) {
        return -1;
    }
    for (int i = 0; i < count_; ++i) {
        if (records_[static_cast<std::size_t>(i)].Mac == *mac) {
            return i;
        }
    }
    return -1;
}

int DeviceTable::FindLocked(const std::string& macText) const {
    return std::max(IndexOfLocked(macText), 0);
}

DeviceRecord* DeviceTable::KnownLocked(const std::string& macText) {
    const int i = IndexOfLocked(macText);
    return i < 0 ? nullptr : &records_[static_cast<std::size_t>(i)];
}

std::string DeviceTable::DeviceNameAt(int i) const {
    const std::lock_guard lock(mutex_);
    return NameText(Slot(i).Name);
}
std::string DeviceTable::DeviceIpTextAt(int i) const {
    const std::lock_guard lock(mutex_);
    return Ipv4Text(Slot(i).Ip);
}
std::string DeviceTable::DeviceMacTextAt(int i) const {
    const std::lock_guard lock(mutex_);
    return MacText(Slot(i).Mac);
}
std::string DeviceTable::PeerIpTextAt(int i) const {
    const std::lock_guard lock(mutex_);
    return Ipv4Text(Slot(i).PeerIp);
}
std::string DeviceTable::T1MacTextAt(int i) const {
    const std::lock_guard lock(mutex_);
    return MacText(Slot(i).T1Mac);
}
std::string DeviceTable::T2MacTextAt(int i) const {
    const std::lock_guard lock(mutex_);
    return MacText(Slot(i).T2Mac);
}
std::string DeviceTable::T3MacTextAt(int i) const {
    const std::lock_guard lock(mutex_);
    return MacText(Slot(i).T3Mac);
}
DeviceRecord DeviceTable::RecordAt(int i) const {
    const std::lock_guard lock(mutex_);
    return Slot(i);
}

int DeviceTable::FindDeviceByMac(const std::string& macText) const {
    const std::lock_guard lock(mutex_);
    return FindLocked(macText);
}
DeviceRecord DeviceTable::RecordByMac(const std::string& macText) const {
    const std::lock_guard lock(mutex_);
    return Slot(FindLocked(macText));
}
std::string DeviceTable::DeviceNameByMac(const std::string& macText) const {
    const std::lock_guard lock(mutex_);
    return NameText(Slot(FindLocked(macText)).Name);
}
std::string DeviceTable::DeviceIpTextByMac(const std::string& macText) const {
    const std::lock_guard lock(mutex_);
    return Ipv4Text(Slot(FindLocked(macText)).Ip);
}
std::uint8_t DeviceTable::DeviceKindByMac(const std::string& macText) const {
    const std::lock_guard lock(mutex_);
    return static_cast<std::uint8_t>(Slot(FindLocked(macText)).Kind & 0xff);
}
std::uint8_t DeviceTable::DeviceModeByMac(const std::string& macText) const {
    const std::lock_guard lock(mutex_);
    return static_cast<std::uint8_t>(Slot(FindLocked(macText)).Mode & 0xff);
}
bool DeviceTable::ContainsMac(const std::string& macText) const {
    const std::lock_guard lock(mutex_);
    return IndexOfLocked(macText) >= 0;
}

std::optional<DeviceRecord> DeviceTable::FindRecord(const std::string& macText) const {
    const std::lock_guard lock(mutex_);
    const int i = IndexOfLocked(macText);
    if (i < 0) {
        return std::nullopt;
    }
    return records_[static_cast<std::size_t>(i)];
}

void DeviceTable::SetDeviceNameByMac(const std::string& macText,
                                     const std::array<std::uint8_t, 16>& name) {
    const std::lock_guard lock(mutex_);
    if (DeviceRecord* r = KnownLocked(macText)) {
        r->Name = name;
    }
}
void DeviceTable::SetDeviceIpByMac(const std::string& macText,
                                   std::span<const std::uint8_t, 32> configBlock) {
    const std::lock_guard lock(mutex_);
    if (DeviceRecord* r = KnownLocked(macText)) {
        std::memcpy(r->Ip.data(), configBlock.data() + kConfigNewIpOffset, r->Ip.size());
    }
}
void DeviceTable::SetDeviceModeByMac(const std::string& macText, std::uint8_t mode) {
    const std::lock_guard lock(mutex_);
    if (DeviceRecord* r = KnownLocked(macText)) {
        r->Mode = mode;
    }
}
void DeviceTable::SetDeviceKindByMac(const std::string& macText, std::uint8_t kind) {
    const std::lock_guard lock(mutex_);
    if (DeviceRecord* r = KnownLocked(macText)) {
        r->Kind = kind;
    }
}
void DeviceTable::LinkT1MacByMac(const std::string& macText, int sourceIndex) {
    constexpr int kUnlink = 255;
    const std::lock_guard lock(mutex_);
    DeviceRecord* known = KnownLocked(macText);
    if (known == nullptr) {
        return;
    }
    auto& target = *known;
    if (sourceIndex == kUnlink) {
        target.T1Mac = kNoMac;
        target.PeerIp = {};
    } else {
        target.T1Mac = Slot(sourceIndex).Mac;
    }
}

void DeviceTable::SetPeerMacSlot(int sourceIndex, int targetIndex, PeerSlot slot, bool set) {
    const std::lock_guard lock(mutex_);
    auto& target = Slot(targetIndex);
    if (set) {
        const MacBytes mac = Slot(sourceIndex).Mac;
        switch (slot) {
            case PeerSlot::Main:
                target.T1Mac = mac;
                break;
            case PeerSlot::Backup1:
                target.T2Mac = mac;
                break;
            case PeerSlot::Backup2:
                target.T3Mac = mac;
                break;
            default:
                break;
        }
        return;
    }
    if (slot != PeerSlot::Main) {
        return;
    }
    // Closing the first slot moves up the first backup that names a unit; the backups stay.
    if (target.T2Mac != kNoMac) {
        target.T1Mac = target.T2Mac;
    } else if (target.T3Mac != kNoMac) {
        target.T1Mac = target.T3Mac;
    } else {
        target.T1Mac = kNoMac;
    }
}

bool DeviceTable::ForgetPeerLinks(int index) {
    const std::lock_guard lock(mutex_);
    auto& self = Slot(index);
    const MacBytes mac = self.Mac;
    for (int i = 0; i < count_; ++i) {
        auto& r = records_[static_cast<std::size_t>(i)];
        if (r.T1Mac == mac) {
            r.T1Mac = kNoMac;
        }
    }
    self.T1Mac = kNoMac;
    self.T2Mac = kNoMac;
    self.T3Mac = kNoMac;
    return true;
}

void DeviceTable::StoreDiscoveredDevice(std::span<const std::uint8_t, kDeviceRecordSize> wire,
                                        LineSink& sink) {
    const DeviceRecord record = DecodeDeviceRecord(wire);
    std::vector<std::string> lines = TraceLinesFor(record);
    bool full = false;
    {
        const std::lock_guard lock(mutex_);
        const auto end = records_.begin() + count_;
        const bool known = std::any_of(records_.begin(), end,
                                       [&](const DeviceRecord& r) { return r.Mac == record.Mac; });
        const auto at = static_cast<std::size_t>(count_);
        if (!known && at < capacity_) {
            if (at == records_.size()) {
                records_.push_back(record);
            } else {
                records_[at] = record;
            }
            ++count_;
        } else if (!known) {
            full = true;
            if (turnedAway_.size() < kMaxCountedUnits) {
                turnedAway_.insert(record.Mac);
            }
        }
    }
    if (full) {
        lines.push_back("Device table is full (" + std::to_string(capacity_) +
                        " units): " + MacText(record.Mac) + " ignored");
    }
    lines.emplace_back(kDashLineLength, '-');
    // Emitted only now: the sink may wait on the window, which must never wait on this lock.
    for (const auto& line : lines) {
        sink.Trace(line);
    }
}

void DeviceTable::Clear() {
    const std::lock_guard lock(mutex_);
    count_ = 0;
    turnedAway_.clear();
    pending_.clear();  // the next discovery brings the units' own values
}

std::vector<DeviceRecord> DeviceTable::Snapshot() const {
    const std::lock_guard lock(mutex_);
    return {records_.begin(), records_.begin() + count_};
}

// ---- changes awaiting the addressed unit's answer ----

namespace {

// Puts back one field when it still holds what the refused request set.
template <typename Field>
void RestoreField(Field& current, const Field& before, const Field& after) {
    if (before != after && current == after) {
        current = before;
    }
}

}  // namespace

DeviceTable::RequestTicket DeviceTable::ExpectAnswer(const MacBytes& addressed,
                                                     ConfirmedOperation operation) {
    const std::lock_guard lock(mutex_);
    if (pending_.size() >= kMaxPendingAnswers) {
        pending_.pop_front();  // the oldest was never answered
    }
    PendingAnswer entry;
    entry.ticket = ++lastTicket_;
    entry.addressed = addressed;
    entry.operation = operation;
    for (PendingAnswer& other : pending_) {
        if (other.addressed == addressed && other.operation == operation) {
            other.ambiguous = true;
            entry.ambiguous = true;
        }
    }
    pending_.push_back(std::move(entry));
    return lastTicket_;
}

void DeviceTable::DropExpectation(RequestTicket ticket) {
    const std::lock_guard lock(mutex_);
    std::erase_if(pending_, [ticket](const PendingAnswer& p) { return p.ticket == ticket; });
}

void DeviceTable::ApplyForRequest(RequestTicket ticket, const RecordEdit& edit) {
    const std::lock_guard lock(mutex_);
    const std::span<DeviceRecord> valid(records_.data(), static_cast<std::size_t>(count_));
    const auto entry =
        std::find_if(pending_.begin(), pending_.end(),
                     [ticket](const PendingAnswer& p) { return p.ticket == ticket; });
    if (entry == pending_.end()) {
        edit(valid);
        return;
    }
    if (entry->accepted) {
        // Answered before the change was made: a refusal means there is nothing to show.
        if (*entry->accepted) {
            edit(valid);
        }
        pending_.erase(entry);
        return;
    }
    const std::vector<DeviceRecord> before(valid.begin(), valid.end());
    edit(valid);
    for (std::size_t i = 0; i < valid.size(); ++i) {
        if (!(before[i] == valid[i])) {
            entry->changes.push_back({before[i], valid[i]});
        }
    }
    entry->applied = true;
}

bool DeviceTable::SettleAnswer(const MacBytes& source, ConfirmedOperation operation,
                               bool accepted) {
    const std::lock_guard lock(mutex_);
    const auto entry = std::find_if(pending_.begin(), pending_.end(), [&](const PendingAnswer& p) {
        return p.addressed == source && p.operation == operation && !p.accepted;
    });
    if (entry == pending_.end()) {
        return false;
    }
    if (entry->ambiguous) {
        // Which of the requests this answers cannot be told: keep what the table shows.
        pending_.erase(entry);
        return false;
    }
    if (!entry->applied) {
        entry->accepted = accepted;
        return false;
    }
    const bool restore = !accepted && !entry->changes.empty();
    if (restore) {
        RestoreLocked(entry->changes);
    }
    pending_.erase(entry);
    return restore;
}

void DeviceTable::RestoreLocked(const std::vector<RecordChange>& changes) {
    for (const RecordChange& change : changes) {
        const auto end = records_.begin() + count_;
        const auto it = std::find_if(records_.begin(), end, [&](const DeviceRecord& r) {
            return r.Mac == change.before.Mac;
        });
        if (it == end) {
            continue;
        }
        DeviceRecord& r = *it;
        const DeviceRecord& b = change.before;
        const DeviceRecord& a = change.after;
        RestoreField(r.Name, b.Name, a.Name);
        RestoreField(r.Ip, b.Ip, a.Ip);
        RestoreField(r.Kind, b.Kind, a.Kind);
        RestoreField(r.Mode, b.Mode, a.Mode);
        RestoreField(r.PeerIp, b.PeerIp, a.PeerIp);
        RestoreField(r.Backup1Ip, b.Backup1Ip, a.Backup1Ip);
        RestoreField(r.Backup2Ip, b.Backup2Ip, a.Backup2Ip);
        RestoreField(r.T1Mac, b.T1Mac, a.T1Mac);
        RestoreField(r.T2Mac, b.T2Mac, a.T2Mac);
        RestoreField(r.T3Mac, b.T3Mac, a.T3Mac);
    }
}

DeviceTable& Devices() {
    // Never destroyed: the capture thread may still store a reply while the process exits.
    static auto* const table = new DeviceTable;
    return *table;
}
