#include "desktop/generate/generation_runner.h"

#include "core/base/errors.h"
#include "desktop/generate/input_copy.h"
#include "desktop/shell/file_names.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <utility>

namespace sw {

namespace {

constexpr auto kReportInterval = std::chrono::milliseconds(50);

} // namespace

struct TGenerationRunner::TJob {
    TJob(const TGenerationInput& input, TGenerationSettings settings)
        : Copy(input)
        , Settings(std::move(settings))
    { }
    TInputCopy Copy;
    TGenerationSettings Settings;
    std::atomic<bool> Stopping { false };
};

// The run's sink on the worker. A stop is noticed where the run reports
// progress, and ends the run by an exception, which makes it clean up as
// any failed run does.
class TGenerationRunner::TWorkerSink final : public IGenerationSink {
public:
    TWorkerSink(const TJob& job, std::function<void(std::function<void(TGenerationRunner&)>)> post)
        : m_job(job)
        , m_post(std::move(post))
    { }

    void LogLine(const std::string& line) override
    {
        m_report.LogLines << FileNameFromCore(line);
        PostWhenDue();
    }
    void RowFileAdded(const std::string& fileName) override
    {
        StopIfAsked();
        m_report.RowFiles << FileNameFromCore(fileName);
        PostWhenDue();
    }
    void FileFinished(const std::string& fileName) override
    {
        m_report.FinishedFiles << FileNameFromCore(fileName);
        PostWhenDue();
    }
    void ProcessMessages() override
    {
        StopIfAsked();
        PostWhenDue();
    }
    void Beep() override
    {
        Post();
        m_post([](TGenerationRunner& runner) { emit runner.Beeped(); });
    }
    void Progress(const TGenerationCounts& counts) override
    {
        StopIfAsked();
        m_report.Counts = counts;
        PostWhenDue();
    }

    // Hands over what was gathered.
    void Post()
    {
        m_post([report = std::exchange(m_report, TRunReport { {}, {}, {}, m_report.Counts })](
                   TGenerationRunner& runner) { emit runner.Reported(report); });
        m_lastPost = std::chrono::steady_clock::now();
    }
    const TGenerationCounts& Counts() const { return m_report.Counts; }

private:
    void StopIfAsked() const
    {
        if (m_job.Stopping)
            throw EAbort("Stopped by the user");
    }
    void PostWhenDue()
    {
        if (std::chrono::steady_clock::now() - m_lastPost >= kReportInterval)
            Post();
    }

    const TJob& m_job;
    std::function<void(std::function<void(TGenerationRunner&)>)> m_post;
    TRunReport m_report;
    std::chrono::steady_clock::time_point m_lastPost = std::chrono::steady_clock::now();
};

TGenerationRunner::TGenerationRunner(QObject* parent)
    : QObject(parent)
{ }

TGenerationRunner::~TGenerationRunner()
{
    if (m_job)
        m_job->Stopping = true;
    if (m_worker.joinable())
        m_worker.join();
}

void TGenerationRunner::Stop()
{
    if (m_job)
        m_job->Stopping = true;
}

void TGenerationRunner::Start(const TGenerationInput& input, const TGenerationSettings& settings)
{
    if (m_running)
        return;
    if (m_worker.joinable())
        m_worker.join();
    auto job = std::make_shared<TJob>(input, settings);
    m_job = job;
    m_running = true;
    // Reports go through this object's event queue, in the order made, and
    // are dropped with it.
    const auto post = [this](std::function<void(TGenerationRunner&)> call) {
        QMetaObject::invokeMethod(
            this, [this, call = std::move(call)] { call(*this); }, Qt::QueuedConnection);
    };
    m_worker = std::thread([job, post] {
        TWorkerSink sink(*job, post);
        try {
            RunGeneration(job->Copy.Input(), job->Settings, sink);
            sink.Post();
            post([counts = sink.Counts()](TGenerationRunner& runner) {
                runner.m_running = false;
                emit runner.Finished(counts);
            });
        } catch (const std::exception& error) {
            // The worker's edge: what stopped the run is told on the dialog.
            const bool stopped = job->Stopping && dynamic_cast<const EAbort*>(&error) != nullptr;
            sink.Post();
            post(
                [message = FileNameFromCore(WithFullStop(error.what())), stopped](TGenerationRunner& runner) {
                    runner.m_running = false;
                    emit runner.Failed(message, stopped);
                });
        }
    });
}

} // namespace sw
