#include "ScriptedDialogs.h"

#include <QCoreApplication>
#include <QThread>

std::optional<std::vector<std::string>>
ScriptedDialogs::openPanel(QWidget*, const korva::OpenPanelOptions& options)
{
    panelsShown.push_back(options);
    if (panelAnswers.empty())
        return std::nullopt;
    auto answer = std::move(panelAnswers.front());
    panelAnswers.pop_front();
    return answer;
}

korva::AlertButton ScriptedDialogs::alert(QWidget*, const std::string& title,
                                          const std::string& message,
                                          const std::string& defaultButton,
                                          const std::string& alternateButton)
{
    const bool bOnInterfaceThread = QThread::currentThread() == qApp->thread();
    alertsShown.push_back({title, message, defaultButton, alternateButton, bOnInterfaceThread});
    return onAlert();
}
