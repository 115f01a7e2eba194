// Takes the picture of the window in docs/: a batch over six damaged takes,
// caught while the fifth file's overwrite question is up (answered "Yes" by
// this program). Run it on a real display, e.g. under xvfb-run:
//   window_screenshot docs/korva-window.png
#include "MainWindow.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "WavBuilder.h"
#include "WindowDriver.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

using namespace window_driver;

int main(int argc, char** argv)
{
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
    QApplication app(argc, argv);
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    TempDir session;
    const auto source = session / "Field recorder";
    const auto destination = session / "Repaired";
    std::filesystem::create_directories(source);
    std::filesystem::create_directories(destination);
    std::vector<std::string> takes;
    for (uint32_t take = 1; take <= 6; ++take)
    {
        using namespace fixture;
        const auto path = source / ("Scene 12 take " + std::to_string(take) + ".wav");
        const Bytes pcm = samples(96000, take);
        writeFile(path, take == 3 ? bwf(48000, 24, pcm)
                                  : riff({chunk("bext", bextBody(take)), chunk("data", pcm)}));
        takes.push_back(path.string());
    }
    fixture::writeFile(destination / "Scene 12 take 5.wav", fixture::ascii("older copy"));

    ScriptedDialogs dialogs;
    dialogs.panelAnswers.push_back(takes);
    dialogs.panelAnswers.push_back(std::vector<std::string>{destination.string()});
    MainWindow window(dialogs);
    window.resize(900, 640);
    window.show();
    child<QComboBox>(window, "sampleRateBox")->setCurrentIndex(1);
    child<QComboBox>(window, "resolutionBox")->setCurrentIndex(1);
    child<QPushButton>(window, "selectFilesButton")->click();
    child<QPushButton>(window, "browseButton")->click();

    bool bSaved = false;
    dialogs.onAlert = [&]
    {
        QTest::qWait(300);
        const QRect frame = window.frameGeometry();
        bSaved = window.screen()
                     ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
                     .save(QString::fromLocal8Bit(argv[1]));
        return korva::AlertButton::Default;
    };
    QTest::qWait(300);
    child<QPushButton>(window, "goButton")->click();
    const bool bEnded = QTest::qWaitFor([&] { return !window.controller().isPatching(); }, 30000);
    return bSaved && bEnded ? 0 : 1;
}
