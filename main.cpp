#include "MainWindow.h"
#include "WidgetDialogs.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.korva.Korva"));
    WidgetDialogs dialogs;
    MainWindow window(dialogs);
    window.show();
    return app.exec();
}
