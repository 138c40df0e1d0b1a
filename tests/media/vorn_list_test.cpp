#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "media/locks.h"
#include "media/vorn_list.h"

namespace {

// Walks the ring both ways and checks it against the count.
template <typename T>
void ExpectConsistent(const TVornList<T> &list) {
  const auto *s = list.Sentinel();
  uint32_t forward = 0;
  for (auto *n = s->next; n != s; n = n->next) {
    ASSERT_EQ(n->next->prev, n);
    ASSERT_EQ(n->prev->next, n);
    ASSERT_LE(++forward, list.Count());
  }
  uint32_t backward = 0;
  for (auto *n = s->prev; n != s; n = n->prev) ASSERT_LE(++backward, list.Count());
  EXPECT_EQ(forward, list.Count());
  EXPECT_EQ(backward, list.Count());
  if (list.Count() == 0) {
    EXPECT_EQ(s->next, s);
    EXPECT_EQ(s->prev, s);
  }
}

template <typename T>
std::vector<T> Values(const TVornList<T> &list) {
  std::vector<T> out;
  for (auto *n = list.First(); n != list.End(); n = n->next) out.push_back(n->value);
  return out;
}

}  // namespace

TEST(TVornList, appendAndRemoveFront_keepOrderAndLinks) {
  TVornList<int> list;
  ExpectConsistent(list);
  for (int i = 1; i <= 5; ++i) list.PushBack(i);
  ExpectConsistent(list);
  EXPECT_EQ(list.Front(), 1);
  EXPECT_EQ(list.Back(), 5);
  list.PopFront();
  list.PopFront();
  EXPECT_EQ(Values(list), (std::vector<int>{3, 4, 5}));
  ExpectConsistent(list);
  list.PopFront();
  list.PopFront();
  list.PopFront();
  list.PopFront();  // on an empty list: nothing happens
  EXPECT_EQ(list.Count(), 0u);
  ExpectConsistent(list);
}

TEST(TVornList, unlinkWhileWalking_removesChosenNodes) {
  TVornList<int> list;
  for (int i = 0; i < 10; ++i) list.PushBack(i);
  for (auto *n = list.First(); n != list.End();) n = n->value % 3 == 0 ? list.Unlink(n) : n->next;
  EXPECT_EQ(Values(list), (std::vector<int>{1, 2, 4, 5, 7, 8}));
  ExpectConsistent(list);
  EXPECT_EQ(list.RemoveIf([](int v) { return v > 4; }), 3u);
  EXPECT_EQ(Values(list), (std::vector<int>{1, 2, 4}));
  // Removing the last and the first node keeps the ring closed.
  EXPECT_EQ(list.RemoveIf([](int v) { return v != 2; }), 2u);
  EXPECT_EQ(Values(list), (std::vector<int>{2}));
  ExpectConsistent(list);
}

TEST(TVornList, clear_freesNodesButNotWhatTheyPointTo) {
  auto owned = std::make_unique<int>(7);
  {
    TVornList<int *> list;
    for (int i = 0; i < 100; ++i) list.PushBack(owned.get());
    list.Clear();
    ExpectConsistent(list);
    list.PushBack(owned.get());  // usable after clearing; destroyed with a node in it
  }
  EXPECT_EQ(*owned, 7);  // still ours (AddressSanitizer would catch a free)
}

TEST(Locks, criticalSectionIsReentrantAndAutoLockReleasesOnException) {
  CTeskCriticalSection cs;
  {
    CTeskAutoLock outer(&cs);
    CTeskAutoLock inner(cs);  // same thread again: no deadlock
  }
  try {
    CTeskAutoLock lock(&cs);
    throw std::runtime_error("leave the block");
  } catch (const std::runtime_error &) {
  }
  // If the exception had left the lock held, another thread could not take it.
  bool taken = false;
  std::thread other([&] {
    cs.Lock();
    taken = true;
    cs.Unlock();
  });
  other.join();
  EXPECT_TRUE(taken);
}

TEST(Locks, criticalSectionExcludesOtherThreads) {
  CTeskCriticalSection cs;
  TVornList<int> list;  // guarded by cs
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        CTeskAutoLock lock(&cs);
        list.PushBack(t);
        if (list.Count() > 50) list.PopFront();
      }
    });
  for (auto &t : threads) t.join();
  CTeskAutoLock lock(&cs);
  EXPECT_EQ(list.Count(), 50u);
  ExpectConsistent(list);
}
