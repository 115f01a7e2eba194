#include "CommandLine.h"
#include "KorvaVersion.h"
#include "MainWindow.h"
#include "WidgetDialogs.h"

#include <QApplication>

#include <cstdio>

namespace
{
QStringList argumentsOf(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}
} // namespace

int main(int argc, char* argv[])
{
    // Answered before QApplication connects to a display, so that they need none.
    const CommandLine asGiven(argumentsOf(argc, argv));
    if (!asGiven.answer().isEmpty())
    {
        std::fputs(asGiven.answer().toLocal8Bit().constData(), stdout);
        return 0;
    }
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QLatin1String(korva::kApplicationId));
    // QApplication has taken out its own options: what is left must be korva's.
    const CommandLine commandLine(QCoreApplication::arguments());
    if (!commandLine.error().isEmpty())
    {
        std::fprintf(stderr, "korva: %s\nTry 'korva --help'.\n",
                     commandLine.error().toLocal8Bit().constData());
        return 2;
    }
    WidgetDialogs dialogs;
    MainWindow window(dialogs);
    window.show();
    if (!commandLine.files().empty())
        window.listFiles(commandLine.files());
    return app.exec();
}
