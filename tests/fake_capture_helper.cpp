// fake_capture_helper MODE FIRST-PORT LAST-PORT
// Stands in for the capture helper where a test needs a helper the real one would never be.
// It passes every set-up step; then, for a MODE (the address argument) of
//   hangs:    one segment, then once told of the stop, it hands nothing over and never ends;
//   vanishes: one segment, then once told of the stop, it ends without ending its stream;
//   garbles:  one segment, then once told of the stop, it writes what no helper would;
//   deaf:     it closes its input at once, then one segment, and it never ends;
// for any other: it writes empty ACK segments as fast as the window reads them, until its
// input closes: the heaviest flood a helper could send.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <string_view>

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

void AwaitInputEnd() {
  std::uint8_t message[64];
  while (::read(0, message, sizeof message) > 0) {
  }
}

[[noreturn]] void Linger() {
  ::alarm(60);  // should the window never end it
  for (;;)
    ::pause();
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  const std::string_view mode = argc > 1 ? argv[1] : "";
  TCaptureStreamWriter out;
  out.Hello();
  out.Step(TCaptureStep::Open);
  out.Step(TCaptureStep::Bind);
  out.Step(TCaptureStep::ReceiveAll);
  if (mode == "hangs" || mode == "vanishes" || mode == "garbles" || mode == "deaf") {
    if (mode == "deaf") ::close(0);
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    out.Datagram(std::int64_t{now.tv_sec} * 1'000'000 + now.tv_nsec / 1000,
                 BuildDatagram(WithPayload("before")));
    if (!Write(out.Bytes()) || mode == "deaf") Linger();
    AwaitInputEnd();
    if (mode == "vanishes") return 0;
    if (mode == "garbles") Write(std::vector<std::uint8_t>{0, 0, 0, 0x7F});
    Linger();
  }
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
