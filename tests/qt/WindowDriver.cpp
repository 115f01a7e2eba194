#include "WindowDriver.h"

#include "MainWindow.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>

bool window_driver::drop(MainWindow& window, const std::vector<std::filesystem::path>& paths,
                         const QList<QUrl>& extraUrls)
{
    QList<QUrl> urls;
    for (const auto& path : paths)
        urls << QUrl::fromLocalFile(QString::fromStdString(path.string()));
    urls << extraUrls;
    QMimeData mimeData;
    mimeData.setUrls(urls);
    // A drop reaches only a widget that took the drag when it entered.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mimeData, Qt::LeftButton,
                          Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &dropped);
    return enter.isAccepted() && dropped.isAccepted();
}
