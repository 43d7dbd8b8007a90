#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "core/UnitPileTrame.h"

// Records the window has released, kept for the capture threads to fill again: freeing memory
// on another thread than the one that allocated it costs the C library's allocator about four
// times as much as reusing it. Safe from any thread; bounded by the memory it keeps.
class TTramePool {
 public:
  static constexpr std::size_t kDefaultByteLimit = std::size_t{16} << 20;

  explicit TTramePool(std::size_t byte_limit = kDefaultByteLimit) : FByteLimit(byte_limit) {}
  TTramePool(const TTramePool&) = delete;
  TTramePool& operator=(const TTramePool&) = delete;

  // Takes the records of `items` and empties it; what is not worth keeping is deleted.
  void Release(std::vector<TPileItem>& items);
  // Moves up to `max` kept records to the end of `out`, for a producer to fill.
  void Take(std::vector<std::unique_ptr<TTrameTCP>>& out, std::size_t max);

 private:
  const std::size_t FByteLimit;
  std::mutex FLock;
  std::vector<std::unique_ptr<TTrameTCP>> FRecords;
  std::size_t FBytes = 0;
};
