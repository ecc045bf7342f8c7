#include "core/base/thread_pool.h"

#include <algorithm>
#include <utility>

namespace sw {

TThreadPool::TThreadPool(int threads)
    : m_threads(threads > 0 ? threads : HardwareThreads())
    , m_capacity(static_cast<size_t>(m_threads) * 4)
{
    if (m_threads == 1)
        return;
    m_workers.reserve(static_cast<size_t>(m_threads));
    try {
        for (int i = 0; i < m_threads; ++i)
            m_workers.emplace_back([this] { WorkerLoop(); });
    } catch (...) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_stopping = true;
        }
        m_notEmpty.notify_all();
        for (std::thread& worker : m_workers)
            worker.join();
        throw;
    }
}

TThreadPool::~TThreadPool()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopping = true;
    }
    m_notEmpty.notify_all();
    for (std::thread& worker : m_workers)
        worker.join();
}

int TThreadPool::HardwareThreads()
{
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

void TThreadPool::Push(TJob job)
{
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_notFull.wait(lock, [this] { return m_queue.size() < m_capacity; });
        m_queue.push_back(std::move(job));
    }
    m_notEmpty.notify_one();
}

void TThreadPool::WorkerLoop()
{
    for (;;) {
        TJob job;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_notEmpty.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        m_notFull.notify_one();
        job.Batch->Execute(job.Index, job.Work);
    }
}

TTaskBatch::~TTaskBatch()
{
    WaitQuietly();
}

void TTaskBatch::Run(std::function<void()> task)
{
    size_t index;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        index = m_added++;
    }
    if (m_pool.m_workers.empty()) {
        Execute(index, task);
        return;
    }
    try {
        m_pool.Push(TThreadPool::TJob { this, index, std::move(task) });
    } catch (...) {
        // Not queued: counted as finished so that waiting ends.
        Execute(index, [error = std::current_exception()] { std::rethrow_exception(error); });
    }
}

void TTaskBatch::Execute(size_t index, const std::function<void()>& work)
{
    std::exception_ptr error;
    bool skip;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        // Only tasks after a failed one: an earlier task may still fail, and
        // its exception is the one the caller gets.
        skip = m_error && index > m_errorIndex;
    }
    if (!skip) {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
    }
    // Notified under the lock: the waiter may destroy the batch as soon as
    // it sees the count complete.
    std::lock_guard<std::mutex> lock(m_lock);
    if (error && (!m_error || index < m_errorIndex)) {
        m_error = error;
        m_errorIndex = index;
    }
    ++m_finished;
    if (m_finished == m_added)
        m_done.notify_all();
}

void TTaskBatch::WaitQuietly()
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_done.wait(lock, [this] { return m_finished == m_added; });
}

void TTaskBatch::Wait()
{
    std::exception_ptr error;
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_done.wait(lock, [this] { return m_finished == m_added; });
        error = std::exchange(m_error, nullptr);
        m_added = m_finished = 0;
    }
    if (error)
        std::rethrow_exception(error);
}

void ParallelFor(TThreadPool& pool, size_t count, const std::function<void(size_t)>& task)
{
    TTaskBatch batch(pool);
    for (size_t i = 0; i < count; ++i)
        batch.Run([&task, i] { task(i); });
    batch.Wait();
}

} // namespace sw
