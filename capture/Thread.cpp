#include "capture/Thread.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace {

unsigned __stdcall RunWork(void* work) {
  (*static_cast<std::function<void()>*>(work))();
  return 0;
}

}  // namespace
#endif

void TOwnedThread::Start(std::function<void()> work) {
  FWork = std::move(work);
#ifdef _WIN32
  // The system's own thread: under wine, winpthreads (behind std::thread there) now and then
  // never starts one. Its handle is kept, to wait for it.
  const std::uintptr_t handle = ::_beginthreadex(nullptr, 0, &RunWork, &FWork, 0, nullptr);
  if (handle == 0) throw std::system_error(errno, std::generic_category(), "_beginthreadex");
  FHandle = reinterpret_cast<void*>(handle);
#else
  FThread = std::thread(FWork);
#endif
}

void TOwnedThread::Join() {
#ifdef _WIN32
  if (!FHandle) return;
  ::WaitForSingleObject(static_cast<HANDLE>(FHandle), INFINITE);
  ::CloseHandle(static_cast<HANDLE>(FHandle));
  FHandle = nullptr;
#else
  if (FThread.joinable()) FThread.join();
#endif
}
