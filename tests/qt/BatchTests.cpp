// Real batches through the Qt platform: files in temporary folders, the
// panels and the overwrite question answered by the test, the window watched
// before, during and after.
#include "MainWindow.h"
#include "QtTestMain.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "WavBuilder.h"
#include "WindowDriver.h"

#include <QAction>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTableWidget>

namespace fs = std::filesystem;
using fixture::Bytes;
using namespace window_driver;

namespace
{
// What the user sees of the batch controls.
struct Controls
{
    bool bStart;
    bool bDestination;
    bool bFiles;
    bool bSampleRate;
    bool bResolution;
    bool bQuitItem;
    QString quitTitle;

    bool operator==(const Controls&) const = default;
};

QString describe(const Controls& c)
{
    return QStringLiteral("start %1 destination %2 files %3 rate %4 resolution %5 quit item %6 "
                          "button \"%7\"")
        .arg(c.bStart)
        .arg(c.bDestination)
        .arg(c.bFiles)
        .arg(c.bSampleRate)
        .arg(c.bResolution)
        .arg(c.bQuitItem)
        .arg(c.quitTitle);
}

Controls controlsOf(MainWindow& window)
{
    return {child<QPushButton>(window, "goButton")->isEnabled(),
            child<QPushButton>(window, "browseButton")->isEnabled(),
            child<QPushButton>(window, "selectFilesButton")->isEnabled(),
            child<QComboBox>(window, "sampleRateBox")->isEnabled(),
            child<QComboBox>(window, "resolutionBox")->isEnabled(),
            child<QAction>(window, "actionQuit")->isEnabled(),
            child<QPushButton>(window, "quitButton")->text()};
}

const Controls kReady = {true, true, true, true, true, true, "Quit"};
const Controls kPatching = {false, false, false, false, false, false, "Cancel"};
const Controls kAfterBatch = {false, true, true, true, true, true, "Quit"};

#define COMPARE_CONTROLS(actual, expected)                                                         \
    QVERIFY2((actual) == (expected), qPrintable(describe(actual) + " != " + describe(expected)))

// The activity pane's lines that start with prefix, in order.
QStringList activityLines(MainWindow& window, const QString& prefix)
{
    QStringList lines;
    for (const QString& line :
         child<QPlainTextEdit>(window, "activityText")->toPlainText().split('\n'))
    {
        if (line.startsWith(prefix))
            lines << line;
    }
    return lines;
}

Bytes damaged(uint32_t seed)
{
    using namespace fixture;
    return riff({chunk("bext", bextBody(seed)), chunk("data", samples(4000, seed))});
}

Bytes repaired(uint32_t seed, uint32_t rate, uint16_t bits)
{
    using namespace fixture;
    return riff({chunk("bext", bextBody(seed)), fmtChunkMono(rate, bits),
                 chunk("data", samples(4000, seed))});
}

} // namespace

class BatchTests : public QObject
{
    Q_OBJECT

private slots:
    void init() { QSettings(QStringLiteral("Korva"), QStringLiteral("Korva")).clear(); }

    // take1 and take2 lack their fmt chunk, good.wav has one; the destination
    // already holds a take2.wav, so the batch asks before it overwrites it.
    void batchOverAnExistingFile_data()
    {
        QTest::addColumn<bool>("bOverwrite");
        QTest::addColumn<bool>("bCancel");
        QTest::addColumn<QStringList>("outcomes");
        QTest::addColumn<int>("nBeeps");
        QTest::addColumn<QList<double>>("progress");

        const QString take1 = "[repaired] take1.wav: fmt chunk inserted behind bext";
        const QString take2 = "[repaired] take2.wav: fmt chunk inserted behind bext";
        // The question's beep and the refused close; a stop adds one.
        QTest::newRow("overwrite")
            << true << false
            << QStringList{take1, take2, "[unchanged] good.wav: already has a format chunk"} << 2
            << QList<double>{100.0 / 3, 200.0 / 3, 100.0};
        QTest::newRow("keep the existing file")
            << false << false
            << QStringList{take1, "[failed] take2.wav: Not copied: the existing file was kept"} << 2
            << QList<double>{100.0 / 3, 200.0 / 3};
        QTest::newRow("overwrite, then stop") << true << true << QStringList{take1, take2} << 3
                                              << QList<double>{100.0 / 3, 200.0 / 3};
    }

