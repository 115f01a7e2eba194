// Takes the picture of the window in docs/: a batch over six damaged takes,
// caught while the fifth file's overwrite question is up (answered "Yes" by
// this program). Run it on a real display, e.g. under xvfb-run:
//   window_screenshot docs/korva-window.png
#include "MainWindow.h"
#include "QtTestSupport.h"
#include "TempDir.h"
#include "WavBuilder.h"

#include <QComboBox>
#include <QPushButton>
#include <QScreen>

int main(int argc, char** argv)
{
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
    QApplication app(argc, argv);
    if (argc != 2)
        qFatal("usage: %s OUTPUT.png", argv[0]);
    using namespace fixture;
    TempDir session;
    const auto source = session / "Field recorder", destination = session / "Repaired";
    std::filesystem::create_directories(source);
    std::filesystem::create_directories(destination);
    writeFile(destination / "Scene 12 take 5.wav", ascii("older copy"));
    ScriptedDialogs dialogs;
    dialogs.panelAnswers = {{}, {destination}};
    auto& takes = dialogs.panelAnswers[0];
    for (uint32_t take = 1; take <= 6; ++take)
    {
        takes.push_back(source / ("Scene 12 take " + std::to_string(take) + ".wav"));
        const Bytes pcm = samples(96000, take);
        writeFile(takes.back(), take == 3
                                    ? bwf(48000, 24, pcm)
                                    : riff({chunk("bext", bextBody(take)), chunk("data", pcm)}));
    }
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
        return 0;
    };
    QTest::qWait(300);
    child<QPushButton>(window, "goButton")->click();
    const bool bEnded = QTest::qWaitFor([&] { return !window.controller().isPatching(); }, 30000);
    return bSaved && bEnded ? 0 : 1;
}
