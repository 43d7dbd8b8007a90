#pragma once

// What a capture is asked for, what it delivers and how it fails: shared by the capture
// thread, the capture layers, the capture helper and the stream between them.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The steps of a capture, in the order it runs them. The values travel in the helper's
// stream: never renumber them.
enum class TCaptureStep : std::uint8_t {
  Startup = 0,
  Open = 1,
  Bind = 2,
  ReceiveAll = 3,
  Receive = 4
};

// The step's name as failure messages give it: "start-up", "open", "bind", "receive-all",
// "receive".
std::string_view StepName(TCaptureStep step);

// What went wrong, where, as the system tells it.
struct TCaptureError {
  TCaptureStep Step = TCaptureStep::Startup;
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

// One event of the capture, in the order the system saw them: a datagram (IP header first),
// the news that the system dropped datagrams at this point because the capture could not
// keep up, or a notice for the user at this point (one line: what the capture cannot do, for
// instance).
struct TReceived {
  std::span<const std::uint8_t> Datagram;  // empty for a drop report or a notice
  // When the system saw the datagram, in microseconds since 1970 (UTC); 0 when the layer
  // cannot tell, and the reader of the clock is the capture thread.
  std::int64_t UnixMicroseconds = 0;
  std::uint64_t Dropped = 0;
  // Held by the layer, like the datagram's bytes; empty for none.
  std::string_view Notice = {};
};
