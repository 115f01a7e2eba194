#pragma once

#include "Dialogs.h"
#include "WidgetDialogs.h"

#include <QApplication>
#include <QDropEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>

// Runs act on the modal dialog of type T as soon as the event loop shows it.
template <typename T> void whenShown(std::function<void(T&)> act)
{
    QTimer::singleShot(0, [act] { act(*qobject_cast<T*>(QApplication::activeModalWidget())); });
}

// The user's answers, given in advance. Each open panel takes the next queued
// selection (none left: cancelled). Each alert is the desktop's own box
// (WidgetDialogs): while it is up it is noted as "title | text (plain) | its
// buttons left to right, (Return) and (Escape) marked", onAlert acts in the
// window and names the button to press, which is then pressed as a user
// would: Return for the first, Escape for the last, a click for the others.
// An alert off the interface thread shows no box and is noted as such.
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
    std::optional<std::string> savePanel(QWidget*, const korva::SavePanelOptions& options) override
    {
        savePanelsShown.push_back(options);
        return std::exchange(saveAnswer, std::nullopt);
    }
    int alert(QWidget* parent, const std::string& title, const std::string& message,
              const std::vector<std::string>& buttons) override
    {
        if (QThread::currentThread() != qApp->thread())
        {
            alertsShown << QString::fromStdString(title) + " (off the interface thread)";
            return onAlert();
        }
        whenShown<QMessageBox>([this](QMessageBox& box) { answer(box); });
        return WidgetDialogs().alert(parent, title, message, buttons);
    }

    void showFolder(const std::string& path) override
    {
        foldersShown << QString::fromStdString(path);
    }

    std::deque<std::vector<std::string>> panelAnswers;
    std::vector<korva::OpenPanelOptions> panelsShown;
    std::vector<korva::SavePanelOptions> savePanelsShown;
    std::optional<std::string> saveAnswer; // the next save panel's, then cancelled
    QStringList alertsShown, foldersShown;
    // The index of the button to press; the overwrite question's last is No.
    std::function<int()> onAlert = [] { return 3; };

private:
    void answer(QMessageBox& box)
    {
        QList<QAbstractButton*> buttons = box.buttons();
        std::sort(buttons.begin(), buttons.end(), [](auto* a, auto* b) { return a->x() < b->x(); });
        QString shown = box.windowTitle() + " | " + box.text() +
                        (box.textFormat() == Qt::PlainText ? " (plain) |" : " |");
        for (QAbstractButton* button : buttons)
            shown += ' ' + button->text() + (button == box.defaultButton() ? " (Return)" : "") +
                     (button == box.escapeButton() ? " (Escape)" : "");
        alertsShown << shown;
        const int nButton = onAlert();
        if (nButton == 0 || nButton == buttons.size() - 1)
            QTest::keyClick(&box, nButton == 0 ? Qt::Key_Return : Qt::Key_Escape);
        else
            buttons.value(nButton)->click();
    }
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
