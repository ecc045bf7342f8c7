#pragma once

// Work that runs side by side on a pool while everything it shows (log
// lines, files put in their place, progress) happens on the caller's thread
// in the order the work was added, as it would in one thread.

#include "core/base/thread_pool.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>

namespace sw {

class TOrderedSteps {
public:
    // At most maxInFlight pieces of work are held; adding one more first
    // waits for the oldest and commits it.
    explicit TOrderedSteps(size_t maxInFlight = 1)
        : m_maxInFlight(maxInFlight)
    { }
    // Drops what is still waiting (see Clear).
    ~TOrderedSteps() { Clear(); }
    TOrderedSteps(const TOrderedSteps&) = delete;
    TOrderedSteps& operator=(const TOrderedSteps&) = delete;

    void SetMaxInFlight(size_t maxInFlight) { m_maxInFlight = maxInFlight; }
    // Runs step now when nothing waits before it, else in its turn.
    void InOrder(std::function<void()> step);
    // Runs work on pool and commit in its turn once work is done; steps
    // whose work is done are committed as soon as their turn comes.
    void Start(TThreadPool& pool, std::function<void()> work, std::function<void()> commit);
    // Commits every step in turn, waiting for the work of each.
    void CommitAll();
    // Whether a step's commit threw: the steps after it never run.
    bool CommitFailed() const { return m_commitFailed; }
    // Drops every waiting step, after the work already started ends; never
    // throws.
    void Clear() noexcept;

private:
    struct TStep {
        std::unique_ptr<TTaskBatch> Batch; // empty for a step without work
        std::shared_ptr<std::atomic<bool>> Done;
        std::function<void()> Commit;
    };
    void CommitFront();

    size_t m_maxInFlight;
    std::deque<TStep> m_pending;
    bool m_commitFailed = false;
};

} // namespace sw
