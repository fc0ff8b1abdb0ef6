#include "platform/window_lookup.h"

#include <windows.h>

#include <string>

// Windows asks the window manager directly; no Qt is needed for the look-up.
bool TopLevelWindowExists(std::string_view title) {
    const std::string text(title);
    return FindWindowA(nullptr, text.c_str()) != nullptr;
}
