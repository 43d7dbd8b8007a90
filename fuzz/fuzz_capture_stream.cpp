// Feeds arbitrary bytes to the window's reader of the capture helper's stream, all at once and
// in pieces, in bulk or frame by frame: whatever comes, the reader yields events within the
// bytes or refuses the stream.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/CaptureStream.h"

namespace {

void Within(std::span<const std::uint8_t> part, std::span<const std::uint8_t> visible) {
  if (!part.empty() && (part.data() < visible.data() ||
                        part.data() + part.size() > visible.data() + visible.size()))
    __builtin_trap();
}

// With `bulk`, whole datagrams are taken in bulk first, as the window does.
void Read(std::span<const std::uint8_t> bytes, std::size_t piece, bool bulk) {
  TCaptureStreamReader reader;
  std::size_t offset = 0;
  std::vector<TReceived> datagrams;
  try {
    for (std::size_t available = 0; available < bytes.size() + piece; available += piece) {
      const auto visible = bytes.first(std::min(available, bytes.size()));
      for (;;) {
        if (bulk) {
          datagrams.clear();
          reader.TakeDatagrams(visible, offset, datagrams, 3);
          for (const TReceived& d : datagrams)
            Within(d.Datagram, visible);
        }
        const auto event = reader.Next(visible, offset);
        if (!event) break;
        Within(event->Bytes, visible);
      }
    }
  } catch (const ECaptureStreamError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  Read(bytes, size + 1, false);
  Read(bytes, 7, false);
  Read(bytes, 7, true);
  return 0;
}
