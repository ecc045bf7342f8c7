#pragma once

// The Generate dialog's settings: the page file and its description, the
// output folder, the cell format with its options, and the page options.
// It reads a project's [Output] values into its controls and gives back
// the run's settings and the values the project should keep.

#include "core/generate/slicing_pipeline.h"
#include "core/project/project_file.h"
#include "desktop/generate/output_choice.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <utility>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDialog;
class QDoubleSpinBox;
class QFileDialog;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class QToolButton;

namespace sw {

class TGenerateSettingsForm : public QWidget {
    Q_OBJECT
public:
    // output is the project's [Output] section, which the controls start
    // from; cells its [Cells] properties, which the run follows. The output
    // folder falls back on the folder of projectFileName.
    TGenerateSettingsForm(std::string projectFileName, std::optional<TOutputValues> output,
        TCellPropertyMap cells, QWidget* parent = nullptr);

    // Handlers.
    void cbxWriteHTMLClick();
    void sbtnHTMLFileClick();
    void edtFilenameChange();
    void sbtnSelFoldClick();
    // Enables the options that the chosen format uses.
    void rgOutputImagesClick();

    // The settings as the controls hold them, with the project's cells and
    // the [Output] keys the dialog has no control for (a bad one fails as
    // in a command-line run). A greyed field does not apply.
    TGenerationSettings Settings() const;
    TCellFormat CellFormat() const;
    // The project's [Output] section as the user leaves it: what the form
    // was given when the controls still say the same.
    std::optional<TOutputValues> OutputValues() const;

    // Puts a panel below the format options.
    void SetSidePanel(QWidget* panel);

    // Shows a modal dialog (the page-file dialog or the folder chooser) and
    // tells whether the user confirmed it. Tests answer in place of the user.
    std::function<bool(QDialog&)> RunModal;

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
    QPushButton* btnGenerate = nullptr;
    QGroupBox* gbFormatOptions = nullptr;
    QSpinBox* speColors = nullptr;
    QComboBox* cbDither = nullptr;
    QSlider* tbQuality = nullptr;
    QSpinBox* speQuality = nullptr;
    QCheckBox* cbxProgressive = nullptr;
    QCheckBox* cbxFullChroma = nullptr;
    QDoubleSpinBox* speMinPsnr = nullptr;
    QCheckBox* cbxKeepAlpha = nullptr;
    QDoubleSpinBox* speMinScore = nullptr; // 0 shows as "Off"
    QSpinBox* speAvifSpeed = nullptr;
    QCheckBox* cbxAutoAvif = nullptr;
    QGroupBox* gbPageOptions = nullptr;
    QComboBox* cbPageStyle = nullptr;
    QLineEdit* edtBaseUrl = nullptr;
    QCheckBox* cbxRetina = nullptr;
    QCheckBox* cbxAlsoHalfSize = nullptr;
    QCheckBox* cbxAutoFill = nullptr;
    QLineEdit* edtLang = nullptr;
    QLineEdit* edtTitle = nullptr;
    QLineEdit* edtSources = nullptr;
    QSpinBox* speFold = nullptr;
    QSpinBox* speBreakpoint = nullptr; // 0 shows as "Never"
    // 0 shows as "Automatic"; an application preference, not the project's.
    QSpinBox* speThreads = nullptr;
    QFileDialog* HTMLSaveDialog = nullptr;

signals:
    // A cell-format control changed.
    void FormatChanged();

private:
    void CreatePlaces();
    void CreateFormatOptions();
    void CreatePageOptions();
    void CreateHTMLSaveDialog();
    void ShowCellFormat(const TCellFormat& format);
    // The run settings of the page options as the controls hold them.
    TGenerationSettings RunChoice() const;
    void ShowRunSettings(const TGenerationSettings& settings);
    // Enables the page options that the other choices leave open.
    void PageOptionsClick();
    bool BaseUrlApplies() const;
    // The page and folder the project keeps, over the defaults.
    void ShowRunPlaces(const TRunPlaces& stored);
    TRunPlaces RunPlaces() const;
    void SetEditColor(QLineEdit* edit, bool windowColor);
    bool ShowModal(QDialog& dialog);

    const std::string m_projectFileName;
    const std::optional<TOutputValues> m_storedOutput;
    const TCellPropertyMap m_cells;
    QGridLayout* m_columns = nullptr;
    // As given, and as the box shows it.
    std::pair<double, double> m_shownMinPsnr { 0, 0 };
    // Where the run writes, as first shown and with no project's places.
    TRunPlaces m_shownPlaces;
    TRunPlaces m_defaultPlaces;
};

} // namespace sw
