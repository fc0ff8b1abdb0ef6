#include "platform/window_lookup.h"

#include <windows.h>

// Windows asks the window manager directly; no Qt is needed for the look-up.
bool TopLevelWindowExists(std::string_view title) {
    const std::string text(title);
    return FindWindowA(nullptr, text.c_str()) != nullptr;
}

// Windows keeps the lock file in the user's own folder: one copy per user.
std::string DisplaySessionKey() {
    return "windows";
}
