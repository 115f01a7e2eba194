#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

#include <filesystem>
#include <vector>

class MainWindow;

// What a test does to the window as a user would, by the form's object names.
namespace window_driver
{
// The form's object called name; the test stops when there is none.
template <typename T> T* child(QObject& window, const char* name)
{
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("the window has no %s", name);
    return found;
}

// Drags paths (as file URLs, followed by extraUrls) onto the window and drops
// them; true when the window took the drop.
bool drop(MainWindow& window, const std::vector<std::filesystem::path>& paths,
          const QList<QUrl>& extraUrls = {});
} // namespace window_driver
