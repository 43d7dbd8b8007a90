// The capture lab's ws2_32.dll, found beside the program under test (with ws2_32=n,b): every
// function goes on to wine's own ws2_32, loaded by its system path, except WSAIoctl's
// SIO_RCVALL, which wine leaves unimplemented and which the lab answers itself. The lab's raw
// socket already receives what it can (the TCP datagrams addressed to its address), so
// switching receive-all on changes nothing there; switching it off stops the socket's
// receiving, as on Windows, while what it holds stays to be read: the proxy attaches a filter
// that takes nothing to the socket's Linux descriptor, and takes it away when receive-all goes
// on again.
//
// Each export is a jump through a table that DllMain fills from wine's module; the exports,
// their ordinals and the jumps are generated from ws2_32.exports.

// In this order: each needs the one before.
#include <winsock2.h>

#include <ws2tcpip.h>

#include <mstcpip.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

enum {
#define QV_FORWARD(index, name) kIndex_##name = index,
#include "ws2_32_forwards.inc"
#undef QV_FORWARD
  kForwardCount
};

// Read by the jumps below, hence not static.
FARPROC qvTargets[kForwardCount];

static const char* const kNames[kForwardCount] = {
#define QV_FORWARD(index, name) [index] = #name,
#include "ws2_32_forwards.inc"
#undef QV_FORWARD
};

#define QV_FORWARD(index, name)                                                           \
  __asm__(".text\n.globl Forward_" #name "\nForward_" #name ":\n\tjmp *qvTargets+" #index \
          "*8(%rip)\n");
#include "ws2_32_forwards.inc"
#undef QV_FORWARD

// What a function of ws2_32.exports that this wine lacks does when called.
static void Missing(void) {
  fputs("winelab ws2_32 proxy: a function this wine's ws2_32 lacks was called\n", stderr);
  abort();
}

// Wine's function `name` as a pointer of type T (through void (*)(void), which any function
// pointer type may be cast to without a warning).
#define WINE(T, name) ((T)(void (*)(void))qvTargets[kIndex_##name])

typedef int(WSAAPI* TWSAIoctl)(SOCKET, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD,
                               LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE);
typedef int(WSAAPI* TGetSockName)(SOCKET, struct sockaddr*, int*);
typedef void(WSAAPI* TWSASetLastError)(int);

// Linux system calls straight from this Windows code, which runs natively under wine.
enum { kLinuxClose = 3, kLinuxSetSockOpt = 54, kLinuxGetSockOpt = 55 };
enum { kLinuxSolSocket = 1, kLinuxSoType = 3, kLinuxAttachFilter = 26, kLinuxDetachFilter = 27 };
enum { kLinuxSockRaw = 3 };

// (long long: a Windows long has 32 bits.)
static long long LinuxCall(long long number, long long a, long long b, long long c, long long d,
                           long long e) {
  long long result;
  register long long r10 __asm__("r10") = d;
  register long long r8 __asm__("r8") = e;
  __asm__ volatile("syscall"
                   : "=a"(result)
                   : "a"(number), "D"(a), "S"(b), "d"(c), "r"(r10), "r"(r8)
                   : "rcx", "r11", "memory");
  return result;
}

// Linux's struct sock_filter and struct sock_fprog.
struct TLinuxFilter {
  unsigned short Code;
  unsigned char JumpTrue, JumpFalse;
  unsigned int K;
};
struct TLinuxProgram {
  unsigned short Length;
  const struct TLinuxFilter* Filter;
};

typedef LONG(CDECL* THandleToFd)(HANDLE, unsigned int, int*, unsigned int*);

// The socket's Linux descriptor, a copy to close, or -1.
static int LinuxFd(SOCKET s) {
  const THandleToFd to_fd = (THandleToFd)(void (*)(void))GetProcAddress(
      GetModuleHandleW(L"ntdll.dll"), "wine_server_handle_to_fd");
  int fd = -1;
  if (!to_fd || to_fd((HANDLE)s, 0, &fd, NULL) != 0) return -1;
  return fd;
}

