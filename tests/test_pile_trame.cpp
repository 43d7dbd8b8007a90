#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/UnitPileTrame.h"

namespace {

std::unique_ptr<TTrameTCP> Numbered(int n) {
  auto trame = std::make_unique<TTrameTCP>();
  trame->Source.Port = static_cast<std::uint16_t>(n);
  trame->Data = std::to_string(n);
  return trame;
}

// A drop marker, as a capture thread queues one.
void PushDropped(TPileTrameTCP& pile, std::uint64_t count) {
  TPileItem marker[] = {{nullptr, count}};
  std::size_t pushed = 0;
  pile.PushBatch(marker, pushed);
}

TEST(PileTrame, PopOnEmptyYieldsNothing) {
  TPileTrameTCP pile;
  EXPECT_FALSE(pile.Pop());
  EXPECT_EQ(pile.Count(), 0);
  pile.Push(nullptr);
  PushDropped(pile, 0);
  EXPECT_EQ(pile.Count(), 0);
}

TEST(PileTrame, OldestComesOutFirst) {
  TPileTrameTCP pile;
  for (int i = 0; i < 1000; ++i)
    pile.Push(Numbered(i));
  EXPECT_EQ(pile.Count(), 1000);
  for (int i = 0; i < 1000; ++i) {
    TPileItem item = pile.Pop();
    ASSERT_TRUE(item.Trame);
    EXPECT_EQ(item.Trame->Data, std::to_string(i));
  }
  EXPECT_FALSE(pile.Pop());
}

// Batches and drop markers keep the order in which they were pushed.
TEST(PileTrame, BatchesAndMarkersKeepOrder) {
  TPileTrameTCP pile;
  pile.Push(Numbered(0));
  std::vector<TPileItem> batch;
  batch.push_back({Numbered(1), 0});
  batch.push_back({nullptr, 5});
  batch.push_back({});  // empty entries are skipped
  batch.push_back({Numbered(2), 0});
  std::size_t pushed = 0;
  pile.PushBatch(batch, pushed);
  EXPECT_EQ(pushed, batch.size());
  PushDropped(pile, 9);
  EXPECT_EQ(pile.Count(), 5);
  std::vector<TPileItem> out;
  EXPECT_EQ(pile.PopBatch(out, 3), 3u);
  EXPECT_EQ(pile.PopBatch(out, 100), 2u);
  ASSERT_EQ(out.size(), 5u);
  EXPECT_EQ(out[0].Trame->Data, "0");
  EXPECT_EQ(out[1].Trame->Data, "1");
  EXPECT_EQ(out[2].Dropped, 5u);
  EXPECT_FALSE(out[2].Trame);
  EXPECT_EQ(out[3].Trame->Data, "2");
  EXPECT_EQ(out[4].Dropped, 9u);
  EXPECT_EQ(pile.Count(), 0);
}

// The records held are bounded by their memory: what does not fit is dropped and counted at
// its place, with any drops right before it, and room comes back as records are taken.
TEST(PileTrame, AFullQueueCountsWhatItDropsInPlace) {
  const std::size_t each = QueuedBytes(*Numbered(10));
  TPileTrameTCP pile(3 * each);
  for (int i = 10; i < 16; ++i)
    pile.Push(Numbered(i));
  PushDropped(pile, 4);  // the system's, right after those it had no room for
  pile.Push(Numbered(16));
  ASSERT_EQ(pile.Count(), 4);  // three records, one marker
  EXPECT_EQ(pile.Pop().Trame->Data, "10");
  pile.Push(Numbered(17));  // room for one again
  pile.Push(Numbered(18));
  std::vector<std::string> rest;
  while (TPileItem item = pile.Pop())
    rest.push_back(item.Trame ? item.Trame->Data
                              : std::string("*").append(std::to_string(item.Dropped) + "*"));
  EXPECT_EQ(rest, (std::vector<std::string>{"11", "12", "*8*", "17", "*1*"}));
}

// A notice counts against the bound while it is queued, but is queued whatever the bound: it
// is not a datagram that a drop marker could count.
TEST(PileTrame, ANoticeIsKeptAndCounted) {
  const std::string text = "IPv6 is not captured on this interface: it has no IPv6 address";
  const std::size_t each = QueuedBytes(*Numbered(10));
  TPileTrameTCP pile(2 * each + QueuedBytes(text));
  pile.Push(Numbered(10));
  pile.PushNotice(text);
  pile.PushNotice("");      // ignored
  pile.Push(Numbered(11));  // fills the bound
  pile.PushNotice(text);    // kept beyond it
  pile.Push(Numbered(12));
  pile.Push(Numbered(13));
  std::vector<TPileItem> out;
  ASSERT_EQ(pile.PopBatch(out, 100), 5u);
  EXPECT_EQ(out[1].Notice ? *out[1].Notice : "", text);
  EXPECT_EQ(out[3].Notice ? *out[3].Notice : "", text);
  EXPECT_EQ(out[4].Dropped, 2u);
  // Whatever was taken gave its room back, the notices' too: the bound fits exactly again.
  pile.Push(Numbered(20));
  pile.PushNotice(text);
  pile.Push(Numbered(21));
  out.clear();
  ASSERT_EQ(pile.PopBatch(out, 100), 3u);
  EXPECT_EQ(out[2].Trame ? out[2].Trame->Data : "", "21");
}

TEST(PileTrame, InterleavedPushAndPopKeepOrder) {
  TPileTrameTCP pile;
  int next_in = 0, next_out = 0;
  for (int round = 0; round < 200; ++round) {
    for (int i = 0; i < round % 7 + 1; ++i)
      pile.Push(Numbered(next_in++));
    for (int i = 0; i < round % 5; ++i) {
      TPileItem item = pile.Pop();
      if (!item) break;
      EXPECT_EQ(item.Trame->Data, std::to_string(next_out++));
    }
  }
  EXPECT_EQ(pile.Count(), next_in - next_out);
}

// The sanitizer run's leak checker fails this test if the queue keeps what it holds.
TEST(PileTrame, DestructionReleasesWhatIsQueued) {
  auto pile = std::make_unique<TPileTrameTCP>();
  for (int i = 0; i < 10; ++i)
    pile->Push(Numbered(i));
  EXPECT_EQ(pile->Pop().Trame->Data, "0");
  EXPECT_EQ(pile->Count(), 9);
  pile.reset();
}

TEST(PileTrame, ConcurrentProducersKeepEachOnesOrder) {
  TPileTrameTCP pile;
  constexpr int kProducers = 4;
  constexpr int kEach = 20000;
  std::atomic<bool> done{false};
  std::vector<int> next(kProducers, 0);
  int received = 0;
  std::thread consumer([&] {
    while (received < kProducers * kEach) {
      TPileItem item = pile.Pop();
      if (!item) {
        std::this_thread::yield();
        continue;
      }
      const TTrameTCP* trame = item.Trame.get();
      const int producer = trame->Dest.Port;
      EXPECT_EQ(trame->Source.Port, next[producer] % 65536);
      ++next[producer];
      ++received;
    }
    done = true;
  });
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&pile, p] {
      for (int i = 0; i < kEach; ++i) {
        auto trame = Numbered(i);
        trame->Dest.Port = static_cast<std::uint16_t>(p);
        pile.Push(std::move(trame));
      }
    });
  }
  for (auto& t : producers)
    t.join();
  consumer.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(pile.Count(), 0);
  for (int p = 0; p < kProducers; ++p)
    EXPECT_EQ(next[p], kEach);
}

TEST(DrapeauxTCP, ByteValues) {
  TDrapeauxTCP all;
  for (const TDrapeauTCP flag : kAllDrapeaux)
    all.Include(flag);
  EXPECT_EQ(all.Byte(), 63);
  EXPECT_EQ(TDrapeauxTCP().Byte(), 0);
  EXPECT_EQ(TDrapeauxTCP(0xFF).Byte(), 63);
  EXPECT_TRUE(TDrapeauxTCP(1).Contains(TDrapeauTCP::URG));
  EXPECT_TRUE(TDrapeauxTCP(32).Contains(TDrapeauTCP::FIN));
  EXPECT_FALSE(TDrapeauxTCP(31).Contains(TDrapeauTCP::FIN));
}

}  // namespace
