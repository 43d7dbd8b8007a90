#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "capture/UnitGlobal.h"

// One entry of the queue: a captured segment, or the news that the system dropped datagrams at
// this point of the stream because the capture could not keep up.
struct TPileItem {
  std::unique_ptr<TTrameTCP> Trame;
  std::uint64_t Dropped = 0;  // without a Trame: how many datagrams were lost here

  explicit operator bool() const { return Trame || Dropped != 0; }
};

// The entries in transit and the one lock that guards them; and the records the window has
// released, kept for the capture threads to fill again.
struct TLockedTrameList {
  std::mutex Lock;
  std::deque<TPileItem> Items;
  std::vector<std::unique_ptr<TTrameTCP>> Released;
};

class TCustomPileTrame {
 public:
  TCustomPileTrame() = default;
  TCustomPileTrame(const TCustomPileTrame&) = delete;
  TCustomPileTrame& operator=(const TCustomPileTrame&) = delete;

 protected:
  ~TCustomPileTrame() = default;
  TLockedTrameList FList;
};

// The FIFO through which capture threads hand records to the window. Every operation is
// atomic and safe from any thread; the queue is unbounded.
class TPileTrameTCP : public TCustomPileTrame {
 public:
  TPileTrameTCP() = default;
  ~TPileTrameTCP();

  std::int32_t Count();
  // Ownership passes to the queue; a null record is ignored.
  void Push(std::unique_ptr<TTrameTCP> trame);
  // A drop marker; a count of 0 is ignored.
  void PushDropped(std::uint64_t count);
  // Appends items[pushed..] in order under one lock, advancing `pushed` past each entry taken.
  // If the queue cannot grow, the exception leaves `pushed` at the entry that was not taken.
  void PushBatch(std::span<TPileItem> items, std::size_t& pushed);
  // The oldest entry, or an empty one when nothing is queued.
  TPileItem Pop();
  // Moves up to `max` of the oldest entries to the end of `out`; returns how many.
  std::size_t PopBatch(std::vector<TPileItem>& out, std::size_t max);
  // Releases everything queued.
  void Clear();

  // The consumer releases the records it took here rather than deleting them: a capture
  // thread fills them again. Freeing memory on another thread than the one that allocated
  // it costs the C library's allocator about four times as much as reusing it. Empties
  // `items`; what is not worth keeping is deleted at once.
  void Release(std::vector<TPileItem>& items);
  // Moves up to `max` released records to the end of `out`, for a producer to fill.
  void TakeReleased(std::vector<std::unique_ptr<TTrameTCP>>& out, std::size_t max);
};
