// The Qt layer: the window from its form, settings in QSettings, quitting, real
// batches watched throughout, the platform's log and worker-thread calls, and
// the desktop's own panel and alert.
#include "MainWindow.h"
#include "QtTestSupport.h"
#include "TempDir.h"
#include "WavBuilder.h"
#include "WidgetDialogs.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryFile>
#include <QTimer>

#include <thread>
#include <unistd.h>

using namespace fixture;

namespace
{
const auto stored = [] { return QSettings(QStringLiteral("Korva"), QStringLiteral("Korva")); };

// A pop-up's items, the selected one in brackets.
QString popUp(QObject& window, const char* name)
{
    auto* box = child<QComboBox>(window, name);
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << (i == box->currentIndex() ? '[' + box->itemText(i) + ']' : box->itemText(i));
    return items.join(", ");
}

// The names of the enabled batch controls, then the quit button's title.
QString controlsOf(MainWindow& window)
{
    QString shown;
    for (const char* name : {"goButton", "browseButton", "selectFilesButton", "sampleRateBox",
                             "resolutionBox", "actionQuit"})
        if (child<QObject>(window, name)->property("enabled").toBool())
            shown += QString(name) + ' ';
    return shown + child<QPushButton>(window, "quitButton")->text();
}
const QString kChoosers = "browseButton selectFilesButton sampleRateBox resolutionBox actionQuit ";

// The file list's rows, "name | folder", flagged when the user may edit them.
QStringList listed(MainWindow& window)
{
    auto* table = child<QTableWidget>(window, "fileTable");
    QStringList rows;
    for (int row = 0; row < table->rowCount(); ++row)
        rows << table->item(row, 0)->text() + " | " + table->item(row, 1)->text() +
                    (table->item(row, 0)->flags() & Qt::ItemIsEditable ? " (editable)" : "");
    return rows;
}

// The activity pane's lines that match pattern.
QStringList activity(MainWindow& window, const char* pattern)
{
    const QString text = child<QPlainTextEdit>(window, "activityText")->toPlainText();
    return text.split('\n').filter(QRegularExpression(pattern));
}

// A take behind a bext chunk: damaged (no fmt chunk) or repaired at 48 kHz, 16 bit.
Bytes take(uint32_t seed, bool bRepaired = false)
{
    return riff({chunk("bext", bextBody(seed)), bRepaired ? fmtChunkMono(48000, 16) : Bytes{},
                 chunk("data", samples(4000, seed))});
}

// Runs act on the modal dialog of type T as soon as the event loop shows it.
template <typename T> void whenShown(std::function<void(T&)> act)
{
    QTimer::singleShot(0, [act] { act(*qobject_cast<T*>(QApplication::activeModalWidget())); });
}
} // namespace

class WindowTests : public QObject
{
    Q_OBJECT

private slots:
    void init() { stored().clear(); }