    void batchOverAnExistingFile()
    {
        QFETCH(bool, bOverwrite);
        QFETCH(bool, bCancel);
        QFETCH(QStringList, outcomes);
        QFETCH(int, nBeeps);
        QFETCH(QList<double>, progress);

        TempDir source;
        TempDir destination;
        const Bytes good = fixture::bwf(44100, 24, fixture::samples(600, 9));
        fixture::writeFile(source / "take1.wav", damaged(1));
        fixture::writeFile(source / "take2.wav", damaged(2));
        fixture::writeFile(source / "good.wav", good);
        const Bytes existing = fixture::ascii("an older take2");
        fixture::writeFile(destination / "take2.wav", existing);

        ScriptedDialogs dialogs;
        MainWindow window(dialogs);
        QSignalSpy beeps(&window.platform(), &QtPlatform::beeped);
        QSignalSpy progressSpy(&window.platform(), &QtPlatform::progressReported);
        child<QComboBox>(window, "sampleRateBox")->setCurrentIndex(1);
        child<QComboBox>(window, "resolutionBox")->setCurrentIndex(0);
        dialogs.panelAnswers.push_back(std::vector<std::string>{(source / "take1.wav").string(),
                                                                (source / "take2.wav").string(),
                                                                (source / "good.wav").string()});
        dialogs.panelAnswers.push_back(std::vector<std::string>{destination.path().string()});
        child<QPushButton>(window, "selectFilesButton")->click();
        child<QPushButton>(window, "browseButton")->click();
        COMPARE_CONTROLS(controlsOf(window), kReady);

        Controls duringQuestion{};
        QStringList outcomesBeforeQuestion;
        int nProgressShown = 0;
        bool bCloseRefused = false;
        QVariant storedDuringBatch;
        bool bDropRefused = false;
        int nRowsDuringQuestion = 0;
        dialogs.onAlert = [&]
        {
            duringQuestion = controlsOf(window);
            outcomesBeforeQuestion = activityLines(window, "[");
            nProgressShown = child<QProgressBar>(window, "progressBar")->value();
            bCloseRefused = !window.close();
            // A refused quit stores nothing: the first run's default stays.
            storedDuringBatch = QSettings(QStringLiteral("Korva"), QStringLiteral("Korva"))
                                    .value(QStringLiteral("SampleRate"));
            bDropRefused = !drop(window, {source / "good.wav"});
            nRowsDuringQuestion = child<QTableWidget>(window, "fileTable")->rowCount();
            if (bCancel)
                child<QPushButton>(window, "quitButton")->click();
            return bOverwrite ? korva::AlertButton::Default : korva::AlertButton::Alternate;
        };

        child<QPushButton>(window, "goButton")->click();
        COMPARE_CONTROLS(controlsOf(window), kPatching);
        QTRY_VERIFY_WITH_TIMEOUT(!window.controller().isPatching(), 30000);

        // During: every batch control off, the question on the interface
        // thread, the first file's outcome already shown.
        QCOMPARE(dialogs.alertsShown.size(), 1u);
        const ScriptedDialogs::Alert& alert = dialogs.alertsShown.front();
        QVERIFY(alert.bOnInterfaceThread);
        QCOMPARE(alert.title, std::string("File Exists"));
        QCOMPARE(alert.message, std::string("The file: take2.wav already exists! Overwrite file?"));
        QCOMPARE(alert.defaultButton, std::string("Yes"));
        QCOMPARE(alert.alternateButton, std::string("No"));
        COMPARE_CONTROLS(duringQuestion, kPatching);
        QCOMPARE(outcomesBeforeQuestion, outcomes.mid(0, 1));
        QCOMPARE(nProgressShown, 67);
        QVERIFY(bCloseRefused);
        QVERIFY(storedDuringBatch.isValid());
        QCOMPARE(storedDuringBatch.toInt(), 0);
        QVERIFY(bDropRefused);
        QCOMPARE(nRowsDuringQuestion, 3);

        // After: the list emptied, start off until files are chosen again.
        COMPARE_CONTROLS(controlsOf(window), kAfterBatch);
        QCOMPARE(child<QTableWidget>(window, "fileTable")->rowCount(), 0);
        QCOMPARE(activityLines(window, "["), outcomes);
        QCOMPARE(activityLines(window, "UHOH").size(), bOverwrite ? 0 : 1);
        QCOMPARE(activityLines(window, "Deleting ").size(), bOverwrite ? 1 : 0);
        QCOMPARE(activityLines(window, "==========================================").size(), 1);
        QCOMPARE(beeps.size(), nBeeps);
        QCOMPARE(progressSpy.size(), progress.size());
        for (int i = 0; i < progress.size(); ++i)
            QCOMPARE(progressSpy.at(i).at(0).toDouble(), progress.at(i));
        QCOMPARE(child<QProgressBar>(window, "progressBar")->value(), qRound(progress.constLast()));

        // The files: sources untouched, copies repaired at 48 kHz, 16 bit.
        QCOMPARE(fixture::readFile(source / "take1.wav"), damaged(1));
        QCOMPARE(fixture::readFile(source / "take2.wav"), damaged(2));
        QCOMPARE(fixture::readFile(destination / "take1.wav"), repaired(1, 48000, 16));
        QCOMPARE(fixture::readFile(destination / "take2.wav"),
                 bOverwrite ? repaired(2, 48000, 16) : existing);
        const bool bGoodCopied = bOverwrite && !bCancel;
        QCOMPARE(fs::exists(destination / "good.wav"), bGoodCopied);
        if (bGoodCopied)
            QCOMPARE(fixture::readFile(destination / "good.wav"), good);
        // Nothing else is left behind in the destination.
        QCOMPARE(std::distance(fs::directory_iterator(destination.path()), {}),
                 bGoodCopied ? 3 : 2);
    }

