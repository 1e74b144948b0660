// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/playlist.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using Entries = std::vector<std::string>;

TEST(Playlist, SortedInsertionIgnoresCaseAndAppendKeepsTheEnd) {
  Playlist list;
  EXPECT_EQ(list.InsertSorted("b.qv"), 0);
  EXPECT_EQ(list.InsertSorted("A.qv"), 0);
  EXPECT_EQ(list.InsertSorted("c.qv"), 2);
  EXPECT_EQ(list.InsertSorted("B.qv"), 2);  // after its equal
  EXPECT_EQ(list.Append("0-first-by-name.qv"), 4);
  EXPECT_EQ(list.Entries(), (Entries{"A.qv", "b.qv", "B.qv", "c.qv", "0-first-by-name.qv"}));
  EXPECT_EQ(list.Count(), 5);
  EXPECT_EQ(list.At(4), "0-first-by-name.qv");
  EXPECT_EQ(list.At(5), "");
  EXPECT_EQ(list.At(-1), "");
}

TEST(Playlist, RefusesEmptyAndOverlongEntries) {
  Playlist list;
  EXPECT_EQ(list.Append(""), -1);
  EXPECT_EQ(list.InsertSorted(std::string(1024, 'x')), -1);
  EXPECT_EQ(list.Append(std::string(1023, 'x')), 0);
  EXPECT_EQ(list.Count(), 1);
}

TEST(Playlist, SelectionFollowsItsEntry) {
  Playlist list;
  for (const char* e : {"a", "c", "e"})
    list.Append(e);
  EXPECT_EQ(list.Selection(), -1);
  list.Select(1);
  list.InsertSorted("b");  // lands before the selected "c"
  EXPECT_EQ(list.Selection(), 2);
  EXPECT_EQ(list.At(list.Selection()), "c");
  list.Remove(0);
  EXPECT_EQ(list.At(list.Selection()), "c");
  list.Remove(list.Selection());
  EXPECT_EQ(list.Selection(), -1);
  list.Select(7);
  EXPECT_EQ(list.Selection(), -1);
  list.Select(0);
  list.Clear();
  EXPECT_EQ(list.Selection(), -1);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_FALSE(list.Remove(0));
}

TEST(Playlist, RevisionCountsChanges) {
  Playlist list;
  const uint64_t r0 = list.Revision();
  list.Append("x");
  list.Select(0);
  list.Select(0);  // no change
  EXPECT_EQ(list.Revision(), r0 + 2);
}

// Many entries at once land where one-by-one sorted insertion puts them, and
// the selection stays on its entry.
TEST(Playlist, InsertingManyAtOnceMatchesOneByOne) {
  std::vector<std::string> more;
  for (int i = 0; i < 500; ++i)
    more.push_back((i % 3 ? "B" : "a") + std::to_string((i * 7919) % 263) + ".mp3");
  more.push_back("");  // refused, as one by one
  Playlist once, oneByOne;
  for (Playlist* list : {&once, &oneByOne}) {
    for (const char* e : {"a100.mp3", "b2.mp3", "c.mp3"})
      list->InsertSorted(e);
    list->Select(1);
  }
  EXPECT_EQ(once.InsertSortedAll(more), 500);
  for (const std::string& e : more)
    oneByOne.InsertSorted(e);
  EXPECT_EQ(once.Entries(), oneByOne.Entries());
  EXPECT_EQ(once.At(once.Selection()), "b2.mp3");
  // Entries changed; a selection alone changes only the revision.
  const uint64_t entries = once.EntriesRevision();
  once.Select(3);
  EXPECT_EQ(once.EntriesRevision(), entries);
}

TEST(Playlist, ConcurrentEditorsAndReaders) {
  Playlist list;
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop) {
      const int n = list.Count();
      list.Select(n - 1);
      (void)list.At(list.Selection());
    }
  });
  for (int i = 0; i < 2000; ++i) {
    list.InsertSorted("entry" + std::to_string(i % 97));
    if (i % 3 == 0) list.Remove(0);
  }
  stop = true;
  reader.join();
  const Entries entries = list.Entries();
  EXPECT_EQ(static_cast<int>(entries.size()), 2000 - 667);
  EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end(), Playlist::LessNoCase));
}

}  // namespace
