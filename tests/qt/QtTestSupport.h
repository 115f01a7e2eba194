#pragma once

#include "Dialogs.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>

#include <deque>
#include <filesystem>
#include <functional>

// The user's answers, given in advance: each open panel takes the next queued
// selection (none left: cancelled); each alert is noted as "title | message |
// default | alternate" (flagged when off the interface thread) and answered by
// onAlert, the user acting in the window while it is up.
class ScriptedDialogs : public Dialogs
{
public:
    std::optional<std::vector<std::string>>
    openPanel(QWidget*, const korva::OpenPanelOptions& options) override
    {
        panelsShown.push_back(options);
        if (panelAnswers.empty())
            return std::nullopt;
        const std::vector<std::string> answer = panelAnswers.front();
        panelAnswers.pop_front();
        return answer;
    }
    int alert(QWidget*, const std::string& title, const std::string& message,
              const std::vector<std::string>& buttons) override
    {
        const bool bOnInterfaceThread = QThread::currentThread() == qApp->thread();
        QString shown = QString::fromStdString(title + " | " + message);
        for (const std::string& button : buttons)
            shown += " | " + QString::fromStdString(button);
        alertsShown << shown + (bOnInterfaceThread ? "" : " (off the thread)");
        return onAlert();
    }

    std::deque<std::vector<std::string>> panelAnswers;
    std::vector<korva::OpenPanelOptions> panelsShown;
    QStringList alertsShown;
    // The index of the button pressed; the overwrite question's last is No.
    std::function<int()> onAlert = [] { return 3; };
};

// The window's object called name; the test stops when there is none.
template <typename T> T* child(QObject& window, const char* name)
{
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("the window has no %s", name);
    return found;
}

// Drags paths (as file URLs, then extraUrls) onto the window and drops them, as
// a user would; true when the window took the drop.
inline bool drop(QWidget& window, const std::vector<std::filesystem::path>& paths,
                 const QList<QUrl>& extraUrls = {})
{
    QList<QUrl> urls;
    for (const auto& path : paths)
        urls << QUrl::fromLocalFile(QString::fromStdString(path.string()));
    QMimeData mimeData;
    mimeData.setUrls(urls + extraUrls);
    // A drop reaches only a widget that took the drag when it entered.
    QDragEnterEvent enter({10, 10}, Qt::CopyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    QDropEvent dropped({10, 10}, Qt::CopyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &dropped);
    return enter.isAccepted() && dropped.isAccepted();
}
