#include "desktop/generate/size_estimator.h"

#include "desktop/generate/input_copy.h"
#include "desktop/shell/file_names.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <utility>

namespace sw {

struct TSizeEstimator::TJob {
    explicit TJob(const TGenerationInput& input)
        : Copy(input)
        , Input(Copy.EstimateInput())
    { }
    TInputCopy Copy;
    TSizeEstimateInput Input;
    TGenerationSettings Settings;
    std::atomic<bool> Cancelled { false };
};

TSizeEstimator::TSizeEstimator(QObject* parent)
    : QObject(parent)
{ }

TSizeEstimator::~TSizeEstimator()
{
    Cancel();
}

void TSizeEstimator::Cancel()
{
    if (m_job)
        m_job->Cancelled = true;
    if (m_worker.joinable())
        m_worker.join();
    m_job.reset();
    m_running = false;
    ++m_generation;
}

void TSizeEstimator::Start(const TGenerationInput& input, const TGenerationSettings& settings)
{
    Cancel();
    auto job = std::make_shared<TJob>(input);
    job->Settings = settings;

    const int generation = m_generation;
    m_job = job;
    m_running = true;
    // Reports go through this object's event queue, so they reach it on its
    // own thread, and are dropped with it; those of a stopped estimate are
    // dropped on arrival.
    const auto report = [this, generation](std::function<void()> call) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, call = std::move(call)] {
                if (generation == m_generation)
                    call();
            },
            Qt::QueuedConnection);
    };
    m_worker = std::thread([this, job, report] {
        int lastPercent = -1;
        const auto keepGoing = [&](int64_t done, int64_t total) {
            // A report per whole percent keeps the queue short on big runs.
            const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
            if (percent != lastPercent) {
                lastPercent = percent;
                report([this, done, total] { emit Progress(done, total); });
            }
            return !job->Cancelled.load();
        };
        try {
            std::optional<std::vector<TFormatSize>> sizes
                = EstimateSizes(job->Input, job->Settings, EstimatedTypes(), keepGoing);
            if (sizes)
                report([this, sizes = std::move(*sizes)] {
                    m_running = false;
                    emit Finished(sizes);
                });
        } catch (const std::exception& error) {
            // The worker's edge: what stopped it is told on the dialog.
            report([this, message = FileNameFromCore(error.what())] {
                m_running = false;
                emit Failed(message);
            });
        }
    });
}

} // namespace sw