    void nextBatchAfterChoosingFilesAgain()
    {
        TempDir source;
        TempDir destination;
        fixture::writeFile(source / "a.wav", damaged(3));
        fixture::writeFile(source / "b.WAV", damaged(4));
        ScriptedDialogs dialogs;
        MainWindow window(dialogs);
        child<QComboBox>(window, "sampleRateBox")->setCurrentIndex(3);
        child<QComboBox>(window, "resolutionBox")->setCurrentIndex(1);
        dialogs.panelAnswers.push_back(std::vector<std::string>{destination.path().string()});
        child<QPushButton>(window, "browseButton")->click();

        // Two batches, one file each: the second listed by a drop.
        QVERIFY(drop(window, {source / "a.wav"}));
        child<QPushButton>(window, "goButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window.controller().isPatching(), 30000);
        QVERIFY(drop(window, {source / "b.WAV"}));
        COMPARE_CONTROLS(controlsOf(window), kReady);
        child<QPushButton>(window, "goButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window.controller().isPatching(), 30000);

        QCOMPARE(fixture::readFile(destination / "a.wav"), repaired(3, 96000, 24));
        QCOMPARE(fixture::readFile(destination / "b.WAV"), repaired(4, 96000, 24));
        QCOMPARE(activityLines(window, "["),
                 (QStringList{"[repaired] a.wav: fmt chunk inserted behind bext",
                              "[repaired] b.WAV: fmt chunk inserted behind bext"}));
        QCOMPARE(dialogs.alertsShown.size(), 0u);
    }
};

KORVA_QTEST_MAIN(BatchTests)
#include "BatchTests.moc"
