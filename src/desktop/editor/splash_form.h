#pragma once

// The borderless window that shows the product picture with its version,
// first while the program starts and then for Help, About. A left click
// closes it, except one on the web address, which opens in the browser. It frees
// itself once closed.

#include <QDialog>

class QLabel;

namespace sw {

class TfrmSplash : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSplash(QWidget* parent = nullptr);
    ~TfrmSplash() override;

    // Sizes the window to the picture plus a one-pixel frame on every side.
    void FitToPicture();

    QLabel* Image1 = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* lblWebSite = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormClose();
    void Image1Click();
    void lblWebSiteClick();
};

// The splash or About window while it exists, else empty.
extern TfrmSplash* frmSplash;

} // namespace sw
