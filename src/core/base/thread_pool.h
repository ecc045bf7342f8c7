#pragma once

// A fixed set of worker threads and batches of tasks run on them. Tasks
// write their results into places of their own, so what a batch produces
// does not depend on which worker ran which task or in what order.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace sw {

class TTaskBatch;

class TThreadPool {
public:
    // threads <= 0 takes one per hardware thread. With one thread there are
    // no workers: tasks run on the caller's thread as they are added.
    explicit TThreadPool(int threads = 0);
    ~TThreadPool();
    TThreadPool(const TThreadPool&) = delete;
    TThreadPool& operator=(const TThreadPool&) = delete;

    int Threads() const { return m_threads; }
    // At least 1, also where the system cannot tell.
    static int HardwareThreads();

private:
    friend class TTaskBatch;
    struct TJob {
        TTaskBatch* Batch = nullptr;
        size_t Index = 0;
        std::function<void()> Work;
    };
    // Waits while the queue is full, so a producer far ahead of the workers
    // does not hold every task (and what it captured) at once.
    void Push(TJob job);
    void WorkerLoop();

    int m_threads;
    size_t m_capacity;
    std::mutex m_lock;
    std::condition_variable m_notEmpty;
    std::condition_variable m_notFull;
    std::deque<TJob> m_queue;
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
};

// Tasks added one by one, then waited for together. When tasks throw, Wait
// rethrows the exception of the earliest added of them; tasks added after a
// failed one and not yet started are skipped. Run must not be called from a
// task of the same pool.
class TTaskBatch {
public:
    explicit TTaskBatch(TThreadPool& pool)
        : m_pool(pool)
    { }
    // Waits for the tasks still running; their exceptions are dropped.
    ~TTaskBatch();
    TTaskBatch(const TTaskBatch&) = delete;
    TTaskBatch& operator=(const TTaskBatch&) = delete;

    void Run(std::function<void()> task);
    // Returns when every task added has finished or been skipped; the batch
    // can then take new tasks.
    void Wait();

private:
    friend class TThreadPool;
    void Execute(size_t index, const std::function<void()>& work);
    void WaitQuietly();

    TThreadPool& m_pool;
    std::mutex m_lock;
    std::condition_variable m_done;
    size_t m_added = 0;
    size_t m_finished = 0;
    size_t m_errorIndex = 0;
    std::exception_ptr m_error;
};

// Runs task(i) for i from 0 to count - 1 on the pool and waits for all.
void ParallelFor(TThreadPool& pool, size_t count, const std::function<void(size_t)>& task);

} // namespace sw
