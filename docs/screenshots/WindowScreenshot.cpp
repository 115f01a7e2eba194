// Takes the pictures of the window in docs/: a real batch over seven takes of
// a scene, photographed before Start, while the desktop's overwrite question
// is up and after the batch; the AppStream file shows the last two. The rate
// and the channels are left to the files' CodingHistory, the resolution is
// chosen. The questions are answered Skip, then
// No, so that the table ends with every kind of result. Run it on a real
// display:
//   xvfb-run -a -s "-screen 0 1024x768x24" build/tests/qt/window_screenshot docs
// With --waveforms it draws the window offscreen instead (QWidget::grab), with
// five takes of real recordings (sox reads them from Debian's sound packages)
// under a format chosen in the pop-ups: the one take recorded in another
// format is a wall of noise beside the others:
//   QT_QPA_PLATFORM=offscreen build/tests/qt/window_screenshot --waveforms docs
#include "MainWindow.h"
#include "QtTestSupport.h"
#include "WavBuilder.h"

#include <QComboBox>
#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QTableWidget>

using namespace fixture;

namespace
{
// The window as the screen shows it, with any dialog over it.
bool photograph(QWidget& window, const QString& path)
{
    QTest::qWait(300);
    const QRect frame = window.frameGeometry();
    return window.screen()
        ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
        .save(path);
}

// Take n of the scene: 2 seconds of 24-bit stereo audio at 48 kHz behind its
// bext chunk and its recorder's CodingHistory (an even number of bytes, for a
// bext without a pad byte), the remains of its lost format chunk between them
// (odd takes) or none.
Bytes damaged(uint32_t take, std::string_view history)
{
    return riff({chunk("bext", bextEvidence("", 0, history)),
                 take % 2 == 1 ? Bytes(24, 0) : Bytes{},
                 chunk("data", tone(96000, 2, 24, false, take))});
}
// Up to eight seconds of a recording as raw little-endian samples, as sox
// converts them.
Bytes recording(const QString& path, const QStringList& format)
{
    QProcess sox;
    sox.start(QStringLiteral("sox"),
              QStringList{path} + format +
                  QStringList{"-e", "signed-integer", "-t", "raw", "-", "trim", "0", "8"});
    if (!sox.waitForFinished(30000) || sox.exitCode() != 0)
        qFatal("sox cannot read %s", qPrintable(path));
    const QByteArray raw = sox.readAllStandardOutput();
    return Bytes(raw.begin(), raw.end());
}

// The window with five takes under 48 kHz, 24 bit, stereo; take 4 was
// recorded in 16-bit mono and its recorder wrote no CodingHistory, so
// nothing but its waveform says the choice is wrong for it.
int photographWaveforms(const QDir& docs)
{
    const QTemporaryDir session;
    const QStringList right = {"-r", "48000", "-b", "24", "-c", "2"};
    const std::pair<const char*, const char*> takes[] = {
        {"/usr/share/sounds/freedesktop/stereo/audio-channel-front-left.oga", ""},
        {"/usr/share/lmms/samples/beats/jungle01.ogg", ""},
        {"/usr/share/games/mu-cade/sounds/musics/mcd1.ogg", ""},
        {"/usr/share/sounds/freedesktop/stereo/audio-channel-front-right.oga", "mono"},
        {"/usr/share/sounds/freedesktop/stereo/alarm-clock-elapsed.oga", ""}};
    ScriptedDialogs dialogs;
    dialogs.panelAnswers = {{}};
    int nTake = 0;
    for (const auto& [recorded, wrong] : takes)
    {
        const std::filesystem::path path =
            session.filePath(QStringLiteral("Scene 14 take %1.wav").arg(++nTake)).toStdString();
        const bool bWrong = *wrong != '\0';
        const Bytes audio =
            recording(QString::fromLatin1(recorded),
                      bWrong ? QStringList{"-r", "48000", "-b", "16", "-c", "1"} : right);
        writeFile(path, riff({chunk("bext", bextEvidence("", 0,
                                                         bWrong ? ""
                                                                : "A=PCM,F=48000,W=24,M=stereo,"
                                                                  "T=SD744T\r\n")),
                              Bytes(24, 0), chunk("data", audio)}));
        dialogs.panelAnswers[0].push_back(path);
    }
    MainWindow window(dialogs);
    window.resize(1400, 640);
    window.show();
    child<QComboBox>(window, "sampleRateBox")->setCurrentIndex(3);
    child<QComboBox>(window, "resolutionBox")->setCurrentIndex(2);
    child<QComboBox>(window, "channelsBox")->setCurrentIndex(1);
    child<QPushButton>(window, "selectFilesButton")->click();
    auto* table = child<QTableWidget>(window, "fileTable");
    const int nColumn = table->property("columnIdentifiers").toStringList().indexOf("Waveform");
    const bool bIn = QTest::qWaitFor(
        [&]
        {
            for (int row = 0; row < table->rowCount(); ++row)
                if (!table->item(row, nColumn)->text().isEmpty())
                    return false;
            return true;
        },
        30000);
    return bIn && window.grab().save(docs.filePath("korva-window-waveforms.png")) ? 0 : 1;
}
} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
    QApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--waveforms")
        return photographWaveforms(QDir(QString::fromLocal8Bit(argv[2])));
    if (argc != 2)
        qFatal("usage: %s FOLDER | --waveforms FOLDER", argv[0]);
    const QDir docs(QString::fromLocal8Bit(argv[1]));
    // A short folder name reads better in the pictures than a temporary one.
    const std::filesystem::path session = std::filesystem::temp_directory_path() / "Shoot day 3";
    if (!std::filesystem::create_directory(session))
        qFatal("%s is in the way", session.c_str());
    const auto removeSession = qScopeGuard([&] { std::filesystem::remove_all(session); });
    const auto source = session / "Card A", destination = session / "Repaired";
    std::filesystem::create_directories(source);
    std::filesystem::create_directories(destination);
    ScriptedDialogs dialogs;
    dialogs.panelAnswers = {{}, {destination}};
    for (uint32_t take = 1; take <= 7; ++take)
    {
        const std::string name = "Scene 12 take " + std::to_string(take) + ".wav";
        dialogs.panelAnswers[0].push_back(source / name);
        // Take 3 was never damaged; take 5's recorder wrote no CodingHistory,
        // so its rate cannot be told; take 2's says 16 bit; take 7 lost its
        // bext chunk too. Takes 4 and 6 were repaired before.
        const Bytes bytes = take == 3   ? bwf(48000, 24, tone(96000, 1, 24, false, take))
                            : take == 5 ? damaged(take, "")
                            : take == 2 ? damaged(take, "A=PCM,F=48000,W=16,M=stereo,T=SD744T\r\n")
                            : take == 7 ? riff({chunk("data", tone(96000, 2, 24, false, take))})
                                        : damaged(take, "A=PCM,F=48000,W=24,M=stereo,T=SD744T\r\n");
        writeFile(source / name, bytes);
        if (take == 4 || take == 6)
            writeFile(destination / name, ascii("an earlier repair"));
    }
    MainWindow window(dialogs);
    window.resize(960, 700);
    window.show();
    auto* sampleRate = child<QComboBox>(window, "sampleRateBox");
    sampleRate->setCurrentIndex(sampleRate->count() - 1);
    child<QComboBox>(window, "resolutionBox")->setCurrentIndex(1);
    auto* channels = child<QComboBox>(window, "channelsBox");
    channels->setCurrentIndex(channels->count() - 1);
    child<QPushButton>(window, "selectFilesButton")->click();
    child<QPushButton>(window, "browseButton")->click();
    bool bSaved = photograph(window, docs.filePath("korva-window-before.png"));
    // Skip keeps take 4 and goes on; No keeps take 6 and stops the batch.
    dialogs.onAlert = [&]
    {
        if (dialogs.alertsShown.size() > 1)
            return 3;
        bSaved = photograph(window, docs.filePath("korva-window-during.png")) && bSaved;
        return 2;
    };
    child<QPushButton>(window, "goButton")->click();
    const bool bEnded = QTest::qWaitFor([&] { return !window.controller().isPatching(); }, 30000);
    bSaved = photograph(window, docs.filePath("korva-window-after.png")) && bSaved;
    return bSaved && bEnded ? 0 : 1;
}
