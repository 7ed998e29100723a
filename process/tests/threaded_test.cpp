// The library is shared by the capture thread and whoever reads the star record; these
// run the functions from several threads at once (CI repeats them under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "process.h"
#include "synthetic.h"

namespace telvane::process::test {
namespace {

TEST(Threads, StarRecordReadWhileSearching) {
  Sky a = noisySky(200, 150, 1000, 10), b = noisySky(200, 150, 1000, 10, 3);
  addStar(a, 50.3, 60.4, 10000, 4);
  addStar(b, 150.6, 90.2, 10000, 4);
  std::atomic<bool> done{false};
  std::thread searcher([&] {
    for (int i = 0; i < 200; ++i) {
      const Sky& s = i % 2 ? b : a;
      EXPECT_EQ(FindStar(s.pixels.data(), s.width, s.height, 0, 0, 199, 149), 1);
    }
    done = true;
  });
  while (!done) {
    const float x = GetStarX();
    EXPECT_TRUE(x == 0.0F || std::abs(x - 50.3F) < 0.1F || std::abs(x - 150.6F) < 0.1F) << x;
    GetBright();
  }
  searcher.join();
}

TEST(Threads, ConcurrentCallsGiveTheSameResultsAsSerialOnes) {
  Sky sky = noisySky(300, 200, 2000, 30);
  for (int i = 0; i < 20; ++i) addStar(sky, 12.5 + 13 * i, 20 + 8 * i, 5000 + 1000 * i, 3);
  Sky stretched = sky, leveled = sky;
  HistogramStretch(stretched.pixels.data(), sky.width, sky.height);
  HistogramPreview(leveled.pixels.data(), sky.width, sky.height, 2, 20);

  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t)
    workers.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) {
        Sky s = sky;
        if (t % 2) {
          HistogramStretch(s.pixels.data(), s.width, s.height);
          EXPECT_EQ(s.pixels, stretched.pixels);
        } else {
          // Alternating levels force the shared table to be rebuilt between callers.
          HistogramPreview(s.pixels.data(), s.width, s.height, 2, 20 + (i % 2));
          if (i % 2 == 0) {
            EXPECT_EQ(s.pixels, leveled.pixels);
          }
        }
        Sky d = sky;
        denoise(d.pixels.data(), d.width, d.height);
      }
    });
  for (auto& w : workers) w.join();
}

}  // namespace
}  // namespace telvane::process::test
