#include "desktop/generate/estimate_panel.h"

#include "core/imaging/bitmap.h"
#include "desktop/generate/output_choice.h"
#include "desktop/generate/size_estimator.h"
#include "desktop/shell/handler_guard.h"
#include "desktop/shell/platform_services.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cstdint>
#include <map>
#include <utility>

namespace sw {

namespace {

constexpr char kNoPictureMessage[] = "There is no picture to cut. Open one with \"Open image...\" first.";

// The table lists jpg for both JPEG types: they give the same bytes.
TImageType EstimatedTypeOf(TImageType type)
{
    return type == TImageType::Jpeg ? TImageType::Jpg : type;
}

QString TypeCaption(TImageType type)
{
    return type == TImageType::Jpg ? QStringLiteral("jpg, jpeg")
                                   : QString::fromStdString(ImageTypeName(type));
}

QString MixText(const std::map<TImageType, int>& chosen)
{
    QStringList parts;
    for (const auto& [type, cells] : chosen)
        parts << QStringLiteral("%1 %2").arg(QString::fromStdString(ImageTypeName(type))).arg(cells);
    return parts.join(QStringLiteral(", "));
}

} // namespace

TEstimatePanel::TEstimatePanel(
    const TGenerationInput& input, std::function<TGenerationSettings()> settings, QWidget* parent)
    : QWidget(parent)
    , m_input(input)
    , m_settings(std::move(settings))
{
    setObjectName(QStringLiteral("EstimatePanel"));
    btnEstimate = new QPushButton(QStringLiteral("Size &estimate"), this);
    btnEstimate->setObjectName(QStringLiteral("btnEstimate"));
    btnEstimate->setAutoDefault(false);
    btnEstimate->setToolTip(
        QStringLiteral("Encode the cells in every format, in memory, and compare the sizes"));

    pbEstimate = new QProgressBar(this);
    pbEstimate->setObjectName(QStringLiteral("pbEstimate"));
    pbEstimate->hide();

    tblEstimate = new QTableWidget(0, 3, this);
    tblEstimate->setObjectName(QStringLiteral("tblEstimate"));
    tblEstimate->setHorizontalHeaderLabels(
        { QStringLiteral("Format"), QStringLiteral("Bytes"), QStringLiteral("Cells") });
    tblEstimate->verticalHeader()->hide();
    tblEstimate->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 2);
    tblEstimate->horizontalHeader()->setStretchLastSection(true);
    tblEstimate->setColumnWidth(0, fontMetrics().averageCharWidth() * 15);
    tblEstimate->setColumnWidth(1, fontMetrics().averageCharWidth() * 11);
    tblEstimate->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    tblEstimate->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblEstimate->setSelectionMode(QAbstractItemView::NoSelection);
    tblEstimate->setFocusPolicy(Qt::NoFocus);
    tblEstimate->setWordWrap(false);

