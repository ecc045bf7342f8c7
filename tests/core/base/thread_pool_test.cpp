#include "core/base/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace sw {
namespace {

// More tasks than the queue holds, of uneven length: every result lands in
// its own place whatever the number of threads.
TEST(ThreadPool, ResultsDoNotDependOnThreads)
{
    constexpr size_t kTasks = 500;
    std::vector<uint64_t> expected(kTasks);
    for (const int threads : { 1, 2, 3, 8 }) {
        TThreadPool pool(threads);
        for (int round = 0; round < 3; ++round) {
            std::vector<uint64_t> results(kTasks, 0);
            ParallelFor(pool, kTasks, [&](size_t i) {
                uint64_t value = i;
                for (size_t k = 0; k < (i % 7) * 1000; ++k)
                    value = value * 6364136223846793005u + 1442695040888963407u;
                results[i] = value;
            });
            if (threads == 1 && round == 0)
                expected = results;
            EXPECT_EQ(results, expected) << threads << " threads, round " << round;
        }
    }
}

// The caller gets the exception of the earliest task that failed, every
// time; the batch then takes new tasks.
TEST(ThreadPool, EarliestFailureReachesTheCaller)
{
    for (const int threads : { 1, 2, 4 }) {
        TThreadPool pool(threads);
        TTaskBatch batch(pool);
        for (int round = 0; round < 20; ++round) {
            std::atomic<int> ran { 0 };
            for (int i = 0; i < 64; ++i)
                batch.Run([i, &ran] {
                    ++ran;
                    if (i == 9 || i == 10 || i == 40)
                        throw std::runtime_error("task " + std::to_string(i));
                });
            try {
                batch.Wait();
                ADD_FAILURE() << "no exception with " << threads << " threads";
            } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(), "task 9") << threads << " threads, round " << round;
            }
            EXPECT_GE(ran.load(), 10);
        }
        int after = 0;
        batch.Run([&after] { after = 1; });
        batch.Wait();
        EXPECT_EQ(after, 1);
    }
}

} // namespace
} // namespace sw
