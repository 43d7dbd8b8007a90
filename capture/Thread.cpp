#include "capture/Thread.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>

#include <cerrno>
#include <system_error>
#endif

struct TThreadStart {
#ifdef _WIN32
  static unsigned __stdcall Run(void* self) {
    TThread::Run(static_cast<TThread*>(self));
    return 0;
  }
#endif
};

TThread::~TThread() {
#ifdef _WIN32
  if (FHandle && ::GetThreadId(FHandle) != ::GetCurrentThreadId()) {
    FTerminated.store(true, std::memory_order_release);
    WaitFor();
  }
#else
  if (FHandle.joinable() && FHandle.get_id() != std::this_thread::get_id()) {
    FTerminated.store(true, std::memory_order_release);
    FHandle.join();
  }
#endif
}

void TThread::Terminate() {
  FTerminated.store(true, std::memory_order_release);
  TerminatedSet();
}

void TThread::WaitFor() {
#ifdef _WIN32
  if (!FHandle) return;
  ::WaitForSingleObject(FHandle, INFINITE);
  ::CloseHandle(FHandle);
  FHandle = nullptr;
#else
  if (FHandle.joinable()) FHandle.join();
#endif
}

void TThread::Resume() {
  // Read before the thread starts: a self-releasing thread may be gone by the next line.
  const bool free_on_terminate = FreeOnTerminate;
#ifdef _WIN32
  const std::uintptr_t handle = ::_beginthreadex(nullptr, 0, &TThreadStart::Run, this, 0, nullptr);
  if (handle == 0) throw std::system_error(errno, std::generic_category(), "_beginthreadex");
  if (free_on_terminate)
    ::CloseHandle(reinterpret_cast<HANDLE>(handle));
  else
    FHandle = reinterpret_cast<void*>(handle);
#else
  std::thread thread(&TThread::Run, this);
  if (free_on_terminate)
    thread.detach();
  else
    FHandle = std::move(thread);
#endif
}

void TThread::Run(TThread* self) {
  try {
    self->Execute();
  } catch (...) {
    // An exception that leaves Execute ends the thread; Execute keeps what it wants known.
  }
  const bool free_on_terminate = self->FreeOnTerminate;
  self->DoTerminate();
  if (free_on_terminate) delete self;
}
