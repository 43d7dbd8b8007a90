#include "capture/Thread.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>

#include <cerrno>
#include <system_error>
#else
#include <thread>
#endif

struct TThreadStart {
#ifdef _WIN32
  static unsigned __stdcall Run(void* self) {
    TThread::Run(static_cast<TThread*>(self));
    return 0;
  }
#endif
};

void TThread::Terminate() {
  TerminateRequested();
  FTerminated.store(true, std::memory_order_release);
}

void TThread::Resume() {
#ifdef _WIN32
  // The system's own thread: under wine, winpthreads (behind std::thread there) now and then
  // never starts a detached one.
  const std::uintptr_t handle = ::_beginthreadex(nullptr, 0, &TThreadStart::Run, this, 0, nullptr);
  if (handle == 0) throw std::system_error(errno, std::generic_category(), "_beginthreadex");
  ::CloseHandle(reinterpret_cast<HANDLE>(handle));
#else
  std::thread(&TThread::Run, this).detach();
#endif
}

void TThread::Run(TThread* self) {
  try {
    self->Execute();
  } catch (...) {
    // An exception that leaves Execute ends the thread; Execute keeps what it wants known.
  }
  self->DoTerminate();
  delete self;
}
