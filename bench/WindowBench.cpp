// korva-bench-window SOURCE DESTINATION: the window's side of bench/run.sh.
// Lists every .wav file in SOURCE in the window (as a drop would), repairs them
// into DESTINATION with the pop-ups as they are saved, and prints on one line
// the seconds the listing took, the seconds the batch took from Start to its
// summary, and the longest the interface thread went without running its
// event loop during the batch, in milliseconds.
// korva-bench-window --overviews SOURCE: lists every .wav file in SOURCE twice
// (the first warms the page cache) and prints, for the second, the seconds from
// the listing until every row's waveform is in, the longest the interface
// thread went without its event loop meanwhile (the listing included), and
// the process's peak memory. Run it with QT_QPA_PLATFORM=offscreen and a
// settings folder of its own.
#include "Dialogs.h"
#include "MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <QTableWidget>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/resource.h>
#include <utility>

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

std::vector<std::string> takesIn(const char* folder)
{
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".wav")
            paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

// The seconds of CPU the process has used, on all its threads.
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The listing of paths, twice, and the second one's thumbnails timed.
int timeOverviews(QApplication& app, const std::vector<std::string>& paths)
{
    BenchDialogs dialogs("");
    MainWindow window(dialogs);
    window.show();
    auto* table = window.findChild<QTableWidget*>("fileTable");
    const int nColumn = table->property("columnIdentifiers").toStringList().indexOf("Waveform");
    const auto allIn = [&]
    {
        for (int row = 0; row < table->rowCount(); ++row)
            if (!table->item(row, nColumn)->text().isEmpty())
                return false;
        return table->rowCount() == static_cast<int>(paths.size());
    };
    QElapsedTimer clock, sinceTick;
    qint64 nLongestNs = 0, nListingNs = 0, nLongestAfterNs = 0;
    bool bListingGap = false;
    double dCpuAtStart = 0;
    int nRound = 0;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout,
                     [&]
                     {
                         nLongestNs = std::max(nLongestNs, sinceTick.nsecsElapsed());
                         // The gap that held the listing is the listing's.
                         if (!std::exchange(bListingGap, false))
                             nLongestAfterNs = std::max(nLongestAfterNs, sinceTick.nsecsElapsed());
                         sinceTick.restart();
                         if (!allIn())
                             return;
                         if (nRound++ == 1)
                             return app.quit();
                         // The second round, on a cache the first has warmed.
                         nLongestNs = 0;
                         dCpuAtStart = cpuSeconds();
                         clock.start();
                         window.listFiles(paths);
                         nListingNs = clock.nsecsElapsed();
                         nLongestAfterNs = 0;
                         bListingGap = true;
                     });
    sinceTick.start();
    ticks.start(1);
    window.listFiles(paths);
    app.exec();
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const double dCpu = cpuSeconds() - dCpuAtStart;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::uintmax_t nBytes = 0;
    for (const std::string& path : paths)
        nBytes += std::filesystem::file_size(path);
    std::printf("%zu takes of %.1f MB: every waveform in %.3f s (%.2f s of CPU) from the listing, "
                "which took %.0f ms; interface thread blocked at most %.0f ms (%.0f ms after the "
                "listing); peak memory %.0f MiB\n",
                paths.size(), static_cast<double>(nBytes) / 1e6 / static_cast<double>(paths.size()),
                seconds, dCpu, static_cast<double>(nListingNs) / 1e6,
                static_cast<double>(nLongestNs) / 1e6, static_cast<double>(nLongestAfterNs) / 1e6,
                static_cast<double>(usage.ru_maxrss) / 1024);
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3)
    {
        std::fprintf(stderr, "usage: korva-bench-window SOURCE DESTINATION | --overviews SOURCE\n");
        return 2;
    }
    if (std::strcmp(argv[1], "--overviews") == 0)
        return timeOverviews(app, takesIn(argv[2]));
    const std::vector<std::string> paths = takesIn(argv[1]);

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