// Whether the socket is a raw one, as Linux tells it: wine records no type for a raw IPv6
// socket (its SO_TYPE reads 0), though the socket it made is one.
static BOOL IsRaw(SOCKET s) {
  const int fd = LinuxFd(s);
  if (fd < 0) return FALSE;
  int type = 0;
  unsigned int size = sizeof type;
  const long long result = LinuxCall(kLinuxGetSockOpt, fd, kLinuxSolSocket, kLinuxSoType,
                                     (long long)(INT_PTR)&type, (long long)(INT_PTR)&size);
  LinuxCall(kLinuxClose, fd, 0, 0, 0, 0);
  return result == 0 && type == kLinuxSockRaw;
}

// Whether the socket receives from now on: a filter that takes nothing (return 0) stops it.
// What the socket already holds was queued before the filter and stays.
static BOOL SetReceiving(SOCKET s, BOOL receiving) {
  static const struct TLinuxFilter kNothing = {0x06 /* BPF_RET | BPF_K */, 0, 0, 0};
  static const struct TLinuxProgram kProgram = {1, &kNothing};
  static const int kUnused = 0;  // Linux takes no option shorter than an int
  const int fd = LinuxFd(s);
  if (fd < 0) return FALSE;
  long long result = receiving
                         ? LinuxCall(kLinuxSetSockOpt, fd, kLinuxSolSocket, kLinuxDetachFilter,
                                     (long long)(INT_PTR)&kUnused, sizeof kUnused)
                         : LinuxCall(kLinuxSetSockOpt, fd, kLinuxSolSocket, kLinuxAttachFilter,
                                     (long long)(INT_PTR)&kProgram, sizeof kProgram);
  if (receiving && result == -2) result = 0;  // ENOENT: no filter, receiving already
  LinuxCall(kLinuxClose, fd, 0, 0, 0, 0);
  return result == 0;
}

static int Failed(int error) {
  WINE(TWSASetLastError, WSASetLastError)(error);
  return SOCKET_ERROR;
}

// Windows takes SIO_RCVALL on a raw socket bound to one interface's address only; what the
// lab answers otherwise is its own choice of error.
static int ReceiveAll(SOCKET s, const void* in, DWORD in_size, DWORD* returned) {
  if (!in || in_size < sizeof(DWORD) || !returned) return Failed(WSAEFAULT);
  DWORD value;
  memcpy(&value, in, sizeof value);
  if (value > RCVALL_IPLEVEL) return Failed(WSAEINVAL);
  if (!IsRaw(s)) return Failed(WSAEINVAL);
  struct sockaddr_storage bound;
  int bound_size = sizeof bound;
  if (WINE(TGetSockName, getsockname)(s, (struct sockaddr*)&bound, &bound_size) != 0)
    return Failed(WSAEINVAL);  // not bound
  const struct sockaddr_in* v4 = (const struct sockaddr_in*)&bound;
  const struct sockaddr_in6* v6 = (const struct sockaddr_in6*)&bound;
  static const IN6_ADDR any6;
  if ((bound.ss_family == AF_INET && v4->sin_addr.s_addr == INADDR_ANY) ||
      (bound.ss_family == AF_INET6 && memcmp(&v6->sin6_addr, &any6, sizeof any6) == 0))
    return Failed(WSAEINVAL);
  if (!SetReceiving(s, value != RCVALL_OFF)) return Failed(WSAENETDOWN);
  *returned = 0;
  return 0;
}

int WSAAPI ProxyWSAIoctl(SOCKET s, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                         DWORD out_size, LPDWORD returned, LPWSAOVERLAPPED overlapped,
                         LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
  // Answered at once, also when asked for overlapped: it ends before it returns.
  if (code == SIO_RCVALL) return ReceiveAll(s, in, in_size, returned);
  return WINE(TWSAIoctl, WSAIoctl)(s, code, in, in_size, out, out_size, returned, overlapped,
                                   completion);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  DisableThreadLibraryCalls(self);
  wchar_t path[MAX_PATH];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length + 12 > MAX_PATH) return FALSE;
  wcscat(path, L"\\ws2_32.dll");
  const HMODULE wine = LoadLibraryW(path);
  if (!wine || wine == self) {
    fputs("winelab ws2_32 proxy: cannot load wine's ws2_32\n", stderr);
    return FALSE;
  }
  for (int i = 0; i < kForwardCount; ++i) {
    qvTargets[i] = GetProcAddress(wine, kNames[i]);
    if (!qvTargets[i]) qvTargets[i] = (FARPROC)Missing;
  }
  return TRUE;
}
