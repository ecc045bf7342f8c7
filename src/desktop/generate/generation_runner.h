#pragma once

// Runs a generation on a worker thread and reports back on the thread that
// owns it, through queued calls, as the size estimate does: the event loop
// keeps running and nothing in the run yields to it. The worker holds the
// run's own copy of the input and nothing of the window's.

#include "core/generate/slicing_pipeline.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <thread>

namespace sw {

// What the run said since its last report: gathered on the worker and
// handed over at most every few dozen milliseconds, so that a run of
// thousands of cells does not flood the event queue.
struct TRunReport {
    QStringList LogLines;
    QStringList RowFiles;
    QStringList FinishedFiles;
    TGenerationCounts Counts;
};

class TGenerationRunner : public QObject {
    Q_OBJECT
public:
    explicit TGenerationRunner(QObject* parent = nullptr);
    // Stops a run under way and waits for its worker.
    ~TGenerationRunner() override;

    // Starts a run of settings on a copy of the input's picture and alpha;
    // one run at a time.
    void Start(const TGenerationInput& input, const TGenerationSettings& settings);
    // Asks the run to stop at its next piece; it then ends as a failed run
    // does, removing the files it made, and reports Failed with stopped set.
    void Stop();
    bool IsRunning() const { return m_running; }

signals:
    void Reported(const sw::TRunReport& report);
    // The exclamation beep that ends a run.
    void Beeped();
    // After the last report.
    void Finished(const sw::TGenerationCounts& counts);
    void Failed(const QString& message, bool stopped);

private:
    struct TJob;
    class TWorkerSink;
    std::thread m_worker;
    std::shared_ptr<TJob> m_job;
    bool m_running = false;
};

} // namespace sw
