#pragma once

#include <functional>
#ifndef _WIN32
#include <thread>
#endif

// A thread that belongs to the object that holds it: started once, and waited for by Join or,
// at the latest, by the destructor. It never outlives its holder, and nothing is detached.
class TOwnedThread {
 public:
  TOwnedThread() = default;
  ~TOwnedThread() { Join(); }
  TOwnedThread(const TOwnedThread&) = delete;
  TOwnedThread& operator=(const TOwnedThread&) = delete;

  // Runs `work` on a new thread; call once. Throws when the system cannot start a thread, and
  // then nothing runs.
  void Start(std::function<void()> work);
  // Waits for the thread to end; harmless when it was never started or has been joined.
  void Join();

 private:
  std::function<void()> FWork;
#ifdef _WIN32
  void* FHandle = nullptr;
#else
  std::thread FThread;
#endif
};
