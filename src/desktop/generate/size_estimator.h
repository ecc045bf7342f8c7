#pragma once

// Runs a size estimate on a worker thread and reports back on the thread
// that owns it, through queued calls; going away stops the worker.

#include "core/generate/size_estimate.h"
#include "core/generate/slicing_pipeline.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace sw {

class TSizeEstimator : public QObject {
    Q_OBJECT
public:
    explicit TSizeEstimator(QObject* parent = nullptr);
    ~TSizeEstimator() override;

    // Stops any estimate under way and starts one on a copy of the input's
    // picture and alpha, so the caller's may change meanwhile.
    void Start(const TGenerationInput& input, const TGenerationSettings& settings);
    // Waits for the worker to stop; nothing more is reported.
    void Cancel();
    bool IsRunning() const { return m_running; }

signals:
    void Progress(qint64 done, qint64 total);
    void Finished(const std::vector<sw::TFormatSize>& sizes);
    void Failed(const QString& message);

private:
    struct TJob;
    std::thread m_worker;
    std::shared_ptr<TJob> m_job;
    // Reports of a stopped estimate may still be queued; they carry its number.
    int m_generation = 0;
    bool m_running = false;
};

} // namespace sw
