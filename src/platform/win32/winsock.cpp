#include "platform/win32/winsock.h"

#include <winsock2.h>

namespace vxwin {

bool WinsockStarted() {
    // Never cleaned up: detached workers may still parse addresses while the process exits.
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

std::uint32_t WinsockInetAddr(const char* text) {
    return static_cast<std::uint32_t>(::inet_addr(text));
}

}  // namespace vxwin
