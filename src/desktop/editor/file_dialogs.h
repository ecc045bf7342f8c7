#pragma once

// The file dialogs of the main window: the project dialogs and the picture
// dialog with its preview pane. Each is made once and kept, so it shows the
// name and folder of its previous use.

#include <QFileDialog>

#include <string>

class QLabel;

namespace sw {

// The project dialogs: "Slicewright files" and "All files", default
// extension ".swr"; the save dialog asks before overwriting a file.
QFileDialog* CreateProjectDialog(QWidget* parent, const QString& objectName, bool save);

// The first selected file as a byte-string path, or empty.
std::string SelectedFileName(const QFileDialog& dialog);

// OpenImageDlg: the supported picture kinds first, default extension ".jpg",
// and a pane that previews the selected picture through the same loader
// that opens it.
class TOpenPictureDialog : public QFileDialog {
    Q_OBJECT
public:
    explicit TOpenPictureDialog(QWidget* parent = nullptr);

    // Shows fileName in the pane, or a note when it cannot be previewed.
    void ShowPreview(const QString& fileName);

    QLabel* imgPreview = nullptr;
    QLabel* lblPreviewSize = nullptr;

protected:
    // Shown again, the dialog previews the file it kept from its last use.
    void showEvent(QShowEvent* event) override;
};

} // namespace sw
