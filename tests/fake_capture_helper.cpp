// fake_capture_helper ADDRESS FIRST-PORT LAST-PORT
// Stands in for the capture helper where a benchmark needs the heaviest flood a helper could
// send: it passes every set-up step, then writes empty ACK segments as fast as the window
// reads them, until its input closes.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include "core/CaptureStream.h"
#include "testsupport/DatagramFixtures.h"

namespace {

bool Write(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(1, bytes.data(), bytes.size());
    if (n <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

bool InputClosed() {
  pollfd input{0, POLLIN, 0};
  return ::poll(&input, 1, 0) > 0;
}

}  // namespace

int main() {
  ::signal(SIGPIPE, SIG_IGN);
  TCaptureStreamWriter out;
  out.Hello();
  out.Step(TCaptureStep::Open);
  out.Step(TCaptureStep::Bind);
  out.Step(TCaptureStep::ReceiveAll);
  if (!Write(out.Bytes())) return 0;
  const std::vector<std::uint8_t> segment = BuildDatagram(WithPayload("", 0x10));
  std::int64_t when = 1'796'616'631'250'000;
  while (!InputClosed()) {
    out.Clear();
    for (int i = 0; i < 4096; ++i)
      out.Datagram(++when, segment);
    if (!Write(out.Bytes())) return 0;
  }
  out.Clear();
  out.End();
  Write(out.Bytes());
  return 0;
}
