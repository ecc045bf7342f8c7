#include "desktop/generate/run_log.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace sw {

namespace {

// The finished-files list shows this many lines.
constexpr int kFinishedFilesLines = 7;

} // namespace

TRunLog::TRunLog(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("tbshtGenerate"));
    lblWarnings = new QLabel(this);
    lblWarnings->setObjectName(QStringLiteral("lblWarnings"));
    lblWarnings->setWordWrap(true);
    lblWarnings->hide();

    mmoGenerate = new QPlainTextEdit(this);
    mmoGenerate->setObjectName(QStringLiteral("mmoGenerate"));
    mmoGenerate->setReadOnly(true);
    mmoGenerate->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmoGenerate->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmoGenerate->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette face = mmoGenerate->palette();
    face.setColor(QPalette::Base, QApplication::palette().color(QPalette::Button));
    mmoGenerate->setPalette(face);

    lbxFinishedFiles = new QListWidget(this);
    lbxFinishedFiles->setObjectName(QStringLiteral("lbxFinishedFiles"));
    lbxFinishedFiles->setFixedHeight(
        fontMetrics().lineSpacing() * kFinishedFilesLines + 2 * lbxFinishedFiles->frameWidth());
    // One line of text each: measuring every item again whenever the list
    // grows costs more than cutting the cells.
    lbxFinishedFiles->setUniformItemSizes(true);

    lbxRowFiles = new QListWidget(this);
    lbxRowFiles->setObjectName(QStringLiteral("lbxRowFiles"));
    lbxRowFiles->hide();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(lblWarnings);
    layout->addWidget(mmoGenerate);
    layout->addWidget(lbxFinishedFiles);
}

void TRunLog::Begin()
{
    mmoGenerate->clear();
    lbxRowFiles->clear();
    m_warnings = 0;
    lblWarnings->hide();
}

// The run's warnings are its log lines that say so; the count keeps them
// from scrolling by unseen in a long log.
void TRunLog::CountWarnings(const QStringList& lines)
{
    for (const QString& line : lines)
        if (line.startsWith(QStringLiteral("Warning: ")))
            ++m_warnings;
    if (m_warnings == 0)
        return;
    lblWarnings->setText(m_warnings == 1 ? tr("1 warning in the log below.")
                                         : tr("%1 warnings in the log below.").arg(m_warnings));
    lblWarnings->show();
}

void TRunLog::Show(const TRunReport& report)
{
    // Gathered lines go in at once: thousands of items added one by one,
    // each with its own scroll and repaint, cost more than the cells.
    if (!report.LogLines.isEmpty())
        mmoGenerate->appendPlainText(report.LogLines.join(u'\n'));
    CountWarnings(report.LogLines);
    lbxRowFiles->addItems(report.RowFiles);
    if (!report.FinishedFiles.isEmpty()) {
        lbxFinishedFiles->addItems(report.FinishedFiles);
        lbxFinishedFiles->scrollToBottom();
    }
}

void TRunLog::AppendLine(const QString& line)
{
    mmoGenerate->appendPlainText(line);
}

} // namespace sw
