#include "capture/UnitPileTrame.h"

#include <limits>
#include <utility>

TPileTrameTCP::~TPileTrameTCP() {
  std::lock_guard guard(FList.Lock);
  FList.Items.clear();
}

std::int32_t TPileTrameTCP::Count() {
  std::lock_guard guard(FList.Lock);
  const auto size = FList.Items.size();
  constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int32_t>(size < kMax ? size : kMax);
}

void TPileTrameTCP::Push(std::unique_ptr<TTrameTCP> trame) {
  if (!trame) return;
  std::lock_guard guard(FList.Lock);
  FList.Items.push_back(std::move(trame));
}

std::unique_ptr<TTrameTCP> TPileTrameTCP::Pop() {
  std::lock_guard guard(FList.Lock);
  if (FList.Items.empty()) return nullptr;
  std::unique_ptr<TTrameTCP> front = std::move(FList.Items.front());
  FList.Items.pop_front();
  return front;
}
