#pragma once

#include <atomic>
#include <thread>

// A worker thread in the manner of a runtime thread class: created suspended, started by
// Resume, asked to stop with Terminate, and, when FreeOnTerminate is set, released by itself
// once Execute has returned. Nobody may touch a self-releasing thread after it has ended;
// its owners learn of the end through DoTerminate.
class TThread {
 public:
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  virtual ~TThread();

  // Sets the stop request and wakes whatever Execute may be waiting on. Returns at once.
  void Terminate();
  bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }

  // For threads that do not release themselves: waits until Execute has returned.
  void WaitFor();

 protected:
  TThread() = default;  // suspended

  // Starts Execute on its own thread; call once, from the most derived constructor.
  void Resume();

  virtual void Execute() = 0;
  // Called by Terminate after the flag is set, on the terminating thread.
  virtual void TerminatedSet() {}
  // Called on the thread once Execute has returned (or thrown), before any self-release.
  virtual void DoTerminate() {}

  bool FreeOnTerminate = false;

 private:
  friend struct TThreadStart;
  static void Run(TThread* self);

  std::atomic<bool> FTerminated{false};
  // Only for threads that do not release themselves. Windows threads are the system's own:
  // under wine, winpthreads (behind std::thread there) now and then never starts one.
#ifdef _WIN32
  void* FHandle = nullptr;
#else
  std::thread FHandle;
#endif
};
