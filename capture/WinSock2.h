#pragma once

// The Winsock entry points the capture calls: WSAStartup, socket, inet_addr, bind, WSAIoctl
// with SIO_RCVALL, recv, closesocket, WSACleanup and WSAGetLastError, with WSAEventSelect and
// its events so that a stop can wake a receive; gethostname, gethostbyname and inet_ntoa for
// the host's own addresses; and the capture's text for a Winsock error. Only the project root
// is an include directory, so this header is reached as "capture/WinSock2.h" and never
// stands in for the system's <winsock2.h>.
#ifdef _WIN32
// In this order: each needs the one before.
#include <winsock2.h>

#include <ws2tcpip.h>

#include <mstcpip.h>

#include "capture/CaptureTypes.h"

// What a capture reports when a Winsock call of `step` fails with `code`: the case named (an
// interface gone, an address gone...) with the system's own text, in English.
TCaptureError WinsockError(TCaptureStep step, int code);

#ifndef SIO_RCVALL
#define SIO_RCVALL _WSAIOW(IOC_VENDOR, 1)
#endif
#ifndef RCVALL_ON
#define RCVALL_ON 1
#endif
#endif
