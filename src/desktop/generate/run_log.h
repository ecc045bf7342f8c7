#pragma once

// The Generate dialog's progress page: the run's log above the list of the
// files it finished, and the hidden list of its strip files.

#include "desktop/generate/generation_runner.h"

#include <QWidget>

class QLabel;
class QListWidget;
class QPlainTextEdit;

namespace sw {

class TRunLog : public QWidget {
    Q_OBJECT
public:
    explicit TRunLog(QWidget* parent = nullptr);

    // A new run: the log and the strip list start afresh; the finished
    // files do not.
    void Begin();
    void Show(const TRunReport& report);
    void AppendLine(const QString& line);

    // Above the log while the run has warned of anything: how many times.
    QLabel* lblWarnings = nullptr;
    QPlainTextEdit* mmoGenerate = nullptr;
    QListWidget* lbxFinishedFiles = nullptr;
    // Holds the strip files of the run; never shown.
    QListWidget* lbxRowFiles = nullptr;

private:
    void CountWarnings(const QStringList& lines);

    int m_warnings = 0;
};

} // namespace sw
