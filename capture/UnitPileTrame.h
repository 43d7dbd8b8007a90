#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "capture/UnitGlobal.h"

// The records in transit and the one lock that guards them.
struct TLockedTrameList {
  std::mutex Lock;
  std::deque<std::unique_ptr<TTrameTCP>> Items;
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
  // The oldest record, or an empty pointer when nothing is queued.
  std::unique_ptr<TTrameTCP> Pop();
};
