#pragma once

#include <atomic>

// A worker thread in the manner of a runtime thread class: created suspended, started by
// Resume, asked to stop with Terminate, and released by itself once Execute has returned.
// Nobody may touch it after it has ended; its owners learn of the end through DoTerminate.
class TThread {
 public:
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Tells the thread's own machinery of the stop, then sets the stop request. Returns at once.
  void Terminate();
  bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }

 protected:
  TThread() = default;  // suspended
  virtual ~TThread() = default;

  // Starts Execute on its own thread; call once, from the most derived constructor. Throws
  // when the system cannot start a thread, and then nothing runs.
  void Resume();

  virtual void Execute() = 0;
  // Called by Terminate before the flag is set, on the terminating thread: whatever Execute
  // does once it sees the flag may then count on what this recorded of the stop.
  virtual void TerminateRequested() {}
  // Called on the thread once Execute has returned (or thrown), just before the release.
  virtual void DoTerminate() {}

 private:
  friend struct TThreadStart;
  static void Run(TThread* self);

  std::atomic<bool> FTerminated{false};
};
