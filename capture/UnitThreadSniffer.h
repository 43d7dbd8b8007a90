#pragma once

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
// into a record, or into nothing when it is not a TCP segment with a port of
// FPortStart..FPortEnd at either end, or is too short or malformed to tell. Never reads
// outside `received`. The record is stamped with the local time at which the system saw the
// datagram (`unix_microseconds`, UTC), or, for 0, with the local time of the call. A record
// given in `reuse` is filled instead of a new one.
std::unique_ptr<TTrameTCP> DecodeDatagram(std::span<const std::uint8_t> received,
                                          std::uint16_t FPortStart, std::uint16_t FPortEnd,
                                          std::int64_t unix_microseconds = 0,
                                          std::unique_ptr<TTrameTCP>* reuse = nullptr);

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
  // For a capture that would not end in time: once this returns, nothing more of it reaches
  // the queue. What it already pushed stays there.
  void Detach();

 private:
  friend class TThreadSniffer;

  mutable std::mutex FLock;
  mutable std::condition_variable FEndedSignal;
  TThreadSniffer* FThread = nullptr;  // while the thread exists
  bool FReceiving = false;
  bool FEnded = false;
  bool FDetached = false;
  std::string FFailure;
};

// The capture's own thread: opens the capture layer on FIp, receives batch after batch of
// datagrams, decodes each and pushes the retained records onto FPile, with the drops the
// layer reports in their place, until it is terminated or a step fails. Once terminated it
// hands over what the system had already captured, then ends. It releases itself when it
// ends; callers keep only its TSnifferControl.
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
  // Decodes a batch and pushes its records and drop markers, in order.
  void Hand(const std::vector<TReceived>& batch);
  void Deliver();
  void Fail(TStep step, const TCaptureError& error);

  const std::string FIp;
  const std::uint16_t FPortStart;
  const std::uint16_t FPortEnd;
  const std::shared_ptr<TPileTrameTCP> FPile;
  const std::unique_ptr<TCaptureLayer> FLayer;
  const std::shared_ptr<TSnifferControl> FControl;
  std::vector<TPileItem> FItems;                      // decoded, not yet pushed
  std::vector<std::unique_ptr<TTrameTCP>> FReusable;  // released by the window
};
