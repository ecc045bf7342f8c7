#pragma once

// The Generate dialog: the settings form beside the size estimate on its
// options page, the run's log on its progress page, and a row of buttons
// with the run's progress bar below. The page tabs are hidden; the dialog
// turns to the progress page itself when the run starts. The run goes on a
// worker, so the window stays live; it closes and frees itself when the run
// is done.

#include "core/generate/slicing_pipeline.h"
#include "core/project/project_file.h"

#include <QDialog>

#include <optional>
#include <string>

class QProgressBar;
class QPushButton;
class QTabWidget;
class QWidget;

namespace sw {

class TEstimatePanel;
class TGenerateSettingsForm;
class TGenerationRunner;
class TRunLog;
struct TRunReport;

class TGenerateDlg : public QDialog {
    Q_OBJECT
public:
    // The run cuts input, whose picture must outlive the dialog; the output
    // folder falls back on the folder of projectFileName. output is the
    // project's [Output] section, which the settings start from; cells its
    // [Cells] properties, which the run follows.
    TGenerateDlg(TGenerationInput input, std::string projectFileName, QWidget* parent = nullptr,
        std::optional<TOutputValues> output = {}, TCellPropertyMap cells = {});
    ~TGenerateDlg() override;

    // Handlers.
    void btnCloseClick();
    // Starts the run on a worker and turns to the progress page; refused
    // with a message when there is no picture or a page is wanted without
    // a name. A failure is shown in the error box and at the end of the
    // log, with Back offered; success ends with the final message and
    // closes the dialog.
    void btnGenerateClick();
    // After a failed or stopped run: back to the options page to change
    // them and run again.
    void btnBackClick();
    // Stops the run under way; it removes the files it made.
    void btnStopClick();

    bool IsRunning() const;
    bool IsEstimating() const;

    TGenerateSettingsForm* Form = nullptr;
    TEstimatePanel* Estimate = nullptr;
    TRunLog* Log = nullptr;
    QWidget* Panel1 = nullptr;
    QPushButton* btnClose = nullptr;
    QPushButton* btnBack = nullptr;
    QPushButton* btnStop = nullptr;
    QProgressBar* pbRun = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* tbshtOptions = nullptr;
    QWidget* tbshtGenerate = nullptr;

public slots:
    void done(int result) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void SetTabOrder();
    void Reported(const TRunReport& report);
    void RunFinished(const TGenerationCounts& counts);
    void RunFailed(const QString& message, bool stopped);
    void RunEnded();
    void OfferOptionsAgain();
    void ShowCounts(const TGenerationCounts& counts);

    const TGenerationInput m_input;
    TGenerationRunner* m_runner = nullptr;
    // The run under way's page, if it writes one.
    std::optional<std::string> m_runPage;
};

// The end-of-run message; when pieces were skipped it says how many images
// were written and how many skipped.
QString DoneMessage(int written, int skipped);

// The dialog while it exists, else empty; the dialog clears it when it goes.
extern TGenerateDlg* GenerateDlg;

} // namespace sw
