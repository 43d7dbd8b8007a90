#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "core/CaptureTypes.h"
#include "core/StopLimits.h"

// The notice the capture thread pushes when a layer's hand-over at a stop could not hand over
// all that the system had captured before the stop: it ran out of time, or the means of
// capture broke off.
inline constexpr const char* kHandOverCut =
    "the stop's hand-over ran out of time: what the sockets still held is not shown";

// What a hand-over call brought: more may follow, or the hand-over is over, with all that the
// system had captured before the stop, or cut short.
enum class THandOver { More, Complete, CutShort };

// One capture on the platform's means: set up for a whole request at once, then batches of
// datagrams until a stop, then what the system still held. One object serves one capture.
// Every operation but Stop is called on the capture's own thread.
class TCaptureLayer {
 public:
  virtual ~TCaptureLayer() = default;

  // Runs every set-up step for `target`: afterwards every datagram through the interface
  // that holds the address, in either direction, is received. False on the first step that
  // fails; LastError() then names it and tells why. The port range only lets the layer spare
  // copying what the decoder would drop anyway.
  virtual bool Open(const TCaptureTarget& target) = 0;
  // Replaces `batch` with what arrived since the last call, waiting until something does, a
  // while passes or a stop is asked for; `batch` may come back empty. The datagrams' bytes stay
  // valid until the next call. False on failure.
  virtual bool Receive(std::vector<TReceived>& batch) = 0;
  // Once a stop was requested: replaces `batch` with more of what the system had already
  // captured when the stop came, and tells whether more may follow. The layer need not cut at
  // the stop's moment: the capture thread drops every datagram stamped at or after it.
  virtual THandOver ReceiveCaptured(std::vector<TReceived>& batch) = 0;
  // Releases whatever Open acquired, also after a failed Open; harmless twice.
  virtual void Close() = 0;
  virtual TCaptureError LastError() = 0;

  // Asks the capture to stop at `unix_microseconds`, the moment of the click (StopMomentNow);
  // safe from any thread, at any time, also before Open or after Close. A Receive in progress,
  // and every later one, returns at once; the layer may take in nothing new from here on, and
  // ReceiveCaptured hands over what it had taken in.
  virtual void Stop(std::int64_t unix_microseconds) = 0;
};

// The capture layer of the platform: Winsock on Windows; on Linux the capture helper, the only
// program that holds the right to capture.
std::unique_ptr<TCaptureLayer> MakePlatformCaptureLayer();
