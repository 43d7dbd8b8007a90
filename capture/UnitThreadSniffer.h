#pragma once

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

class TThreadSniffer;

// The handle through which the window follows a capture. It stays valid after the capture
// thread has ended and released itself.
class TSnifferControl {
 public:
  // Asks the capture to end; a receive in progress returns at once. Harmless once ended.
  void Terminate();
  // True from the moment every set-up step has passed until the capture ends.
  bool Receiving() const;
  bool Ended() const;
  // Why the capture failed, as one sentence; empty while it has not failed.
  std::string Failure() const;
  // Waits at most `timeout` for the capture to end; true when it has.
  bool WaitEnded(std::chrono::milliseconds timeout) const;
  // Waits at most `timeout` for the set-up to pass or fail; true once it has passed.
  bool WaitReceiving(std::chrono::milliseconds timeout) const;
  // For a capture that would not end in time: once this returns, nothing more of it reaches
  // the queue. What it already pushed stays there.
  void Detach();

 private:
  friend class TThreadSniffer;

  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  TThreadSniffer* FThread = nullptr;  // while the thread exists
  bool FReceiving = false;
  bool FEnded = false;
  bool FDetached = false;
  std::string FFailure;
  // A failure whose text could not be composed; kept without allocating.
  const char* FFixedFailure = nullptr;
};

// The capture's own thread: opens the capture layer for FIp and the ports, receives batch after
// batch of datagrams, decodes each and pushes the retained records onto FPile, with the drops
// and notices the layer reports in their place, until it is terminated or a step fails. Once
// terminated it hands over what the system had already captured, then ends. It releases itself
// when it ends; callers keep only its TSnifferControl.
class TThreadSniffer final : public TThread {
 public:
  // Starts a capture on `layer` (the platform's when null), filling records released to
  // `pool` when one is given.
  static std::shared_ptr<TSnifferControl> Create(std::shared_ptr<TPileTrameTCP> FPile,
                                                 std::string FIp, std::uint16_t FPortStart,
                                                 std::uint16_t FPortEnd,
                                                 std::unique_ptr<TCaptureLayer> layer = nullptr,
                                                 std::shared_ptr<TTramePool> pool = nullptr);

 protected:
  void Execute() override;
  void TerminateRequested() override;
  void DoTerminate() override;

 private:
  TThreadSniffer(std::shared_ptr<TPileTrameTCP> pile, std::string ip, std::uint16_t port_start,
                 std::uint16_t port_end, std::unique_ptr<TCaptureLayer> layer,
                 std::shared_ptr<TTramePool> pool, std::shared_ptr<TSnifferControl> control);

  void ReceiveLoop();
  // Decodes the batch's datagrams into records, drop reports into markers, notices into
  // notices, in order.
  void DecodeBatch(const std::vector<TReceived>& batch);
  // Appends `item` to FDecoded after a drop marker for FLost; counts in FLost what it cannot
  // keep for want of memory.
  void Keep(TPileItem item);
  // How many datagrams the entry stands for: a record one, a drop marker its count.
  static std::uint64_t DatagramsIn(const TPileItem& item);
  // Pushes what DecodeBatch decoded onto the queue, unless the capture was detached.
  void PushDecoded();
  // Keeps the failure's text in the control; never leaves it without one.
  void Fail(const TCaptureError& error) noexcept;
  void Fail(TCaptureStep step, int code, std::string_view text,
            bool missing_rights = false) noexcept;

  const std::string FIp;
  const std::uint16_t FPortStart;
  const std::uint16_t FPortEnd;
  const std::shared_ptr<TPileTrameTCP> FPile;
  const std::unique_ptr<TCaptureLayer> FLayer;
  const std::shared_ptr<TTramePool> FPool;
  const std::shared_ptr<TSnifferControl> FControl;
  std::vector<TPileItem> FDecoded;  // decoded, not yet pushed
  // Datagrams lost for want of memory (or dropped by the layer) after the last entry of
  // FDecoded, or of the queue once FDecoded is pushed: a drop marker not yet made.
  std::uint64_t FLost = 0;
  std::vector<std::unique_ptr<TTrameTCP>> FBlank;  // records to fill
};
