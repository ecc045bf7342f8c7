#pragma once

// The Generate dialog's progress page: the run's log above the list of the
// files it finished, and the hidden list of its strip files.

#include "desktop/generate/generation_runner.h"

#include <QWidget>

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

    QPlainTextEdit* mmoGenerate = nullptr;
    QListWidget* lbxFinishedFiles = nullptr;
    // Holds the strip files of the run; never shown.
    QListWidget* lbxRowFiles = nullptr;
};

} // namespace sw
