#include "platform/message_box.h"

#include "platform/win32/system_headers.h"

// The system's own box. It runs its own message loop on the calling thread, so a worker's box
// blocks only that worker, and with no owner the main window stays usable beside it.
int MessageBoxA(void* owner, const char* text, const char* caption, unsigned type) {
    return ::MessageBoxA(static_cast<HWND>(owner), text, caption, type);
}
