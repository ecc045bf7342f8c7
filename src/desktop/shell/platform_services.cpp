#include "desktop/shell/platform_services.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace sw {

QFont FormFont()
{
    QFont font = QApplication::font();
    font.setPointSize(8);
    return font;
}

namespace {

class DesktopServices final : public PlatformServices {
public:
    // Qt has a single beep; the types only differ where the platform sounds differ.
    void MessageBeep(BeepType) override { QApplication::beep(); }

    bool Confirm(const QString& text) override
    {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text, QMessageBox::NoButton,
            QApplication::activeWindow());
        QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
        QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes;
    }

    SaveChangesAnswer AskSaveChanges(const QString& text) override
    {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text, QMessageBox::NoButton,
            QApplication::activeWindow());
        QPushButton* save = box.addButton(QStringLiteral("&Save"), QMessageBox::AcceptRole);
        QPushButton* discard = box.addButton(QStringLiteral("&Discard"), QMessageBox::DestructiveRole);
        QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
        box.setDefaultButton(save);
        box.setEscapeButton(cancel);
        box.exec();
        if (box.clickedButton() == save)
            return SaveChangesAnswer::Save;
        return box.clickedButton() == discard ? SaveChangesAnswer::Discard : SaveChangesAnswer::Cancel;
    }

    void ShowError(const QString& text) override
    {
        Show(QMessageBox::Critical, QString::fromUtf8(kApplicationTitle), text);
    }
    void ShowInformation(const QString& text) override
    {
        Show(QMessageBox::Information, QStringLiteral("Information"), text);
    }
    bool OfferAction(const QString& text, const QString& action) override
    {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Information"), text, QMessageBox::Ok,
            QApplication::activeWindow());
        QPushButton* chosen = box.addButton(action, QMessageBox::ActionRole);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        box.exec();
        return box.clickedButton() == chosen;
    }

    void OpenUrl(const QString& address) override { QDesktopServices::openUrl(QUrl::fromUserInput(address)); }

private:
    static void Show(QMessageBox::Icon icon, const QString& title, const QString& text)
    {
        QMessageBox box(icon, title, text, QMessageBox::Ok, QApplication::activeWindow());
        box.exec();
    }
};

DesktopServices g_desktopServices;
PlatformServices* g_services = &g_desktopServices;

} // namespace

PlatformServices& Services()
{
    return *g_services;
}

void SetServices(PlatformServices* services)
{
    g_services = services ? services : &g_desktopServices;
}

HourglassCursor::HourglassCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

HourglassCursor::~HourglassCursor()
{
    QApplication::restoreOverrideCursor();
}

} // namespace sw
