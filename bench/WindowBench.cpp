// korva-bench-window SOURCE DESTINATION: the window's side of bench/run.sh.
// Lists every .wav file in SOURCE in the window (as a drop would), repairs them
// into DESTINATION with the pop-ups as they are saved, and prints on one line
// the seconds the listing took, the seconds the batch took from Start to its
// summary, and the longest the interface thread went without running its
// event loop during the batch, in milliseconds. Run it with
// QT_QPA_PLATFORM=offscreen and a settings folder of its own.
#include "Dialogs.h"
#include "MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace
{
// Answers the destination chooser with one folder, and no question is asked:
// the destination starts empty.
class BenchDialogs : public Dialogs
{
public:
    explicit BenchDialogs(std::string destination) : m_destination(std::move(destination)) {}
    std::optional<std::vector<std::string>> openPanel(QWidget*,
                                                      const korva::OpenPanelOptions&) override
    {
        return std::vector<std::string>{m_destination};
    }
    std::optional<std::string> savePanel(QWidget*, const korva::SavePanelOptions&) override
    {
        return std::nullopt;
    }
    int alert(QWidget*, const std::string&, const std::string&,
              const std::vector<std::string>& buttons) override
    {
        return static_cast<int>(buttons.size()) - 1;
    }
    void showFolder(const std::string&) override {}

private:
    std::string m_destination;
};
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3)
    {
        std::fprintf(stderr, "usage: korva-bench-window SOURCE DESTINATION\n");
        return 2;
    }
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1]))
        if (entry.path().extension() == ".wav")
            paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());

    BenchDialogs dialogs(argv[2]);
    MainWindow window(dialogs);
    window.show();
    window.findChild<QPushButton*>("browseButton")->click();
    QElapsedTimer clock;
    clock.start();
    window.listFiles(paths);
    QApplication::processEvents();
    const double listed = static_cast<double>(clock.nsecsElapsed()) / 1e9;

    // A timer that asks to run every millisecond: the longest gap between two
    // of its runs is the longest the interface thread was kept from its loop.
    auto* status = window.findChild<QLabel*>("statusLabel");
    QElapsedTimer sinceTick;
    qint64 nLongestNs = 0, nLongestEndNs = 0;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout,
                     [&]
                     {
                         if (sinceTick.nsecsElapsed() > nLongestNs)
                             nLongestNs = sinceTick.nsecsElapsed(),
                             nLongestEndNs = clock.nsecsElapsed();
                         sinceTick.restart();
                         if (status->text().startsWith(QStringLiteral("Done:")))
                             app.quit();
                     });
    clock.restart();
    window.findChild<QPushButton*>("goButton")->click();
    sinceTick.start();
    ticks.start(1);
    app.exec();
    std::printf("%zu files: listed in %.3f s, batch %.3f s, interface thread blocked at most "
                "%.0f ms, until %.3f s into the batch (%s)\n",
                paths.size(), listed, static_cast<double>(clock.nsecsElapsed()) / 1e9,
                static_cast<double>(nLongestNs) / 1e6, static_cast<double>(nLongestEndNs) / 1e9,
                status->text().toUtf8().constData());
    return 0;
}
