#include "core/UnitPileTrame.h"

#include <algorithm>
#include <limits>
#include <utility>

std::size_t QueuedBytes(const TTrameTCP& trame) {
  return sizeof(TPileItem) + sizeof(TTrameTCP) + trame.Data.capacity();
}

std::size_t QueuedBytes(const std::string& notice) {
  return sizeof(TPileItem) + sizeof(std::string) + notice.capacity();
}

namespace {

// What an entry leaving the queue gives back to its bound: drop markers were never counted.
std::size_t ItemBytes(const TPileItem& item) {
  if (item.Trame) return QueuedBytes(*item.Trame);
  return item.Notice ? QueuedBytes(*item.Notice) : 0;
}

}  // namespace

TPileTrameTCP::~TPileTrameTCP() {
  Clear();
}

std::int32_t TPileTrameTCP::Count() {
  std::lock_guard guard(FList.Lock);
  const auto size = FList.Items.size();
  constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int32_t>(size < kMax ? size : kMax);
}

void TPileTrameTCP::Push(std::unique_ptr<TTrameTCP> trame) {
  if (!trame) return;
  TPileItem item{std::move(trame), 0};
  std::lock_guard guard(FList.Lock);
  Append(item);
}

void TPileTrameTCP::PushNotice(std::string notice) {
  if (notice.empty()) return;
  TPileItem item{nullptr, 0, std::make_unique<std::string>(std::move(notice))};
  std::lock_guard guard(FList.Lock);
  AppendNotice(item);
}

void TPileTrameTCP::PushBatch(std::span<TPileItem> items, std::size_t& pushed) {
  std::lock_guard guard(FList.Lock);
  for (; pushed < items.size(); ++pushed)
    Append(items[pushed]);
}

// Both keep the strong guarantee: an entry that cannot be queued is left as it was.
void TPileTrameTCP::Append(TPileItem& item) {
  if (!item.Trame) [[unlikely]] {
    if (item.Notice) return AppendNotice(item);
    return AppendDropped(item.Dropped);
  }
  const std::size_t cost = QueuedBytes(*item.Trame);
  if (FList.Bytes + cost > FByteLimit) {
    AppendDropped(1);
    item.Trame.reset();  // rare: only while the window cannot keep up
    return;
  }
  FList.Items.push_back(std::move(item));
  FList.Bytes += cost;
}

// Drops that follow drops stand at the same place: one marker counts them all.
void TPileTrameTCP::AppendDropped(std::uint64_t count) {
  if (count == 0) return;
  if (!FList.Items.empty() && !FList.Items.back().Trame && !FList.Items.back().Notice)
    FList.Items.back().Dropped += count;
  else
    FList.Items.push_back({nullptr, count});
}

void TPileTrameTCP::AppendNotice(TPileItem& item) {
  if (!item.Notice || item.Notice->empty()) return;
  const std::size_t cost = QueuedBytes(*item.Notice);
  FList.Items.push_back(std::move(item));
  FList.Bytes += cost;
}

TPileItem TPileTrameTCP::Pop() {
  std::lock_guard guard(FList.Lock);
  if (FList.Items.empty()) return {};
  TPileItem front = std::move(FList.Items.front());
  FList.Items.pop_front();
  FList.Bytes -= ItemBytes(front);
  return front;
}

std::size_t TPileTrameTCP::PopBatch(std::vector<TPileItem>& out, std::size_t max) {
  std::lock_guard guard(FList.Lock);
  const std::size_t count = std::min(max, FList.Items.size());
  const auto end = FList.Items.begin() + static_cast<std::ptrdiff_t>(count);
  out.reserve(out.size() + count);
  for (auto item = FList.Items.begin(); item != end; ++item) {
    FList.Bytes -= ItemBytes(*item);
    out.push_back(std::move(*item));
  }
  FList.Items.erase(FList.Items.begin(), end);
  return count;
}

void TPileTrameTCP::Clear() {
  std::deque<TPileItem> queued;
  {
    std::lock_guard guard(FList.Lock);
    queued.swap(FList.Items);
    FList.Bytes = 0;
  }
}
