// Feeds arbitrary bytes to the window's reader of the capture helper's stream, all at once and
// in pieces: whatever comes, the reader yields events within the bytes or refuses the stream.
#include <cstddef>
#include <cstdint>
#include <span>

#include "capture/CaptureStream.h"

namespace {

void Read(std::span<const std::uint8_t> bytes, std::size_t piece) {
  TCaptureStreamReader reader;
  std::size_t offset = 0;
  try {
    for (std::size_t available = 0; available < bytes.size() + piece; available += piece) {
      const auto visible = bytes.first(std::min(available, bytes.size()));
      while (auto event = reader.Next(visible, offset)) {
        if (!event->Bytes.empty() &&
            (event->Bytes.data() < visible.data() ||
             event->Bytes.data() + event->Bytes.size() > visible.data() + visible.size()))
          __builtin_trap();
      }
    }
  } catch (const ECaptureStreamError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  Read(bytes, size + 1);
  Read(bytes, 7);
  return 0;
}
