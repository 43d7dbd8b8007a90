#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "capture/UnitGlobal.h"

// One entry of the queue: a captured segment, or the news that datagrams were dropped at this
// point of the stream because the capture could not keep up.
struct TPileItem {
  std::unique_ptr<TTrameTCP> Trame;
  std::uint64_t Dropped = 0;  // without a Trame: how many datagrams were lost here

  explicit operator bool() const { return Trame || Dropped != 0; }
};

// The memory a queued record holds, as the queue counts it against its bound.
std::size_t QueuedBytes(const TTrameTCP& trame);

// The entries in transit and the one lock that guards them.
struct TLockedTrameList {
  std::mutex Lock;
  std::deque<TPileItem> Items;
  std::size_t Bytes = 0;  // of the records in Items
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
// atomic and safe from any thread. The records it holds are bounded by their memory: a record
// that would pass the bound is dropped and counted in a drop marker at its place, so that a
// window held up by a flood neither grows without end nor loses anything silently.
class TPileTrameTCP : public TCustomPileTrame {
 public:
  // Enough for several seconds of a flood between two ticks of the window.
  static constexpr std::size_t kDefaultByteLimit = std::size_t{128} << 20;

  explicit TPileTrameTCP(std::size_t byte_limit = kDefaultByteLimit) : FByteLimit(byte_limit) {}
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

 private:
  // Under the lock.
  void Append(TPileItem& item);
  void AppendDropped(std::uint64_t count);

  const std::size_t FByteLimit;
};
