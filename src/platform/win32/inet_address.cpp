#include "platform/inet_address.h"

#include "platform/win32/winsock.h"

// The sockets library's own parser, which the Linux build re-creates in inet_address.cpp.
std::uint32_t inet_addr(const char* text) {
    if (text == nullptr || !vxwin::WinsockStarted()) {
        return INADDR_NONE_VALUE;
    }
    return vxwin::WinsockInetAddr(text);
}
