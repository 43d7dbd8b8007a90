#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "capture/CaptureLayer.h"
#include "capture/Thread.h"
#include "core/TramePool.h"
#include "core/UnitPileTrame.h"

// A capture on its own thread: opens the capture layer for FIp and the ports, receives batch
// after batch of datagrams, decodes each and pushes the retained records onto FPile, with the
// drops and notices the layer reports in their place, until it is terminated or a step fails.
// Once terminated it hands over what the system had already captured, then ends. The object
// owns its thread: destroying it stops the capture and waits for the thread to end, which the
// capture layer bounds once stopped.
class TThreadSniffer final {
 public:
  // Starts a capture on `layer` (the platform's when null), filling records released to
  // `pool` when one is given.
  static std::unique_ptr<TThreadSniffer> Create(std::shared_ptr<TPileTrameTCP> FPile,
                                                std::string FIp, std::uint16_t FPortStart,
                                                std::uint16_t FPortEnd,
                                                std::unique_ptr<TCaptureLayer> layer = nullptr,
                                                std::shared_ptr<TTramePool> pool = nullptr);
  ~TThreadSniffer();
  TThreadSniffer(const TThreadSniffer&) = delete;
  TThreadSniffer& operator=(const TThreadSniffer&) = delete;

  // Asks the capture to end; a receive in progress returns at once. Harmless once ended.
  void Terminate();
  bool Ended() const;
  // Why the capture failed, as one sentence; empty while it has not failed.
  std::string Failure() const;
  // Waits at most `timeout` for the capture to end; true when it has.
  bool WaitEnded(std::chrono::milliseconds timeout) const;
  // Waits at most `timeout` for the set-up to pass or fail; true once it has passed.
  bool WaitReceiving(std::chrono::milliseconds timeout) const;
  // For a capture that would not end in time: once this returns, nothing more of it reaches
  // the queue. What it already pushed stays there.
  void LetGo();

 private:
  TThreadSniffer(std::shared_ptr<TPileTrameTCP> pile, std::string ip, std::uint16_t port_start,
                 std::uint16_t port_end, std::unique_ptr<TCaptureLayer> layer,
                 std::shared_ptr<TTramePool> pool);

  bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }
  // The thread's work: the capture, then its end made known.
  void Run() noexcept;
  void Execute();
  void ReceiveLoop();
  // Decodes the batch's datagrams into records, drop reports into markers, notices into
  // notices, in order.
  void DecodeBatch(const std::vector<TReceived>& batch);
  // Appends `item` to FDecoded after a drop marker for FLost; counts in FLost what it cannot
  // keep for want of memory.
  void Keep(TPileItem item);
  // How many datagrams the entry stands for: a record one, a drop marker its count.
  static std::uint64_t DatagramsIn(const TPileItem& item);
  // Pushes what DecodeBatch decoded onto the queue, unless the capture was let go.
  void PushDecoded();
  // Keeps the failure's text; never leaves it without one.
  void Fail(const TCaptureError& error) noexcept;
  void Fail(TCaptureStep step, int code, std::string_view text,
            bool missing_rights = false) noexcept;

  const std::string FIp;
  const std::uint16_t FPortStart;
  const std::uint16_t FPortEnd;
  const std::shared_ptr<TPileTrameTCP> FPile;
  const std::unique_ptr<TCaptureLayer> FLayer;
  const std::shared_ptr<TTramePool> FPool;
  std::vector<TPileItem> FDecoded;  // decoded, not yet pushed
  // Datagrams lost for want of memory (or dropped by the layer) after the last entry of
  // FDecoded, or of the queue once FDecoded is pushed: a drop marker not yet made.
  std::uint64_t FLost = 0;
  std::vector<std::unique_ptr<TTrameTCP>> FBlank;  // records to fill
  std::atomic<bool> FTerminated{false};
  // The stop's moment (StopMomentNow), set before FTerminated; 0 before the stop.
  std::atomic<std::int64_t> FStopAt{0};
  // A datagram of the stop's moment or later has come: it and all after it are not part of
  // the capture.
  bool FCutReached = false;

  // What the window follows of the capture, under FLock; the queue is pushed to under it too,
  // so that LetGo waits for a push in progress.
  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  bool FReceiving = false;
  bool FEnded = false;
  bool FLetGo = false;
  std::string FFailure;
  // A failure whose text could not be composed; kept without allocating.
  const char* FFixedFailure = nullptr;

  TOwnedThread FThread;  // last: started once everything else is in place
};
