#pragma once

// Beeps, questions, message boxes and opening a web address all go through
// one replaceable object, so tests can count beeps and answer questions
// without a modal loop or a browser.

#include <QFont>
#include <QString>

namespace sw {

inline constexpr char kApplicationTitle[] = "Slicewright";

// Message-beep types, named after the message-box icons they belong to.
enum class BeepType : unsigned { Question = 0x20, Exclamation = 0x30 };

// The answers to the question asked before unsaved work would be lost.
enum class SaveChangesAnswer { Save, Discard, Cancel };

class PlatformServices {
public:
    virtual ~PlatformServices() = default;

    virtual void MessageBeep(BeepType type) = 0;
    // A box titled "Confirm" with the question icon, "&Yes" and "&No"; true on Yes.
    virtual bool Confirm(const QString& text) = 0;
    // The same box with "&Save", "&Discard" and "Cancel"; Escape cancels.
    virtual SaveChangesAnswer AskSaveChanges(const QString& text) = 0;
    // A box titled "Slicewright" with the critical icon and one OK button;
    // the text is shown as given.
    virtual void ShowError(const QString& text) = 0;
    // A box titled "Information" with the information icon and one OK button.
    virtual void ShowInformation(const QString& text) = 0;
    // The same box with a second button captioned action beside OK, which
    // stays the default; true when the user chose the action.
    virtual bool OfferAction(const QString& text, const QString& action) = 0;
    virtual void OpenUrl(const QString& address) = 0;
};

// The application's font at 8 points: the size every form is laid out for.
QFont FormFont();

// The services in use: the desktop's own unless a test installed others.
PlatformServices& Services();
// Installs services (not owned) in place of the desktop's; nullptr restores them.
void SetServices(PlatformServices* services);

// Shows the application-wide hourglass for its lifetime; the arrow returns on
// every path out of the scope, exceptions included.
class HourglassCursor {
public:
    HourglassCursor();
    ~HourglassCursor();
    HourglassCursor(const HourglassCursor&) = delete;
    HourglassCursor& operator=(const HourglassCursor&) = delete;
};

} // namespace sw
