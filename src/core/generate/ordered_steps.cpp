#include "core/generate/ordered_steps.h"

namespace sw {

void TOrderedSteps::InOrder(std::function<void()> step)
{
    if (!m_pending.empty()) {
        m_pending.push_back({ nullptr, nullptr, std::move(step) });
        return;
    }
    try {
        step();
    } catch (...) {
        m_commitFailed = true;
        throw;
    }
}

void TOrderedSteps::Start(TThreadPool& pool, std::function<void()> work, std::function<void()> commit)
{
    TStep step { std::make_unique<TTaskBatch>(pool), std::make_shared<std::atomic<bool>>(false),
        std::move(commit) };
    step.Batch->Run([work = std::move(work), done = step.Done] {
        work();
        *done = true;
    });
    m_pending.push_back(std::move(step));
    // Finished work is committed as soon as its turn comes, so that files
    // and progress keep pace with it.
    while (!m_pending.empty()
        && (m_pending.size() > m_maxInFlight || !m_pending.front().Batch || *m_pending.front().Done))
        CommitFront();
}

void TOrderedSteps::CommitFront()
{
    TStep step = std::move(m_pending.front());
    m_pending.pop_front();
    if (step.Batch)
        step.Batch->Wait();
    try {
        step.Commit();
    } catch (...) {
        m_commitFailed = true;
        throw;
    }
}

void TOrderedSteps::CommitAll()
{
    while (!m_pending.empty())
        CommitFront();
}

void TOrderedSteps::Clear() noexcept
{
    m_pending.clear(); // each batch waits for its work
}

} // namespace sw
