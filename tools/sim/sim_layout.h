#pragma once

// Unit layouts: a small text file or a built-in preset.
//
// Layout file, one statement per line, '#' starts a comment:
//   transmitter NAME MAC IP multicast|unicast
//   receiver    NAME MAC IP
//   attach      TRANSMITTER RECEIVER [main|backup1|backup2]
// Units in attach lines are named by NAME or MAC. Names are at most 16 characters.

#include <optional>
#include <string>

#include "sim_units.h"

namespace vxsim {

// nullopt with error set ("line N: ...") when the text is not a valid layout.
std::optional<UnitSet> ParseLayout(const std::string& text, std::string& error);

// "demo": a multicast Transmitter feeding two Receivers, a unicast Transmitter with a main and
// a backup-1 Receiver, and three free Receivers.
UnitSet DemoPreset();
// count units (1..1000): every fourth one a Transmitter, alternately multicast and unicast, each
// with the Receiver behind it attached; the rest free Receivers. Addresses 198.19.x.y.
UnitSet ManyPreset(int count);
// "demo" or "many:N".
std::optional<UnitSet> PresetByName(const std::string& name, std::string& error);

}  // namespace vxsim
