#include "capture/Thread.h"

TThread::~TThread() {
  if (FHandle.joinable() && FHandle.get_id() != std::this_thread::get_id()) {
    FTerminated.store(true, std::memory_order_release);
    FHandle.join();
  }
}

void TThread::Terminate() {
  FTerminated.store(true, std::memory_order_release);
  TerminatedSet();
}

void TThread::WaitFor() {
  if (FHandle.joinable()) FHandle.join();
}

void TThread::Resume() {
  // Read before the thread starts: a self-releasing thread may be gone by the next line.
  const bool free_on_terminate = FreeOnTerminate;
  std::thread thread(&TThread::Run, this);
  if (free_on_terminate)
    thread.detach();
  else
    FHandle = std::move(thread);
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
