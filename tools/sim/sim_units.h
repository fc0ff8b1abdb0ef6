#pragma once

// The simulated units and what each request does to them. Each unit keeps its own fields: a
// Receiver's link (T1/PeerIp) names the Transmitter it takes its picture from; a unicast
// Transmitter names its main Receiver in T1/PeerIp and its backups in T2/Backup1Ip and
// T3/Backup2Ip; a multicast one names no Receiver. The two ends of an attachment need not agree
// (a backup's own link may be empty or name another Transmitter). Where the units' behaviour is
// not known, the Readings choose (sim_readings.h).

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim_readings.h"
#include "sim_wire.h"

namespace vxsim {

inline constexpr std::size_t kMaxUnits = 1000;
inline constexpr std::uint16_t kKindReceiver = 0;
inline constexpr std::uint16_t kKindTransmitter = 1;
inline constexpr std::uint16_t kModeMulticast = 0;
inline constexpr std::uint16_t kModeUnicast = 1;

struct SimUnit {
    std::array<std::uint8_t, 16> name{};
    std::uint16_t firmware = 0x0012;
    std::uint16_t tfdpVersion = 0x0001;
    Ip4 ip{};
    Mac mac{};
    std::uint16_t kind = kKindReceiver;
    std::uint16_t mode = kModeMulticast;
    Ip4 peerIp{};
    Ip4 backup1Ip{};
    Ip4 backup2Ip{};
    Mac t1{};
    Mac t2{};
    Mac t3{};

    bool IsTransmitter() const { return kind == kKindTransmitter; }
    bool IsReceiver() const { return kind == kKindReceiver; }
    std::string NameText() const;
    void SetName(const std::string& text);
    bool operator==(const SimUnit&) const = default;
};

// The 66-byte record of a discovery reply.
std::array<std::uint8_t, wire::kRecordLength> EncodeRecord(const SimUnit& unit);

// Result of applying one request: whether the unit accepted it and which units changed.
struct Outcome {
    bool accepted = false;
    std::string reason;  // why it was refused
    std::vector<Mac> changed;
};

class UnitSet {
  public:
    UnitSet() = default;
    explicit UnitSet(std::vector<SimUnit> units) : units_(std::move(units)) {}

    void SetReadings(const Readings& readings) { readings_ = readings; }

    const std::vector<SimUnit>& Units() const { return units_; }
    const SimUnit* Find(const Mac& mac) const;
    // Adds a unit; false when the MAC is already taken or the set is full.
    bool Add(const SimUnit& unit);
    // Attaches a Receiver the way the layout says: main (slot 0) on both ends, a backup (1/2)
    // in the Transmitter's slot only; false when the pair does not fit the Transmitter's mode.
    bool Attach(const Mac& transmitter, const Mac& receiver, int slot);
    // One end only: a Receiver's own link, or a Transmitter's slot (nullptr: empty). False for
    // an unknown unit or slot.
    bool SetLink(const Mac& receiver, const Mac* transmitter);
    bool SetSlot(const Mac& transmitter, int slot, const Mac* receiver);

    Outcome SetName(const Mac& unit, std::span<const std::uint8_t, 16> name);
    Outcome SetIp(const Mac& unit, const Ip4& ip);
    Outcome SetMode(const Mac& unit, std::uint16_t mode);
    // addressed/other as carried in the connection block; selector 0 main, 1 or 2 backup.
    Outcome AddReceiver(const Mac& addressed, const Mac& other, std::uint16_t selector);
    Outcome DeleteReceiver(const Mac& addressed, const Mac& other);

  private:
    SimUnit* FindMutable(const Mac& mac);
    bool Alt(Decision d) const { return readings_.IsAlternative(d); }
    // The unicast Transmitter that the Receiver's own link names lets go of it (unless it is
    // `except`), as the attach-release reading says.
    void Release(const SimUnit& receiver, const SimUnit* except, std::vector<Mac>& changed);
    void SetOwnLink(SimUnit& receiver, const SimUnit* transmitter, std::vector<Mac>& changed);
    // Empties every slot of transmitter that names receiver.
    void ClearSlotsNaming(SimUnit& transmitter, const Mac& receiver, std::vector<Mac>& changed);
    void SetSlotOf(SimUnit& transmitter, int slot, const SimUnit* receiver,
                   std::vector<Mac>& changed);
    Outcome AddMain(SimUnit& transmitter, SimUnit& receiver);
    Outcome AddBackup(SimUnit& transmitter, SimUnit& receiver, int slot);

    std::vector<SimUnit> units_;
    Readings readings_;
};

}  // namespace vxsim
