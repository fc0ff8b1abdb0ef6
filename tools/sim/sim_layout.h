#pragma once

// Unit layouts: a small text file or a built-in preset.
//
// Layout file, one statement per line, '#' starts a comment:
//   transmitter NAME MAC IP multicast|unicast
//   receiver    NAME MAC IP
//   attach      TRANSMITTER RECEIVER [main|backup1|backup2]
//   link        RECEIVER TRANSMITTER|-                     (the Receiver's own link only)
//   slot        TRANSMITTER main|backup1|backup2 RECEIVER|-  (the Transmitter's slot only)
// attach sets both ends for a main Receiver, the slot only for a backup (as an Add backup does).
// Units are named by NAME or MAC. Names are at most 16 characters.

#include <optional>
#include <string>

#include "sim_units.h"

namespace vxsim {

// nullopt with error set ("line N: ...") when the text is not a valid layout.
std::optional<UnitSet> ParseLayout(const std::string& text, std::string& error);

// "demo": a multicast Transmitter feeding two Receivers, a unicast Transmitter with a main and
// a backup-1 Receiver (whose own link is empty), and three free Receivers.
UnitSet DemoPreset();
// count units (1..1000): every fourth one a Transmitter, alternately multicast and unicast, each
// with the Receiver behind it attached; the rest free Receivers. Addresses 198.19.x.y.
UnitSet ManyPreset(int count);
// "demo" or "many:N".
std::optional<UnitSet> PresetByName(const std::string& name, std::string& error);

}  // namespace vxsim
