#include "desktop/generate/run_log.h"

#include <QApplication>
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
    layout->addWidget(mmoGenerate);
    layout->addWidget(lbxFinishedFiles);
}

void TRunLog::Begin()
{
    mmoGenerate->clear();
    lbxRowFiles->clear();
}

void TRunLog::Show(const TRunReport& report)
{
    // Gathered lines go in at once: thousands of items added one by one,
    // each with its own scroll and repaint, cost more than the cells.
    if (!report.LogLines.isEmpty())
        mmoGenerate->appendPlainText(report.LogLines.join(u'\n'));
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
