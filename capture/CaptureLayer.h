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

// The raw-socket operations a capture is made of, in the order a capture runs them:
// start-up, open, bind to an interface address, receive-all, receive one datagram at a time,
// close, clean-up. One object serves one capture. Every operation but Wake and Dropped is
// called on the capture's own thread.
class TCaptureLayer {
 public:
  virtual ~TCaptureLayer() = default;

  // Each returns false on failure; LastError then tells why.
  virtual bool Startup() = 0;
  virtual bool Open() = 0;
  virtual bool Bind(const std::string& ip) = 0;
  // Every IPv4 datagram through the bound interface, in either direction, from now on. The
  // port range only lets the layer spare copying what the decoder would drop anyway.
  virtual bool ReceiveAll(std::uint16_t port_start, std::uint16_t port_end) = 0;
  // Writes one whole IPv4 datagram, IP header first, to the front of `buffer` (cut to its
  // size) and returns its byte count; 0 when woken or when nothing arrived for a while;
  // negative on failure.
  virtual int Receive(std::span<std::uint8_t> buffer) = 0;
  virtual void Close() = 0;
  virtual void Cleanup() = 0;
  virtual TCaptureError LastError() = 0;

  // Safe from any thread, at any time: makes a Receive in progress, or the next one, return.
  virtual void Wake() = 0;
  // Datagrams the system dropped so far because the capture could not keep up.
  virtual std::uint64_t Dropped() = 0;

  // The IPv4 addresses of the host's own name, in the system's order; between Startup and
  // Cleanup.
  virtual std::vector<std::string> HostAddresses() = 0;
};

// The capture layer of the platform: Winsock on Windows, libpcap elsewhere.
std::unique_ptr<TCaptureLayer> MakePlatformCaptureLayer();
