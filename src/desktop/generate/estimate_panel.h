#pragma once

// The size estimate beside the settings: encodes the cells in every format
// on a worker and shows the bytes each would take, the chosen format marked.

#include "core/generate/size_estimate.h"
#include "core/generate/slicing_pipeline.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace sw {

class TSizeEstimator;

class TEstimatePanel : public QWidget {
    Q_OBJECT
public:
    // input's picture must outlive the panel; format gives the settings
    // the estimate is made with and the format to mark.
    TEstimatePanel(const TGenerationInput& input, std::function<TGenerationSettings()> settings,
        QWidget* parent = nullptr);

    // Starts the size estimate in the background, or stops the one running.
    void btnEstimateClick();
    // Stops an estimate under way, saying so.
    void Stop();
    bool IsEstimating() const;
    // The settings changed: the table says when it was made with others.
    void FormatChanged();

    QPushButton* btnEstimate = nullptr;
    QProgressBar* pbEstimate = nullptr;
    QTableWidget* tblEstimate = nullptr;
    QLabel* lblEstimate = nullptr;

private:
    void Finished(const std::vector<TFormatSize>& sizes);
    void Failed(const QString& message);
    void Halt();
    void MarkChosen();
    QString Note() const;

    const TGenerationInput& m_input;
    // The run's own settings, so that the estimate plans the cells as the run does.
    const std::function<TGenerationSettings()> m_settings;
    TSizeEstimator* m_estimator = nullptr;
    // The settings the table shows, once an estimate has finished.
    std::optional<TCellFormat> m_estimated;
    QString m_autoMix;
};

} // namespace sw
