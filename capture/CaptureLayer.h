#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

// What went wrong in the last failed operation, as the system tells it.
struct TCaptureError {
  int Code = 0;
  std::string Text;
  bool MissingRights = false;  // the user may not capture at all
};

// What a capture is asked for: the interface address as the user typed it, and the ports.
struct TCaptureTarget {
  std::string Ip;
  std::uint16_t PortStart = 1;
  std::uint16_t PortEnd = 65535;
};

// One event of the capture, in the order the system saw them: a datagram (IPv4 header first)
// or the news that the system dropped datagrams at this point because the capture could not
// keep up.
struct TReceived {
  std::span<const std::uint8_t> Datagram;  // empty for a drop report
  // When the system saw the datagram, in microseconds since 1970 (UTC); 0 when the layer
  // cannot tell, and the reader of the clock is the capture thread.
  std::int64_t UnixMicroseconds = 0;
  std::uint64_t Dropped = 0;
};

// The operations a capture is made of, in the order a capture runs them: start-up, open, bind
// to an interface address, receive-all, receive batches of datagrams, close, clean-up. One
// object serves one capture. Every operation but Wake is called on the capture's own thread.
class TCaptureLayer {
 public:
  virtual ~TCaptureLayer() = default;

  // Told before Startup, for a layer that must know the whole request at once.
  virtual void Prepare(const TCaptureTarget&) {}

  // Each returns false on failure; LastError then tells why.
  virtual bool Startup() = 0;
  virtual bool Open() = 0;
  virtual bool Bind(const std::string& ip) = 0;
  // Every IPv4 datagram through the bound interface, in either direction, from now on. The
  // port range only lets the layer spare copying what the decoder would drop anyway.
  virtual bool ReceiveAll(std::uint16_t port_start, std::uint16_t port_end) = 0;
  // Replaces `batch` with what arrived since the last call, waiting until something does, a
  // while passes or Wake is called; `batch` may come back empty. The datagrams' bytes stay
  // valid until the next call. False on failure.
  virtual bool Receive(std::vector<TReceived>& batch) = 0;
  // Once a stop was requested: replaces `batch` with more of what the system had already
  // captured when the stop came (its buffers and rings, whatever their timeouts); false once
  // everything was handed over, or when that fails.
  virtual bool ReceiveCaptured(std::vector<TReceived>& batch) = 0;
  virtual void Close() = 0;
  virtual void Cleanup() = 0;
  virtual TCaptureError LastError() = 0;

  // Safe from any thread, at any time: makes a Receive in progress, or the next one, return.
  virtual void Wake() = 0;

  // The IPv4 addresses of the host's own name, in the system's order.
  virtual std::vector<std::string> HostAddresses() = 0;
};

// The capture layer of the platform: Winsock on Windows; on Linux the capture helper, the only
// program that holds the right to capture.
std::unique_ptr<TCaptureLayer> MakePlatformCaptureLayer();
