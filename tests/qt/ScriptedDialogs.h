#pragma once

#include "Dialogs.h"

#include <deque>
#include <functional>

// The user's answers, given in advance: each open panel takes the next
// queued selection (nullopt = cancelled), and each alert records what it
// showed and answers with whatever onAlert does, the user acting in the
// window while the alert is up.
class ScriptedDialogs : public Dialogs
{
public:
    struct Alert
    {
        std::string title;
        std::string message;
        std::string defaultButton;
        std::string alternateButton;
        bool bOnInterfaceThread = false;
    };

    std::optional<std::vector<std::string>>
    openPanel(QWidget* parent, const korva::OpenPanelOptions& options) override;
    korva::AlertButton alert(QWidget* parent, const std::string& title, const std::string& message,
                             const std::string& defaultButton,
                             const std::string& alternateButton) override;

    std::deque<std::optional<std::vector<std::string>>> panelAnswers;
    std::vector<korva::OpenPanelOptions> panelsShown;
    std::vector<Alert> alertsShown;
    std::function<korva::AlertButton()> onAlert = [] { return korva::AlertButton::Alternate; };
};
