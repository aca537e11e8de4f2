#include "SerialQueue.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kestrova {
namespace {

TEST(SerialQueue, RunsTasksFromManyThreadsOneAtATimeInPostingOrder) {
  std::vector<int> seen;  // confined to the queue, so no lock
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  {
    SerialQueue q("kestrova.test");
    std::vector<std::thread> posters;
    for (int p = 0; p < 4; ++p) {
      posters.emplace_back([&, p] {
        for (int i = 0; i < 500; ++i) {
          q.post([&, p, i] {
            if (running.fetch_add(1) != 0) overlapped = true;
            seen.push_back(p * 1000 + i);
            running.fetch_sub(1);
          });
        }
      });
    }
    for (auto& t : posters) t.join();
  }  // destruction runs everything posted
  EXPECT_FALSE(overlapped);
  ASSERT_EQ(seen.size(), 2000u);
  std::vector<int> last(4, -1);
  for (int v : seen) {
    EXPECT_GT(v % 1000, last[v / 1000]) << "tasks of one poster keep their order";
    last[v / 1000] = v % 1000;
  }
}

TEST(SerialQueue, SyncWaitsRunsOnTheWorkerAndPassesExceptionsBack) {
  SerialQueue q("kestrova.samples");
  bool onQueue = false;
  char name[16] = {};
  q.sync([&] {
    onQueue = q.isCurrent();
    pthread_getname_np(pthread_self(), name, sizeof name);
  });
  EXPECT_TRUE(onQueue);
  EXPECT_FALSE(q.isCurrent());
  EXPECT_STREQ(name, "kestrova.sample");  // the kernel keeps 15 characters
  EXPECT_THROW(q.sync([] { throw std::runtime_error("no"); }), std::runtime_error);
  int after = 0;
  q.sync([&] { after = 1; });
  EXPECT_EQ(after, 1);
}

}  // namespace
}  // namespace kestrova
