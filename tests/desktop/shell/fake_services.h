#pragma once

#include "desktop/shell/platform_services.h"

#include <QStringList>

namespace sw {

// Counts beeps, answers questions and records boxes and opened addresses,
// installed for the lifetime of the object.
class FakeServices final : public PlatformServices {
public:
    FakeServices() { SetServices(this); }
    ~FakeServices() override { SetServices(nullptr); }

    void MessageBeep(BeepType type) override
    {
        if (type == BeepType::Exclamation)
            ++exclamations;
        else
            ++questions;
    }
    bool Confirm(const QString& text) override
    {
        confirmations << text;
        return answer;
    }
    SaveChangesAnswer AskSaveChanges(const QString& text) override
    {
        saveQuestions << text;
        return saveAnswer;
    }
    void ShowError(const QString& text) override { errors << text; }
    void ShowInformation(const QString& text) override { informations << text; }
    bool OfferAction(const QString& text, const QString& action) override
    {
        informations << text;
        offeredActions << action;
        return acceptOffer;
    }
    void OpenUrl(const QString& address) override { openedUrls << address; }

    bool answer = true;
    SaveChangesAnswer saveAnswer = SaveChangesAnswer::Discard;
    bool acceptOffer = false;
    int exclamations = 0;
    int questions = 0;
    QStringList confirmations;
    QStringList saveQuestions;
    QStringList errors;
    QStringList informations;
    QStringList offeredActions;
    QStringList openedUrls;
};

} // namespace sw
