// The Qt platform on its own: the log's form, the carrying of worker-thread
// calls to the interface thread, the settings store and the control adapters.
#include "QtPlatform.h"
#include "QtPopUpButton.h"
#include "QtTableView.h"
#include "QtTestMain.h"
#include "ScriptedDialogs.h"

#include <QComboBox>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryFile>

#include <atomic>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace
{
bool onInterfaceThread()
{
    return QThread::currentThread() == qApp->thread();
}

// Runs work on a thread of its own while the interface thread keeps its event
// loop going, as it does during a batch.
template <typename Work> bool runOnWorker(Work work)
{
    std::atomic<bool> bDone = false;
    std::thread worker(
        [&]
        {
            work();
            bDone = true;
        });
    const bool bFinished = QTest::qWaitFor([&] { return bDone.load(); }, 10000);
    worker.join();
    return bFinished;
}

// What standard error received while work ran.
template <typename Work> QByteArray standardErrorOf(Work work)
{
    QTemporaryFile capture;
    if (!capture.open())
        qFatal("no temporary file");
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(capture.handle(), STDERR_FILENO);
    work();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    capture.seek(0);
    return capture.readAll();
}

class Rows : public korva::TableDataSource
{
public:
    int numberOfRowsInTableView(const korva::TableView&) const override { return 2; }
    std::string objectValueForTableColumn(const korva::TableView&,
                                          std::string_view columnIdentifier, int row) const override
    {
        return std::string(columnIdentifier) + " " + std::to_string(row);
    }
};
} // namespace

class PlatformTests : public QObject
{
    Q_OBJECT

private slots:
    void init() { QSettings(QStringLiteral("Korva"), QStringLiteral("Korva")).clear(); }

