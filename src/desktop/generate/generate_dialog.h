#pragma once

// The Generate dialog: an options page that collects the output settings and
// a progress page that shows the run's log and the files it finished. The
// page tabs are hidden; the dialog turns to the progress page itself when
// the run starts, and closes and frees itself when the run is done.

#include "core/generate/size_estimate.h"
#include "core/generate/slicing_pipeline.h"
#include "core/project/project_file.h"
#include "desktop/generate/output_choice.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTableWidget;
class QToolButton;

namespace sw {

class TSizeEstimator;

class TGenerateDlg : public QDialog {
    Q_OBJECT
public:
    // The run cuts input, whose picture must outlive the dialog; the output
    // folder falls back on the folder of projectFileName. output is the
    // project's [Output] section, which the format and page controls start
    // from; cells its [Cells] properties, which the run follows.
    TGenerateDlg(TGenerationInput input, std::string projectFileName, QWidget* parent = nullptr,
        std::optional<TOutputValues> output = {}, TCellPropertyMap cells = {});
    ~TGenerateDlg() override;

    // Handlers.
    void btnCloseClick();
    void cbxWriteHTMLClick();
    void sbtnHTMLFileClick();
    void edtFilenameChange();
    void sbtnSelFoldClick();
    // Starts the run; refused with a message when there is no picture or a
    // page is wanted without a name. A failure leaves as an exception, with
    // the dialog on its progress page, the message at the end of the log and
    // Back offered; success ends with the final message and closes it.
    void btnGenerateClick();
    // After a failed run: back to the options page to change them and run again.
    void btnBackClick();
    // Enables the options that the chosen format uses.
    void rgOutputImagesClick();
    // Starts the size estimate in the background, or stops the one running.
    void btnEstimateClick();

    // The settings as the controls hold them, with the project's cells and
    // the [Output] keys the dialog has no control for (a bad one fails as
    // in a command-line run).
    TGenerationSettings Settings() const;
    TCellFormat CellFormat() const;
    // The project's [Output] section as the user leaves it: what the dialog
    // was given when the format controls still say the same.
    std::optional<TOutputValues> OutputValues() const;
    bool IsEstimating() const;
    bool IsRunning() const { return m_running; }

    // Shows a modal dialog (the page-file dialog or the folder chooser) and
    // tells whether the user confirmed it. Tests answer in place of the user.
    std::function<bool(QDialog&)> RunModal;

    QWidget* Panel1 = nullptr;
    QPushButton* btnClose = nullptr;
    QPushButton* btnBack = nullptr;
    QProgressBar* pbRun = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* tbshtOptions = nullptr;
    QCheckBox* cbxWriteHTML = nullptr;
    QLineEdit* edtFilename = nullptr;
    QToolButton* sbtnHTMLFile = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* edtBCSDescription = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* edtOutputPath = nullptr;
    QToolButton* sbtnSelFold = nullptr;
    QGroupBox* rgOutputImages = nullptr;
    QButtonGroup* rgOutputImagesItems = nullptr;
    QCheckBox* cbxDeleteTemp = nullptr;
    QGroupBox* gbFormatOptions = nullptr;
    QSpinBox* speColors = nullptr;
    QComboBox* cbDither = nullptr;
    QSlider* tbQuality = nullptr;
    QSpinBox* speQuality = nullptr;
    QCheckBox* cbxProgressive = nullptr;
    QCheckBox* cbxFullChroma = nullptr;
    QDoubleSpinBox* speMinPsnr = nullptr;
    QCheckBox* cbxKeepAlpha = nullptr;
    QGroupBox* gbPageOptions = nullptr;
    QComboBox* cbPageStyle = nullptr;
    QLineEdit* edtBaseUrl = nullptr;
    QCheckBox* cbxRetina = nullptr;
    QCheckBox* cbxAlsoHalfSize = nullptr;
    QCheckBox* cbxAutoFill = nullptr;
    // 0 shows as "Automatic"; an application preference, not the project's.
    QSpinBox* speThreads = nullptr;
    QPushButton* btnEstimate = nullptr;
    QProgressBar* pbEstimate = nullptr;
    QTableWidget* tblEstimate = nullptr;
    QLabel* lblEstimate = nullptr;
    QPushButton* btnGenerate = nullptr;
    QWidget* tbshtGenerate = nullptr;
    QPlainTextEdit* mmoGenerate = nullptr;
    QListWidget* lbxFinishedFiles = nullptr;
    QListWidget* lbxRowFiles = nullptr;
    QFileDialog* HTMLSaveDialog = nullptr;

public slots:
    void done(int result) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class Sink;

    void CreateOptionsPage();
    void CreateFormatOptions();
    void CreatePageOptions();
    // The run settings of the page options as the controls hold them.
    TGenerationSettings RunChoice() const;
    void ShowRunSettings(const TGenerationSettings& settings);
    // Enables the page options that the other choices leave open.
    void PageOptionsClick();
    bool BaseUrlApplies() const;
    // The page and folder the project keeps, over the defaults.
    void ShowRunPlaces(const TRunPlaces& stored);
    TRunPlaces RunPlaces() const;
    void CreateEstimate();
    void ShowCellFormat(const TCellFormat& format);
    void SettingsChanged();
    void EstimateFinished(const std::vector<TFormatSize>& sizes);
    void EstimateFailed(const QString& message);
    void StopEstimate();
    void MarkChosenEstimate();
    QString EstimateNote() const;
    void CreateGeneratePage();
    void CreateHTMLSaveDialog();
    void SetTabOrder();
    void SetEditColor(QLineEdit* edit, bool windowColor);
    bool ShowModal(QDialog& dialog);
    void OfferOptionsAgain();
    void ShowCounts(const TGenerationCounts& counts);
    const TGenerationInput m_input;
    const std::string m_projectFileName;
    const std::optional<TOutputValues> m_storedOutput;
    const TCellPropertyMap m_cells;
    TSizeEstimator* m_estimator = nullptr;
    // The settings the table shows, once an estimate has finished.
    std::optional<TCellFormat> m_estimated;
    QString m_autoMix;
    // As given, and as the box shows it.
    std::pair<double, double> m_shownMinPsnr { 0, 0 };
    bool m_running = false;
    // Where the run writes, as first shown and with no project's places.
    TRunPlaces m_shownPlaces;
    TRunPlaces m_defaultPlaces;
};

// The end-of-run message; when pieces were skipped it says how many images
// were written and how many skipped.
QString DoneMessage(int written, int skipped);
// The first of the desktop folder and the project's folder that exists, else
// the home folder.
QString DefaultOutputFolder(const QString& desktop, const std::string& projectFileName, const QString& home);

// The folder part of a page file name without its trailing separator: the
// output path that choosing that page file suggests ("/web/index.html" gives
// "/web", "/index.html" gives the empty text).
std::string OutputPathOfPage(const std::string& pageFileName);
// Whether a page file name asks for the snippet header (its upper-cased
// extension contains "BCS").
bool IsSnippetPage(const std::string& pageFileName);

// The dialog while it exists, else empty; the dialog clears it when it goes.
extern TGenerateDlg* GenerateDlg;

} // namespace sw
