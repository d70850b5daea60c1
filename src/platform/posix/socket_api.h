// The BSD socket API as address_lookup.cpp uses it on POSIX: getaddrinfo,
// the sockaddr types and the errno names of connect's failures.
#pragma once

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

#define ZEL_SOCKET_ERROR(name) name