    void logLinesCarryDateTimeAndProcess()
    {
        ScriptedDialogs dialogs;
        QtPlatform platform(dialogs, nullptr);
        QSignalSpy shown(&platform, &QtPlatform::lineLogged);
        const QByteArray written = standardErrorOf(
            [&]
            {
                platform.log("Start the thread");
                platform.log("Copying /a b/take 1.wav to /c/100%s.wav");
            });
        const QString pid = QString::number(QCoreApplication::applicationPid());
        const QStringList lines = QString::fromUtf8(written).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        const QRegularExpression form(
            QStringLiteral(
                "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} korva\\[%1\\] (.*)$")
                .arg(pid));
        QCOMPARE(form.match(lines[0]).captured(1), QStringLiteral("Start the thread"));
        // Taken literally, never as a format.
        QCOMPARE(form.match(lines[1]).captured(1),
                 QStringLiteral("Copying /a b/take 1.wav to /c/100%s.wav"));
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.at(1).at(0).toString(),
                 QStringLiteral("Copying /a b/take 1.wav to /c/100%s.wav"));
    }

    void workerCallsReachTheInterfaceThreadInOrder()
    {
        ScriptedDialogs dialogs;
        QtPlatform platform(dialogs, nullptr);
        QStringList seen;
        auto note = [&](const QString& what)
        { seen << what + (onInterfaceThread() ? "" : " (wrong thread)"); };
        connect(&platform, &QtPlatform::lineLogged, [&](const QString& l) { note("log " + l); });
        connect(&platform, &QtPlatform::progressReported,
                [&](double v) { note("progress " + QString::number(v)); });
        connect(&platform, &QtPlatform::fileReported, [&](const QString& l) { note(l); });
        connect(&platform, &QtPlatform::beeped, [&] { note("beep"); });

        korva::FileOutcome outcome;
        outcome.sourcePath = "/src/take1.wav";
        outcome.kind = korva::FileOutcome::Kind::Unchanged;
        outcome.detail = "no bext chunk";
        QVERIFY(runOnWorker(
            [&]
            {
                platform.log("first");
                platform.reportProgress(50.0);
                platform.reportFileOutcome(outcome);
                platform.beep();
                platform.runOnInterfaceThread([&] { note("reset"); });
                platform.log("last");
            }));
        QTRY_COMPARE(seen.size(), 6);
        QCOMPARE(seen,
                 (QStringList{"log first", "progress 50", "[unchanged] take1.wav: no bext chunk",
                              "beep", "reset", "log last"}));
    }

    void theWorkerWaitsForTheAnswerGivenOnTheInterfaceThread_data()
    {
        QTest::addColumn<bool>("bYes");
        QTest::newRow("Yes") << true;
        QTest::newRow("No") << false;
    }

    void theWorkerWaitsForTheAnswerGivenOnTheInterfaceThread()
    {
        QFETCH(bool, bYes);
        ScriptedDialogs dialogs;
        dialogs.onAlert = [bYes]
        { return bYes ? korva::AlertButton::Default : korva::AlertButton::Alternate; };
        QtPlatform platform(dialogs, nullptr);
        korva::AlertButton answer{};
        QVERIFY(runOnWorker(
            [&] { answer = platform.runAlertPanel("File Exists", "%@ %s", "Yes", "No"); }));
        QCOMPARE(answer, bYes ? korva::AlertButton::Default : korva::AlertButton::Alternate);
        QCOMPARE(dialogs.alertsShown.size(), 1u);
        QVERIFY(dialogs.alertsShown[0].bOnInterfaceThread);
        QCOMPARE(dialogs.alertsShown[0].message, std::string("%@ %s"));
    }

    void popUpSelectionReadFromAnyThread()
    {
        QComboBox comboBox;
        QtPopUpButton popUp(&comboBox);
        popUp.addItemWithTitle("44.1 kHz");
        popUp.addItemWithTitle("48 kHz");
        popUp.addItemWithTitle("88.2 kHz");
        const std::vector<std::pair<int, int>> selections = {{2, 2}, {0, 0}, {3, -1}, {-1, -1}};
        for (const auto& [nSelect, nExpected] : selections)
        {
            popUp.selectItemAtIndex(nSelect);
            QCOMPARE(popUp.indexOfSelectedItem(), nExpected);
            int nRead = -2;
            QVERIFY(runOnWorker([&] { nRead = popUp.indexOfSelectedItem(); }));
            QCOMPARE(nRead, nExpected);
        }
        popUp.removeAllItems();
        QCOMPARE(comboBox.count(), 0);
        QCOMPARE(popUp.indexOfSelectedItem(), -1);
    }

    void droppedPathsAnswerOnePanelOnly()
    {
        ScriptedDialogs dialogs;
        dialogs.panelAnswers.push_back(std::vector<std::string>{"/chosen.wav"});
        QtPlatform platform(dialogs, nullptr);
        platform.answerNextOpenPanel({"/dropped/a.wav", "/dropped/b.wav"});
        const korva::OpenPanelOptions files;
        QCOMPARE(platform.runOpenPanel(files),
                 (std::optional<std::vector<std::string>>{{"/dropped/a.wav", "/dropped/b.wav"}}));
        QVERIFY(dialogs.panelsShown.empty());
        QCOMPARE(platform.runOpenPanel(files),
                 (std::optional<std::vector<std::string>>{{"/chosen.wav"}}));
        QCOMPARE(platform.runOpenPanel(files), std::optional<std::vector<std::string>>{});
        QCOMPARE(dialogs.panelsShown.size(), 2u);
    }

    void settingsSurviveTheNextRun()
    {
        ScriptedDialogs dialogs;
        {
            QtPlatform platform(dialogs, nullptr);
            QVERIFY(!platform.hasDefault("SampleRate"));
            QCOMPARE(platform.integerForKey("SampleRate"), 0);
            platform.setIntegerForKey("SampleRate", 4);
            platform.setIntegerForKey("Resolution", -7);
        }
        QtPlatform next(dialogs, nullptr);
        QVERIFY(next.hasDefault("SampleRate"));
        QCOMPARE(next.integerForKey("SampleRate"), 4);
        QCOMPARE(next.integerForKey("Resolution"), -7);
        QCOMPARE(QSettings(QStringLiteral("Korva"), QStringLiteral("Korva")).value("SampleRate"),
                 QVariant(4));
    }

    void tableShowsItsDataSourceByColumnIdentifier()
    {
        QTableWidget table(0, 3);
        table.setProperty("columnIdentifiers", QStringList{"FileName", "FilePath"});
        QtTableView view(&table);
        Rows rows;
        view.setDataSource(&rows);
        QCOMPARE(table.rowCount(), 2);
        QCOMPARE(table.item(1, 0)->text(), QStringLiteral("FileName 1"));
        QCOMPARE(table.item(0, 1)->text(), QStringLiteral("FilePath 0"));
        // A column without an identifier asks with an empty one.
        QCOMPARE(table.item(0, 2)->text(), QStringLiteral(" 0"));
        QVERIFY(!(table.item(0, 0)->flags() & Qt::ItemIsEditable));
        view.setDataSource(nullptr);
        QCOMPARE(table.rowCount(), 0);
    }
};

KORVA_QTEST_MAIN(PlatformTests)
#include "PlatformTests.moc"
