#include <gtest/gtest.h>

#include "counters/model/CCounter.h"
#include "counters/model/CTList.h"

namespace tv2 {
namespace {

class TrackedCounter : public CCounter {
 public:
  TrackedCounter(int32_t index, int* alive) : CCounter(index), m_alive(alive) { ++*m_alive; }
  ~TrackedCounter() override { --*m_alive; }

 private:
  int* m_alive;
};

TEST(CounterList, AppendKeepsOrderAndCount) {
  int alive = 0;
  CTList<CCounter> list;
  for (int i = 0; i < 3; ++i) list.Append(new TrackedCounter(i, &alive));
  EXPECT_EQ(list.count, 3);
  int expected = 0;
  for (CCounter* counter : list) EXPECT_EQ(counter->index(), expected++);
  EXPECT_EQ(list.At(2)->index(), 2);
  EXPECT_EQ(list.At(3), nullptr);
  list.DeleteAll();
}

TEST(CounterList, DeleteAllDeletesTheCountersTheDestructorDoesNot) {
  int alive = 0;
  auto* kept = new TrackedCounter(0, &alive);
  {
    CTList<CCounter> list;
    list.Append(kept);
    list.Append(kept);  // listed twice, still one object
  }
  EXPECT_EQ(alive, 1);  // the list went, the counter stayed

  CTList<CCounter> owner;
  owner.Append(kept);
  owner.Append(new TrackedCounter(1, &alive));
  EXPECT_EQ(alive, 2);
  owner.DeleteAll();
  EXPECT_EQ(alive, 0);
  EXPECT_EQ(owner.count, 0);
  EXPECT_EQ(owner.head, nullptr);
}

TEST(CounterList, RemoveAllLeavesTheObjects) {
  int alive = 0;
  CTList<CCounter> owner;
  owner.Append(new TrackedCounter(0, &alive));
  CTList<CCounter> view;
  view.Append(owner.At(0));
  view.RemoveAll();
  EXPECT_EQ(view.count, 0);
  EXPECT_EQ(alive, 1);
  owner.DeleteAll();
}

}  // namespace
}  // namespace tv2
