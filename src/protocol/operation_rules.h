#pragma once

// The rules of the six operations that every front end shares: the name and address rules,
// who is addressed in each topology mode, and the request blocks. The window's workers and the
// command-line tool both call these, so a request for the same operation on the same table is
// the same bytes whichever of them sends it.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/device_table.h"
#include "protocol/wire_format.h"

inline constexpr std::size_t kDeviceNameMaxLength = kConfigNameSize;
using NameField = std::array<std::uint8_t, kDeviceNameMaxLength>;

// The texts of refused input, shown in a message box by the window and on standard error by
// the command-line tool.
inline constexpr char kNameTooLongText[] = "Device Name Too Long.";
inline constexpr char kNameFormatErrorText[] = "Device Name Format Error.";
inline constexpr char kIpFormatErrorText[] = "IP Format Error.";

// ---- name rule ----

enum class NameVerdict { Accepted, TooLong, FormatError };

struct NameCheck {
    NameVerdict verdict = NameVerdict::Accepted;
    NameField field{};  // the upper-cased name, zero bytes behind it (when accepted)
};

// 0 to 16 characters, each an ASCII letter or digit; the length is checked first. Lower case
// becomes upper case.
NameCheck CheckDeviceName(std::string_view typed);
// The refusal text of a verdict; nothing for Accepted.
std::optional<std::string_view> NameRefusalText(NameVerdict verdict);

// ---- address rule ----

// Exactly four decimal fields of 0 to 255 with no leading zeros, blanks allowed only at the end,
// and not 255.255.255.255 (which the platform's parser cannot tell from an error): only a text
// whose every reading gives the same address is accepted, so the address sent is the address
// the user read.
bool IsAcceptedIpText(std::string_view text);
// The four address bytes taken field by field from the text, each field read as a decimal
// number the way a 32-bit strtol does (saturating; "0x1f" reads as 0), its low 8 bits kept;
// missing fields are 0. For an accepted text, the address it names.
Ipv4Bytes IpFieldsOf(std::string_view text);
// The address an accepted text names; nothing for any other text.
std::optional<Ipv4Bytes> ParseAcceptedIpText(std::string_view text);
// Stores IpFieldsOf(text) into block bytes 10..13. Always true.
bool ParseIpText(ConfigBlock& block, std::string_view text);

// ---- who is addressed ----

inline constexpr std::uint8_t kKindTransmitterLowByte = 1;
inline constexpr std::uint8_t kModeMulticastLowByte = 0;

// Topology choices as the Topology picker lists them and the wire carries them.
enum class Topology : std::uint16_t { Multicast = 0, Unicast = 1 };

struct RequestTarget {
    std::string addressed;  // MAC text of the unit the frame goes to
    std::string other;      // MAC text of the unit the request names
};

// Add (main) and Delete: a unicast Transmitter is addressed and names the Receiver; in
// multicast the Receiver is addressed and names the Transmitter.
RequestTarget MainReceiverTarget(std::uint8_t transmitterModeLowByte,
                                 const std::string& transmitterMac, const std::string& receiverMac);
// The same rule on records the caller has looked up.
struct RecordTarget {
    DeviceRecord addressed;
    DeviceRecord other;
};
RecordTarget MainReceiverTarget(const DeviceRecord& transmitter, const DeviceRecord& receiver);

// Add backup: always the Transmitter, whatever its mode.
RequestTarget BackupReceiverTarget(const std::string& transmitterMac,
                                   const std::string& receiverMac);

// ---- request blocks (every byte the operation does not set is zero) ----

// From records the caller looked up once and carries through.
ConfigBlock NameRequestBlock(const DeviceRecord& unit, const NameField& name);
ConfigBlock IpRequestBlock(const DeviceRecord& unit, const Ipv4Bytes& ip);
ConfigBlock TopologyRequestBlock(const DeviceRecord& unit, Topology mode);
ConnectionBlock ConnectionRequestBlock(const DeviceRecord& addressed, const DeviceRecord& other,
                                       PeerSlot selector);

// From the table by MAC text (a MAC that names no record reads record 0: check first).

ConfigBlock NameRequestBlock(DeviceTable& table, const std::string& mac, const NameField& name);
ConfigBlock IpRequestBlock(DeviceTable& table, const std::string& mac, std::string_view ipText);
ConfigBlock TopologyRequestBlock(DeviceTable& table, const std::string& mac, Topology mode);
// selector: Main (0) for add and delete, the backup slot for add backup.
ConnectionBlock ConnectionRequestBlock(DeviceTable& table, const RequestTarget& target,
                                       PeerSlot selector);
