#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "core/CaptureTypes.h"

// A stopped capture hands over what the system had captured and releases everything within
// this; the window waits this long for it before it lets the capture go. Layers size their own
// deadlines from it, so that the window never cuts a hand-over that is still in progress.
inline constexpr std::chrono::milliseconds kHandOverLimit{2000};

// The notice a layer hands over when a stop's hand-over could not hand over all that the
// system had captured before the stop: it ran out of time, or the means of capture broke off.
inline constexpr const char* kHandOverCut =
    "the stop's hand-over ran out of time: what the sockets still held is not shown";

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
  // captured when the stop came; false once everything was handed over, or when that fails.
  virtual bool ReceiveCaptured(std::vector<TReceived>& batch) = 0;
  // Releases whatever Open acquired, also after a failed Open; harmless twice.
  virtual void Close() = 0;
  virtual TCaptureError LastError() = 0;

  // Asks the capture to stop; safe from any thread, at any time, also before Open or after
  // Close. A Receive in progress, or the next one, returns; the layer may take in nothing new
  // from here on, and ReceiveCaptured hands over what it had taken in.
  virtual void Stop() = 0;
};

// The capture layer of the platform: Winsock on Windows; on Linux the capture helper, the only
// program that holds the right to capture.
std::unique_ptr<TCaptureLayer> MakePlatformCaptureLayer();
