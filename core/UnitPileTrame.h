#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "core/UnitGlobal.h"

// One entry of the queue: a captured segment, the news that datagrams were dropped at this
// point of the stream because the capture could not keep up, or a notice from the capture for
// the user at this point (what it cannot capture, for instance).
struct TPileItem {
  std::unique_ptr<TTrameTCP> Trame;
  std::uint64_t Dropped = 0;  // without a Trame: how many datagrams were lost here
  // Without a Trame: one line of text. Behind a pointer, so that the entries of the hot path
  // stay small.
  std::unique_ptr<std::string> Notice = nullptr;

  explicit operator bool() const { return Trame || Dropped != 0 || Notice; }
};

// The memory a queued record, or a queued notice, holds, as the queue counts it against its
// bound.
std::size_t QueuedBytes(const TTrameTCP& trame);
std::size_t QueuedBytes(const std::string& notice);

// The entries in transit and the one lock that guards them.
struct TLockedTrameList {
  std::mutex Lock;
  std::deque<TPileItem> Items;
  std::size_t Bytes = 0;  // of the records and notices in Items
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
// window held up by a flood neither grows without end nor loses anything silently. A notice
// counts against the bound too, but is always queued: a capture has few to tell, and what they
// say would be lost with them.
class TPileTrameTCP : public TCustomPileTrame {
 public:
  // Enough for several seconds of a flood between two ticks of the window.
  static constexpr std::size_t kDefaultByteLimit = std::size_t{128} << 20;

  explicit TPileTrameTCP(std::size_t byte_limit = kDefaultByteLimit) : FByteLimit(byte_limit) {}
  ~TPileTrameTCP();

  std::int32_t Count();
  // Ownership passes to the queue; a null record is ignored.
  void Push(std::unique_ptr<TTrameTCP> trame);
  // A notice for the user at this point; an empty text is ignored.
  void PushNotice(std::string notice);
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
  void AppendNotice(TPileItem& item);

  const std::size_t FByteLimit;
};
