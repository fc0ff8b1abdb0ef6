#pragma once

#include <string>
#include <string_view>

// True when a top-level window with exactly this title exists on the display the program shows
// on. Where no window system can be asked (Qt's offscreen platform), nothing is found. Call
// once the toolkit has started.
bool TopLevelWindowExists(std::string_view title);

// Names the display this copy shows on, for its single-instance lock: one copy per user and
// display (on Windows, one per user).
std::string DisplaySessionKey();
