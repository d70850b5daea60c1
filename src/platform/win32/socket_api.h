// The BSD socket API as address_lookup.cpp uses it in Windows Sockets:
// getaddrinfo and the sockaddr types are the same; connect's error names
// carry "WSA" before them.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#define ZEL_SOCKET_ERROR(name) WSA##name
