#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "capture/CaptureLayer.h"
#include "capture/Thread.h"
#include "capture/UnitGlobal.h"
#include "capture/UnitPileTrame.h"

// Turns one received IPv4 datagram (IP header first, exactly the bytes the receive filled)
// into a record stamped with the local time, or into nothing when it is not a TCP segment
// with a port of FPortStart..FPortEnd at either end, or is too short or malformed to tell.
// Never reads outside `received`.
std::unique_ptr<TTrameTCP> DecodeDatagram(std::span<const std::uint8_t> received,
                                          std::uint16_t FPortStart, std::uint16_t FPortEnd);

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
  // Datagrams the system dropped so far because the capture could not keep up.
  std::uint64_t Dropped() const { return FDropped.load(std::memory_order_relaxed); }
  // Waits at most `timeout` for the capture to end; true when it has.
  bool WaitEnded(std::chrono::milliseconds timeout) const;

 private:
  friend class TThreadSniffer;

  mutable std::mutex FLock;
  mutable std::condition_variable FEndedSignal;
  TThreadSniffer* FThread = nullptr;  // while the thread exists
  bool FReceiving = false;
  bool FEnded = false;
  std::string FFailure;
  std::atomic<std::uint64_t> FDropped{0};
};

// The capture's own thread: opens the capture layer on FIp, receives datagram after datagram,
// decodes each and pushes the retained records onto FPile, until it is terminated or a step
// fails. It releases itself when it ends; callers keep only its TSnifferControl.
class TThreadSniffer final : public TThread {
 public:
  // Starts a capture on the platform's capture layer.
  static std::shared_ptr<TSnifferControl> Create(std::shared_ptr<TPileTrameTCP> FPile,
                                                 std::string FIp, std::uint16_t FPortStart,
                                                 std::uint16_t FPortEnd);
  static std::shared_ptr<TSnifferControl> Create(std::shared_ptr<TPileTrameTCP> FPile,
                                                 std::string FIp, std::uint16_t FPortStart,
                                                 std::uint16_t FPortEnd,
                                                 std::unique_ptr<TCaptureLayer> FLayer);

 protected:
  void Execute() override;
  void TerminatedSet() override;
  void DoTerminate() override;

 private:
  enum class TStep { Startup, Open, Bind, ReceiveAll, Receive };

  TThreadSniffer(std::shared_ptr<TPileTrameTCP> pile, std::string ip, std::uint16_t port_start,
                 std::uint16_t port_end, std::unique_ptr<TCaptureLayer> layer,
                 std::shared_ptr<TSnifferControl> control);

  void ReceiveLoop();
  void Fail(TStep step, const TCaptureError& error);

  const std::string FIp;
  const std::uint16_t FPortStart;
  const std::uint16_t FPortEnd;
  const std::shared_ptr<TPileTrameTCP> FPile;
  const std::unique_ptr<TCaptureLayer> FLayer;
  const std::shared_ptr<TSnifferControl> FControl;
  std::vector<std::uint8_t> FBuffer;
};
