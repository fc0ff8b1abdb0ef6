#pragma once

#include <string_view>

// True when a top-level window with exactly this title exists on the display the application
// is connected to. Where no window system can be asked (the offscreen platform), nothing is
// found. Call after the QApplication exists.
bool TopLevelWindowExists(std::string_view title);
