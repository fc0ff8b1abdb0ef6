#pragma once

#include <cstdint>

// Winsock, started once for the process. Kept apart from platform/inet_address.h, whose
// inet_addr would clash with Winsock's own declaration in one translation unit.
namespace vxwin {

// True once WSAStartup has succeeded (the first call starts it).
bool WinsockStarted();
// Winsock's inet_addr; the caller has checked WinsockStarted.
std::uint32_t WinsockInetAddr(const char* text);

}  // namespace vxwin
