#include "desktop/generate/generate_dialog.h"

#include "core/imaging/bitmap.h"
#include "desktop/generate/estimate_panel.h"
#include "desktop/generate/generate_settings_form.h"
#include "desktop/generate/generation_runner.h"
#include "desktop/generate/run_log.h"
#include "desktop/shell/file_names.h"
#include "desktop/shell/handler_guard.h"
#include "desktop/shell/platform_services.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <iterator>
#include <utility>

namespace sw {

TGenerateDlg* GenerateDlg = nullptr;

namespace {

constexpr char kDoneMessage[] = "Slicewright is done.  Enjoy the interface!";
constexpr char kNoPictureMessage[] = "There is no picture to cut. Open one with \"Open image...\" first.";
constexpr char kProgressFormat[] = "%v of %m images";
constexpr char kNoPageFileMessage[]
    = "No page file is chosen. Choose one with the \"Save as...\" button or uncheck \"Generate HTML file\".";

QString CountOfImages(int count)
{
    return count == 1 ? QStringLiteral("1 image") : QStringLiteral("%1 images").arg(count);
}

QPushButton* PanelButton(QWidget* parent, const char* name, const char* caption)
{
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setObjectName(QString::fromUtf8(name));
    return button;
}

} // namespace

QString DoneMessage(int written, int skipped)
{
    QString message = QString::fromUtf8(kDoneMessage);
    if (skipped > 0)
        message += QStringLiteral("\n\n%1 written, %2 skipped.").arg(CountOfImages(written)).arg(skipped);
    return message;
}

TGenerateDlg::TGenerateDlg(TGenerationInput input, std::string projectFileName, QWidget* parent,
    std::optional<TOutputValues> output, TCellPropertyMap cells)
    : QDialog(parent)
    , m_input(std::move(input))
{
    setObjectName(QStringLiteral("GenerateDlg"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Generate"));
    setFont(FormFont());
    QPalette face = palette();
    face.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    Form = new TGenerateSettingsForm(std::move(projectFileName), std::move(output), std::move(cells));
    tbshtOptions = Form;
    tbshtOptions->setObjectName(QStringLiteral("tbshtOptions"));
    Estimate = new TEstimatePanel(m_input, [this] { return Form->Settings(); });
    Form->SetSidePanel(Estimate);
    PageControl1->addTab(tbshtOptions, QString());
    Log = new TRunLog();
    tbshtGenerate = Log;
    PageControl1->addTab(tbshtGenerate, QString());

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    pbRun = new QProgressBar(Panel1);
    pbRun->setObjectName(QStringLiteral("pbRun"));
    pbRun->setFormat(QString::fromUtf8(kProgressFormat));
    // Keeps its place in the row while hidden, so the buttons stay put.
    QSizePolicy keepPlace = pbRun->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    pbRun->setSizePolicy(keepPlace);
    pbRun->hide();
    // Offered while a run goes.
    btnStop = PanelButton(Panel1, "btnStop", "&Stop");
    btnStop->setAutoDefault(false);
    btnStop->hide();
    // Offered after a failed or stopped run only.
    btnBack = PanelButton(Panel1, "btnBack", "< &Back");
    btnBack->hide();
    btnClose = PanelButton(Panel1, "btnClose", "Close");
    btnClose->setDefault(true);
    auto* buttons = new QHBoxLayout(Panel1);
    buttons->setContentsMargins(8, 5, 7, 4);
    buttons->addWidget(pbRun, 1);
    buttons->addWidget(btnStop);
    buttons->addWidget(btnBack);
    buttons->addWidget(btnClose);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(PageControl1, 1);
    layout->addWidget(Panel1);
    SetTabOrder();

    m_runner = new TGenerationRunner(this);
    connect(m_runner, &TGenerationRunner::Reported, this, &TGenerateDlg::Reported);
    connect(
        m_runner, &TGenerationRunner::Beeped, this, [] { Services().MessageBeep(BeepType::Exclamation); });
    connect(m_runner, &TGenerationRunner::Finished, this,
        [this](const TGenerationCounts& counts) { RunHandler([&] { RunFinished(counts); }); });
    connect(m_runner, &TGenerationRunner::Failed, this, &TGenerateDlg::RunFailed);

    connect(btnClose, &QPushButton::clicked, this, Guarded(this, &TGenerateDlg::btnCloseClick));
    connect(Form->btnGenerate, &QPushButton::clicked, this, Guarded(this, &TGenerateDlg::btnGenerateClick));
    connect(btnBack, &QPushButton::clicked, this, Guarded(this, &TGenerateDlg::btnBackClick));
    connect(btnStop, &QPushButton::clicked, this, Guarded(this, &TGenerateDlg::btnStopClick));
    connect(Form, &TGenerateSettingsForm::FormatChanged, Estimate, &TEstimatePanel::FormatChanged);

    // FormCreate: both tabs hidden, the options page in front.
    PageControl1->tabBar()->hide();
    PageControl1->setCurrentWidget(tbshtOptions);
    // Placed on the screen rather than over the main window.
    adjustSize();
    if (const QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    GenerateDlg = this;
}

TGenerateDlg::~TGenerateDlg()
{
    if (GenerateDlg == this)
        GenerateDlg = nullptr;
}

void TGenerateDlg::SetTabOrder()
{
    TGenerateSettingsForm& f = *Form;
    QWidget* const order[] = { f.cbxWriteHTML, f.edtFilename, f.btnGenerate, f.edtOutputPath,
        f.edtBCSDescription, f.rgOutputImagesItems->button(0), f.rgOutputImagesItems->button(1),
        f.rgOutputImagesItems->button(2), f.cbxDeleteTemp, f.cbPageStyle, f.edtBaseUrl, f.cbxRetina,
        f.cbxAlsoHalfSize, f.cbxAutoFill, f.speThreads, f.speColors, f.cbDither, f.tbQuality, f.speQuality,
        f.cbxProgressive, f.cbxFullChroma, f.speMinPsnr, f.cbxKeepAlpha, Estimate->btnEstimate, btnStop,
        btnBack, btnClose };
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

bool TGenerateDlg::IsRunning() const
{
    return m_runner->IsRunning();
}

bool TGenerateDlg::IsEstimating() const
{
    return Estimate->IsEstimating();
}

void TGenerateDlg::btnCloseClick()
{
    close();
}

void TGenerateDlg::btnGenerateClick()
{
    if (IsRunning())
        return;
    // Without a page file name the run would fail only after writing the
    // strips; refusing here leaves the output folder untouched.
    if (Form->cbxWriteHTML->isChecked() && Form->edtFilename->text().isEmpty()) {
        Services().ShowError(QString::fromUtf8(kNoPageFileMessage));
        return;
    }
    if (m_input.Picture == nullptr || m_input.Picture->Empty()) {
        Services().ShowError(QString::fromUtf8(kNoPictureMessage));
        return;
    }
    const TGenerationSettings settings = Form->Settings();
    // The run wants the cores more than the table does.
    Estimate->Stop();

    Log->Begin();
    PageControl1->setCurrentWidget(tbshtGenerate);
    btnBack->hide();
    pbRun->setRange(0, 0);
    pbRun->setFormat(QString::fromUtf8(kProgressFormat));
    pbRun->show();
    btnStop->setEnabled(true);
    btnStop->show();
    btnClose->setEnabled(false);
    m_runPage = settings.WriteHTML ? std::optional(settings.PageFileName) : std::nullopt;
    m_runner->Start(m_input, settings);
}

void TGenerateDlg::btnStopClick()
{
    if (!IsRunning())
        return;
    m_runner->Stop();
    btnStop->setEnabled(false);
    Log->AppendLine(QStringLiteral("Stopping..."));
}

void TGenerateDlg::Reported(const TRunReport& report)
{
    Log->Show(report);
    ShowCounts(report.Counts);
}

void TGenerateDlg::RunEnded()
{
    btnStop->hide();
    btnClose->setEnabled(true);
}

void TGenerateDlg::RunFinished(const TGenerationCounts& counts)
{
    RunEnded();
    ShowCounts(counts);
    const QString done = DoneMessage(counts.Written, counts.Skipped);
    if (m_runPage) {
        const QString page = QFileInfo(FileNameFromCore(*m_runPage)).absoluteFilePath();
        if (Services().OfferAction(done, QStringLiteral("&Open page")))
            Services().OpenUrl(QUrl::fromLocalFile(page).toString());
    } else {
        Services().ShowInformation(done);
    }
    close();
}

void TGenerateDlg::RunFailed(const QString& message, bool stopped)
{
    RunEnded();
    // The box that shows the failure goes away; the log keeps it beside
    // the lines that led to it.
    Log->AppendLine(stopped ? message : QStringLiteral("Failed: ") + message);
    OfferOptionsAgain();
    if (!stopped)
        Services().ShowError(message);
}

void TGenerateDlg::btnBackClick()
{
    PageControl1->setCurrentWidget(tbshtOptions);
    // A run mostly fails on its folder. The focus moves before Back goes, so
    // it passes to no button that would take Enter from Close.
    Form->edtOutputPath->setFocus();
    btnBack->hide();
    pbRun->hide();
    btnClose->setDefault(true);
}

void TGenerateDlg::OfferOptionsAgain()
{
    btnBack->show();
    // Enter goes back to the options rather than closing the dialog.
    btnBack->setDefault(true);
    btnBack->setFocus();
}

void TGenerateDlg::ShowCounts(const TGenerationCounts& counts)
{
    pbRun->setRange(0, counts.Total);
    // Filled, skipped and spanned cells are done too: the bar ends full.
    pbRun->setValue(counts.Done());
    pbRun->setFormat(counts.Skipped == 0
            ? QString::fromUtf8(kProgressFormat)
            : QStringLiteral("%1 written, %2 skipped of %m images").arg(counts.Written).arg(counts.Skipped));
}

void TGenerateDlg::done(int result)
{
    if (IsRunning())
        return;
    Estimate->Stop();
    if (GenerateDlg == this)
        GenerateDlg = nullptr;
    QDialog::done(result);
}

void TGenerateDlg::closeEvent(QCloseEvent* event)
{
    if (IsRunning()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace sw
