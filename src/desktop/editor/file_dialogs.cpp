#include "desktop/editor/file_dialogs.h"

#include "core/imaging/bitmap.h"
#include "core/imaging/picture.h"
#include "desktop/editor/picture_view.h"
#include "desktop/shell/file_dialog_filters.h"
#include "desktop/shell/file_names.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QImageReader>
#include <QLabel>
#include <QVBoxLayout>

#include <exception>

namespace sw {

namespace {

constexpr char kProjectFilter[] = "Slicewright files|*.swr|All files|*.*";
constexpr int kPreviewSize = 160;
// Larger files, or pictures whose header claims more pixels, are not decoded
// just to preview them: decoding runs on the GUI thread, and a small file
// can hold a huge picture.
constexpr qint64 kMaxPreviewFileSize = 64 * 1024 * 1024;
constexpr qint64 kMaxPreviewPixels = qint64(1) << 22;

// The picture's size as its header states it, read without decoding; an
// invalid size when the header cannot be read.
QSize HeaderSize(const QString& fileName)
{
    QImageReader reader(fileName);
    reader.setDecideFormatFromContent(true);
    return reader.size();
}

void SetUpDialog(QFileDialog& dialog, const char* filter, const QString& defaultSuffix)
{
    // The toolkit's own dialog, the same on every desktop, so the preview
    // pane has a place and tests can drive it.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(FileDialogFilters(filter));
    dialog.selectNameFilter(dialog.nameFilters().value(0));
    dialog.setDefaultSuffix(defaultSuffix);
    dialog.setSizeGripEnabled(true);
}

} // namespace

QFileDialog* CreateProjectDialog(QWidget* parent, const QString& objectName, bool save)
{
    auto* dialog = new QFileDialog(parent);
    dialog->setObjectName(objectName);
    SetUpDialog(*dialog, kProjectFilter, QStringLiteral("swr"));
    if (save) {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
    } else {
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
    }
    return dialog;
}

std::string SelectedFileName(const QFileDialog& dialog)
{
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? std::string() : FileNameToCore(files.first());
}

TOpenPictureDialog::TOpenPictureDialog(QWidget* parent)
    : QFileDialog(parent)
{
    setObjectName(QStringLiteral("OpenImageDlg"));
    SetUpDialog(*this, PictureFilterPairs().c_str(), QStringLiteral("jpg"));
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(QFileDialog::ExistingFile);

    auto* pane = new QWidget(this);
    pane->setObjectName(QStringLiteral("pnlPreview"));
    auto* paneLayout = new QVBoxLayout(pane);
    imgPreview = new QLabel(pane);
    imgPreview->setObjectName(QStringLiteral("imgPreview"));
    imgPreview->setFixedSize(kPreviewSize, kPreviewSize);
    imgPreview->setAlignment(Qt::AlignCenter);
    imgPreview->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    lblPreviewSize = new QLabel(pane);
    lblPreviewSize->setObjectName(QStringLiteral("lblPreviewSize"));
    lblPreviewSize->setAlignment(Qt::AlignCenter);
    paneLayout->addWidget(imgPreview);
    paneLayout->addWidget(lblPreviewSize);
    paneLayout->addStretch();
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(pane, 0, grid->columnCount(), grid->rowCount(), 1);

    connect(this, &QFileDialog::currentChanged, this, &TOpenPictureDialog::ShowPreview);
    ShowPreview(QString());
}

void TOpenPictureDialog::showEvent(QShowEvent* event)
{
    QFileDialog::showEvent(event);
    ShowPreview(selectedFiles().value(0));
}

void TOpenPictureDialog::ShowPreview(const QString& fileName)
{
    imgPreview->clear();
    lblPreviewSize->clear();
    const QFileInfo info(fileName);
    if (fileName.isEmpty() || !info.isFile())
        return;
    if (info.size() > kMaxPreviewFileSize) {
        lblPreviewSize->setText(tr("No preview (large file)"));
        return;
    }
    const QSize stated = HeaderSize(fileName);
    if (!stated.isValid()) {
        lblPreviewSize->setText(tr("No preview"));
        return;
    }
    if (qint64(stated.width()) * stated.height() > kMaxPreviewPixels) {
        lblPreviewSize->setText(
            tr("No preview (%1 \u00D7 %2 pixels)").arg(stated.width()).arg(stated.height()));
        return;
    }
    try {
        TPicture picture;
        picture.LoadFromFile(FileNameToCore(fileName));
        TBitmap bitmap;
        bitmap.Assign(*picture.Graphic());
        const QImage image = BitmapToQImage(bitmap);
        if (image.isNull()) {
            lblPreviewSize->setText(tr("Empty picture"));
            return;
        }
        const QImage shown = image.width() > kPreviewSize || image.height() > kPreviewSize
            ? image.scaled(kPreviewSize, kPreviewSize, Qt::KeepAspectRatio, Qt::SmoothTransformation)
            : image;
        imgPreview->setPixmap(QPixmap::fromImage(shown));
        lblPreviewSize->setText(tr("%1 \u00D7 %2 pixels").arg(image.width()).arg(image.height()));
    } catch (const std::exception&) {
        lblPreviewSize->setText(tr("No preview"));
    }
}

} // namespace sw