    lblEstimate = new QLabel(this);
    lblEstimate->setObjectName(QStringLiteral("lblEstimate"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* top = new QHBoxLayout();
    top->addWidget(btnEstimate);
    top->addWidget(pbEstimate, 1);
    top->addStretch();
    layout->addLayout(top);
    layout->addWidget(tblEstimate, 1);
    layout->addWidget(lblEstimate);

    m_estimator = new TSizeEstimator(this);
    connect(m_estimator, &TSizeEstimator::Progress, this, [this](qint64 done, qint64 total) {
        pbEstimate->setRange(0, total > INT32_MAX ? 100 : static_cast<int>(total));
        pbEstimate->setValue(
            total > INT32_MAX ? static_cast<int>(done * 100 / total) : static_cast<int>(done));
    });
    connect(m_estimator, &TSizeEstimator::Finished, this, &TEstimatePanel::Finished);
    connect(m_estimator, &TSizeEstimator::Failed, this, &TEstimatePanel::Failed);
    connect(btnEstimate, &QPushButton::clicked, this, Guarded(this, &TEstimatePanel::btnEstimateClick));
}

bool TEstimatePanel::IsEstimating() const
{
    return m_estimator->IsRunning();
}

void TEstimatePanel::FormatChanged()
{
    MarkChosen();
    if (!m_estimated)
        return;
    TCellFormat now = m_settings().CellFormat;
    now.Type = m_estimated->Type;
    bool same = true;
    for (const TOutputKey& row : OutputKeys())
        same = same && OutputText(now, row.Key) == OutputText(*m_estimated, row.Key);
    lblEstimate->setText(
        same ? Note() : QStringLiteral("Made with other settings; estimate again to compare."));
}

void TEstimatePanel::btnEstimateClick()
{
    if (m_estimator->IsRunning()) {
        Stop();
        return;
    }
    if (m_input.Picture == nullptr || m_input.Picture->Empty()) {
        Services().ShowError(QString::fromUtf8(kNoPictureMessage));
        return;
    }
    m_estimated.reset();
    tblEstimate->setRowCount(0);
    lblEstimate->setText(QStringLiteral("Encoding every cell in every format..."));
    pbEstimate->setRange(0, 0);
    pbEstimate->show();
    btnEstimate->setText(QStringLiteral("&Stop"));
    m_estimator->Start(m_input, m_settings());
}

void TEstimatePanel::Stop()
{
    if (!m_estimator->IsRunning())
        return;
    Halt();
    lblEstimate->setText(QStringLiteral("Stopped."));
}

void TEstimatePanel::Halt()
{
    m_estimator->Cancel();
    pbEstimate->hide();
    btnEstimate->setText(QStringLiteral("Size &estimate"));
}

void TEstimatePanel::Finished(const std::vector<TFormatSize>& sizes)
{
    Halt();
    m_estimated = m_settings().CellFormat;
    tblEstimate->setRowCount(static_cast<int>(sizes.size()));
    const QLocale locale;
    for (size_t k = 0; k < sizes.size(); ++k) {
        const TFormatSize& size = sizes[k];
        const int row = static_cast<int>(k);
        auto* format = new QTableWidgetItem(TypeCaption(size.Type));
        format->setData(Qt::UserRole, static_cast<int>(size.Type));
        tblEstimate->setItem(row, 0, format);
        auto* bytes = new QTableWidgetItem(locale.toString(static_cast<qulonglong>(size.Bytes)));
        bytes->setData(Qt::UserRole, static_cast<qulonglong>(size.Bytes));
        bytes->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        tblEstimate->setItem(row, 1, bytes);
        auto* mix = new QTableWidgetItem(MixText(size.Chosen));
        mix->setToolTip(mix->text());
        tblEstimate->setItem(row, 2, mix);
    }
    m_autoMix.clear();
    for (const TFormatSize& size : sizes)
        if (size.Type == TImageType::Auto)
            m_autoMix = MixText(size.Chosen);
    lblEstimate->setText(Note());
    MarkChosen();
}

QString TEstimatePanel::Note() const
{
    // The table's column is too narrow for a mix of many formats.
    return m_autoMix.isEmpty() ? QStringLiteral("For the settings shown.")
                               : QStringLiteral("For the settings shown; auto: %1.").arg(m_autoMix);
}

void TEstimatePanel::Failed(const QString& message)
{
    Halt();
    lblEstimate->setText(QStringLiteral("Failed: ") + message);
    lblEstimate->setToolTip(message);
}

void TEstimatePanel::MarkChosen()
{
    const int chosen = static_cast<int>(EstimatedTypeOf(m_settings().CellFormat.Type));
    const QColor highlight = palette().color(QPalette::Highlight);
    for (int row = 0; row < tblEstimate->rowCount(); ++row) {
        const bool mark = tblEstimate->item(row, 0)->data(Qt::UserRole).toInt() == chosen;
        for (int column = 0; column < tblEstimate->columnCount(); ++column) {
            QTableWidgetItem* item = tblEstimate->item(row, column);
            QFont font = item->font();
            font.setBold(mark);
            item->setFont(font);
            item->setBackground(mark ? QBrush(highlight.lighter(170)) : QBrush());
        }
    }
}

} // namespace sw