    void formLoadsWithEveryOutletConnectedAndTheFirstRunsSettings()
    {
        ScriptedDialogs dialogs;
        MainWindow window(dialogs);
        AppController& c = window.controller();
        const std::vector<std::pair<const char*, std::vector<korva::Control*>>> outlets = {
            {"quitButton", {c.ChangeCancelState, c.ChangeQuitState, c.QuitButton}},
            {"goButton", {c.ChangeGoState}},
            {"browseButton", {c.ChangeBrowseState}},
            {"selectFilesButton", {c.ChangeSelButtonState, c.SelectFilesButton}},
            {"sampleRateBox", {c.ChangeSRState, c.sampleRate}},
            {"resolutionBox", {c.ChangeResState, c.resolution}},
            {"actionQuit", {c.ChangeQuitMenuItemState}}};
        for (const auto& [name, controls] : outlets)
            for (korva::Control* outlet : controls)
                for (const bool bEnabled : {false, true})
                {
                    QVERIFY2(outlet, name);
                    outlet->setEnabled(bEnabled);
                    QVERIFY2(child<QObject>(window, name)->property("enabled") == bEnabled, name);
                }
        QCOMPARE(c.ChangeQuitMenuItemState->action(), korva::MenuAction::Terminate);
        QCOMPARE(child<QLabel>(window, "statusLabel")->text(),
                 "Please set the path to save the repaired files.");
        child<QAction>(window, "actionQuit")->setEnabled(false);
        emit child<QMenu>(window, "menuFile")->aboutToShow();
        QVERIFY(child<QAction>(window, "actionQuit")->isEnabled());

        // The first run shows and stores the defaults, in the temporary folder.
        QCOMPARE(popUp(window, "sampleRateBox"), "[44.1 kHz], 48 kHz, 88.2 kHz, 96 kHz, 128 kHz");
        QCOMPARE(popUp(window, "resolutionBox"), "16 bit, [24 bit]");
        QVERIFY(stored().fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME") + '/'));
        // A stored index past the end selects no item.
        stored().setValue("SampleRate", 5);
        MainWindow next(dialogs);
        QCOMPARE(popUp(next, "sampleRateBox"), "44.1 kHz, 48 kHz, 88.2 kHz, 96 kHz, 128 kHz");
    }

    void panelGivesTheConfirmedPaths_data()
    {
        QTest::addColumn<bool>("bFolder");
        QTest::addColumn<bool>("bConfirm");
        QTest::addColumn<QString>("shownAndChosen");
        QTest::newRow("files") << false << true << "ExistingFiles read-only: b.WAV c.aif";
        QTest::newRow("folder") << true << true << "Directory: Repaired";
        QTest::newRow("cancelled") << false << false << "ExistingFiles read-only: cancelled";
    }

    void panelGivesTheConfirmedPaths()
    {
        QFETCH(bool, bFolder);
        QFETCH(bool, bConfirm);
        TempDir folder;
        for (const char* name : {"a.wav", "b.WAV", "c.aif"})
            writeFile(folder / name, ascii("RIFF"));
        std::filesystem::create_directory(folder / "Repaired");
        korva::OpenPanelOptions options;
        options.bCanChooseFiles = options.bAllowsMultipleSelection = !bFolder;
        options.bCanChooseDirectories = options.bCanCreateDirectories = bFolder;
        QString shown;
        whenShown<QFileDialog>(
            [&](QFileDialog& dialog)
            {
                shown = QVariant::fromValue(dialog.fileMode()).toString() +
                        (dialog.testOption(QFileDialog::ReadOnly) ? " read-only" : "") + ":";
                dialog.setDirectory(QString::fromStdString(folder.path().string()));
                dialog.selectFile(bFolder ? "Repaired" : "\"b.WAV\" \"c.aif\"");
                bConfirm ? static_cast<QDialog&>(dialog).accept() : dialog.reject();
            });
        const auto chosen = WidgetDialogs().openPanel(nullptr, options);
        for (const std::string& path : chosen.value_or(std::vector<std::string>{}))
            shown += ' ' + QString::fromStdString(
                               std::filesystem::relative(path, folder.path()).string());
        QTEST(shown + (chosen ? "" : " cancelled"), "shownAndChosen");
    }

    // Return answers with the default button, Escape with the other.
    void alertAnswersByKey()
    {
        const std::string message = "The file: <b>a&b</b>.wav already exists! Overwrite file?";
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape})
        {
            QString shown;
            whenShown<QMessageBox>(
                [&](QMessageBox& box)
                {
                    // Plain text: a file name is never taken for markup.
                    shown = box.windowTitle() + " | " + box.text() + " | default " +
                            box.defaultButton()->text() + ", escape " + box.escapeButton()->text() +
                            (box.textFormat() == Qt::PlainText ? ", plain text" : "");
                    QTest::keyClick(&box, key);
                });
            QCOMPARE(WidgetDialogs().alert(nullptr, "File Exists", message, {"Yes", "No"}),
                     key == Qt::Key_Return ? 0 : 1);
            QCOMPARE(shown, "File Exists | " + QString::fromStdString(message) +
                                " | default Yes, escape No, plain text");
        }
    }

    void quittingStoresTheSelectionsAndEndsTheMainLoop_data()
    {
        QTest::addColumn<QString>("how");
        // Ctrl+Q is the Quit menu item's shortcut: it triggers that item.
        for (const char* how : {"Ctrl+Q", "quit button", "closing the window"})
            QTest::newRow(how) << how;
    }

    void quittingStoresTheSelectionsAndEndsTheMainLoop()
    {
        QFETCH(QString, how);
        ScriptedDialogs dialogs;
        {
            MainWindow window(dialogs);
            window.show();
            QVERIFY(QTest::qWaitForWindowActive(&window));
            child<QComboBox>(window, "sampleRateBox")->setCurrentIndex(4);
            child<QComboBox>(window, "resolutionBox")->setCurrentIndex(0);
            QTimer::singleShot(0, &window,
                               [&]
                               {
                                   if (how == "Ctrl+Q")
                                       QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
                                   else if (how == "quit button")
                                       child<QPushButton>(window, "quitButton")->click();
                                   else
                                       window.close();
                               });
            // A main loop that does not end fails the test instead of hanging it.
            QTimer::singleShot(10000, [] { QCoreApplication::exit(1); });
            QCOMPARE(QApplication::exec(), 0);
            QVERIFY(!window.isVisible());
        }
        MainWindow next(dialogs);
        QCOMPARE(popUp(next, "sampleRateBox"), "44.1 kHz, 48 kHz, 88.2 kHz, 96 kHz, [128 kHz]");
        QCOMPARE(popUp(next, "resolutionBox"), "[16 bit], 24 bit");
    }

    // The destination already holds a take2.wav, so the batch asks before it
    // overwrites it; while the question is up the user tries to close, drop and,
    // when overwriting, stop. Either way the batch ends before take3.
    void batchOverAnExistingFileThenADroppedOne_data()
    {
        QTest::addColumn<bool>("bOverwrite");
        QTest::addColumn<QString>("take2Outcome");
        QTest::addColumn<int>("nBeeps"); // the question's, the refused close's, a stop's
        QTest::newRow("overwrite, then stop")
            << true << "[repaired] take2.wav: format chunk inserted behind bext" << 3;
        QTest::newRow("keep the existing file")
            << false << "[failed] take2.wav: Not copied: the existing file was kept" << 2;
    }

    void batchOverAnExistingFileThenADroppedOne()
    {
        QFETCH(bool, bOverwrite);
        QFETCH(QString, take2Outcome);
        const QString take1Outcome = "[repaired] take1.wav: format chunk inserted behind bext";
        TempDir source, destination;
        const Bytes existing = ascii("an older take2");
        writeFile(source / "take1.wav", take(1));
        writeFile(source / "take2.wav", take(2));
        writeFile(source / "take3.wav", take(3));
        writeFile(destination / "take2.wav", existing);

        ScriptedDialogs dialogs;
        MainWindow window(dialogs);
        QSignalSpy beeps(&window.platform(), &QtPlatform::beeped);
        child<QComboBox>(window, "sampleRateBox")->setCurrentIndex(1);
        child<QComboBox>(window, "resolutionBox")->setCurrentIndex(0);
        dialogs.panelAnswers = {{source / "take1.wav", source / "take2.wav", source / "take3.wav"},
                                {destination.path()}};
        child<QPushButton>(window, "selectFilesButton")->click();
        child<QPushButton>(window, "browseButton")->click();
        const QString folder = " | " + QString::fromStdString(source.path().string());
        const QStringList rows = {"take1.wav" + folder, "take2.wav" + folder, "take3.wav" + folder};
        QCOMPARE(listed(window), rows);
        QCOMPARE(child<QPlainTextEdit>(window, "pathText")->toPlainText(),
                 QString::fromStdString(destination.path().string()));
        // Several files, then a folder, which the panel may create.
        QVERIFY(dialogs.panelsShown[0].bAllowsMultipleSelection &&
                dialogs.panelsShown[1].bCanCreateDirectories);
        QCOMPARE(controlsOf(window), "goButton " + kChoosers + "Quit");

        QStringList duringQuestion;
        dialogs.onAlert = [&]
        {
            duringQuestion << controlsOf(window) << activity(window, "^\\[")
                           << QString::number(child<QProgressBar>(window, "progressBar")->value())
                           << (window.close() ? "closed" : "close refused")
                           // A refused quit stores nothing: the first run's defaults stay.
                           << "stored " + stored().value("SampleRate").toString() + ' ' +
                                  stored().value("Resolution").toString()
                           << (drop(window, {source / "take3.wav"}) ? "dropped" : "drop refused")
                           << listed(window).join(", ");
            if (bOverwrite)
                child<QPushButton>(window, "quitButton")->click();
            return bOverwrite ? 0 : 3;
        };
        child<QPushButton>(window, "goButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window.controller().isPatching(), 30000);
        QCOMPARE(dialogs.alertsShown,
                 QStringList{"File Exists | The file: take2.wav already exists! Overwrite file? | "
                             "Yes | No"});
        QCOMPARE(duringQuestion, (QStringList{"Cancel", take1Outcome, "67", "close refused",
                                              "stored 0 1", "drop refused", rows.join(", ")}));

        // After: the list emptied, start off until files are chosen again.
        QCOMPARE(controlsOf(window), kChoosers + "Quit");
        QCOMPARE(listed(window), QStringList{});
        QCOMPARE(activity(window, "^\\["), (QStringList{take1Outcome, take2Outcome}));
        QCOMPARE(activity(window, "^=+$").size(), 1);
        QTEST(int(beeps.size()), "nBeeps");
        QCOMPARE(readFile(destination / "take1.wav"), take(1, true));
        QCOMPARE(readFile(destination / "take2.wav"), bOverwrite ? take(2, true) : existing);

        // A next batch in the same window, its files dropped: listed as a
        // chooser would list them, with no panel shown.
        QVERIFY(drop(window, {source / "take3.wav", source / "notes.aif"},
                     {QUrl("http://localhost/elsewhere.wav")}));
        QCOMPARE(listed(window), QStringList{"take3.wav" + folder});
        QCOMPARE(dialogs.panelsShown.size(), 2);
        child<QPushButton>(window, "goButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window.controller().isPatching(), 30000);
        QCOMPARE(readFile(destination / "take3.wav"), take(3, true));
        // The drop answered only itself: the next chooser shows its panel.
        child<QPushButton>(window, "selectFilesButton")->click();
        QCOMPARE(dialogs.panelsShown.size(), 3);
    }

    void workerCallsReachTheInterfaceThreadInOrderAndLogToStandardError()
    {
        ScriptedDialogs dialogs;
        QtPlatform platform(dialogs, nullptr);
        QStringList seen;
        auto note = [&](const QString& what)
        { seen << what + (QThread::currentThread() == qApp->thread() ? "" : " (wrong thread)"); };
        connect(&platform, &QtPlatform::lineLogged, [&](const QString& l) { note("log " + l); });
        connect(&platform, &QtPlatform::progressReported,
                [&](double v) { note("progress " + QString::number(v)); });
        connect(&platform, &QtPlatform::fileReported, [&](const QString& l) { note(l); });
        connect(&platform, &QtPlatform::beeped, [&] { note("beep"); });
        const QString copying = "Copying /a b/take 1.wav to /c/100%s.wav";
        QTemporaryFile capture;
        QVERIFY(capture.open());
        const int saved = dup(STDERR_FILENO);
        dup2(capture.handle(), STDERR_FILENO);
        std::thread worker(
            [&]
            {
                platform.log("first");
                platform.reportProgress(50.0);
                platform.reportFileOutcome(
                    0,
                    {"/src/take1.wav", "", korva::FileOutcome::Kind::Unchanged, "no bext chunk"});
                platform.beep();
                platform.runOnInterfaceThread([&] { note("reset"); });
                platform.log(copying.toStdString());
            });
        worker.join();
        dup2(saved, STDERR_FILENO);
        close(saved);
        capture.seek(0);
        // Standard error got each line at once, whole, as "<date time>
        // korva[pid] <line>", the line taken literally.
        QStringList lines = QString::fromUtf8(capture.readAll()).split('\n', Qt::SkipEmptyParts);
        const QRegularExpression form(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} korva\\[%1\\] ")
                .arg(QCoreApplication::applicationPid()));
        for (QString& line : lines)
            QVERIFY2(line.contains(form) && !line.remove(form).isEmpty(), qPrintable(line));
        QCOMPARE(lines, (QStringList{"first", copying}));
        QTRY_COMPARE(
            seen, (QStringList{"log first", "progress 50", "[unchanged] take1.wav: no bext chunk",
                               "beep", "reset", "log " + copying}));
    }
};

int main(int argc, char** argv)
{
    QTemporaryDir configHome; // the per-user settings' folder, set before anything opens it
    qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false); // a test's closed window ends no later dialog
    WindowTests test;
    return QTest::qExec(&test, argc, argv);
}

#include "WindowTests.moc"
