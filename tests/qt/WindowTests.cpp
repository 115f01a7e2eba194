// The Qt layer: the window, QSettings, quitting, real batches, the command line and
// the desktop's own panel, question and About box.
#include "CommandLine.h"
#include "KorvaVersion.h"
#include "MainWindow.h"
#include "QtTestSupport.h"
#include "TakeStream.h"
#include "TempDir.h"
#include "WavBuilder.h"
#include "WidgetDialogs.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryFile>
#include <QTimer>

#include <unistd.h>

using namespace fixture;

namespace
{
const auto stored = [] { return QSettings(QStringLiteral("Korva"), QStringLiteral("Korva")); };

QString text(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

// A pop-up's selected item and its place: "48 kHz (2 of 13)"; the controller's
// tests check each item.
QString popUp(QObject& window, const char* name)
{
    auto* box = child<QComboBox>(window, name);
    return QString("%1 (%2 of %3)")
        .arg(box->currentText())
        .arg(box->currentIndex() + 1)
        .arg(box->count());
}

// The names of the enabled batch controls, then the quit button's title.
QString controlsOf(MainWindow& window)
{
    QString shown;
    for (const char* name : {"goButton", "browseButton", "selectFilesButton", "sampleRateBox",
                             "resolutionBox", "channelsBox", "actionQuit"})
        if (child<QObject>(window, name)->property("enabled").toBool())
            shown += QString(name) + ' ';
    return shown + child<QPushButton>(window, "quitButton")->text().remove('&');
}
const QString kChoosers =
    "browseButton selectFilesButton sampleRateBox resolutionBox channelsBox actionQuit ";

// The file table's rows, "name | format | result: tooltip | folder" or the
// columns asked for, flagged when the user may edit a cell.
QStringList listed(MainWindow& window,
                   const QStringList& columns = {"FileName", "Format", "Result", "FilePath"})
{
    auto* table = child<QTableWidget>(window, "fileTable");
    const QStringList identifiers = table->property("columnIdentifiers").toStringList();
    QStringList rows;
    for (int row = 0; row < table->rowCount(); ++row)
        for (const QString& identifier : columns)
        {
            const int column = identifiers.indexOf(identifier);
            const QTableWidgetItem* item = table->item(row, column);
            const QString cell = item->text() + (item->toolTip().isEmpty() ? "" : ": ") +
                                 item->toolTip() +
                                 (item->flags() & Qt::ItemIsEditable ? " (editable)" : "");
            identifier == columns[0] ? void(rows << cell) : void(rows.last() += " | " + cell);
        }
    return rows;
}

// The offscreen platform does not give a window its activation back when a
// menu or a message box closes; shortcuts need it.
void reactivate(QWidget& window)
{
    window.activateWindow();
    QTRY_VERIFY(QApplication::activeWindow() == &window);
}

// The status line, then the progress bar's text.
QString status(MainWindow& window)
{
    return child<QLabel>(window, "statusLabel")->text() + ' ' +
           child<QProgressBar>(window, "progressBar")->text();
}

// A take behind a bext chunk and 24 zero bytes where its fmt chunk stood,
// with real audio. The CodingHistory of take 1 says 44.1 kHz.
Bytes take(uint32_t seed)
{
    const Bytes bext =
        seed == 1 ? bextEvidence("", 0, "A=PCM,F=44100,W=16,M=mono,T=Tape\r\n") : bextBody(seed);
    return riff({chunk("bext", bext), Bytes(24, 0), chunk("data", tone(2000, 1, 16, false, seed))});
}

} // namespace

class WindowTests : public QObject
{
    Q_OBJECT

private slots:
    void init() { stored().clear(); }

    // Every other outlet is seen switching its control in the batch test.
    void formLoadsWithTheFirstRunsSettingsAndHelpAbout()
    {
        ScriptedDialogs dialogs;
        MainWindow window(dialogs);
        QCOMPARE(window.controller().ChangeQuitMenuItemState->action(),
                 korva::MenuAction::Terminate);
        QCOMPARE(status(window),
                 "Choose the damaged WAV files, then the folder for the repaired copies. 0%");
        child<QAction>(window, "actionQuit")->setEnabled(false);
        emit child<QMenu>(window, "menuFile")->aboutToShow();
        QVERIFY(child<QAction>(window, "actionQuit")->isEnabled());

        QString about;
        whenShown<QMessageBox>([&](QMessageBox& box)
                               { about = box.windowTitle() + '\n' + box.text(), box.accept(); });
        child<QMenu>(window, "menuHelp")->actions().value(0)->trigger();
        QCOMPARE(about, QString("About Korva\nKorva %1\n\nKorva rescues Broadcast Wave recordings "
                                "whose format chunk was lost: it copies each file into a folder "
                                "you choose and writes a new format chunk into the copy, leaving "
                                "the original untouched.\n\n%2\n%3")
                            .arg(korva::kVersion, korva::kCopyright, korva::kLicenceSummary));

        // The first run stores its defaults (AppControllerSettings.FirstRun), in the temporary
        // folder.
        QVERIFY(stored().fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME") + '/'));
        // A stored index past the end selects no item.
        stored().setValue("SampleRate", 13);
        MainWindow next(dialogs);
        QCOMPARE(popUp(next, "sampleRateBox"), " (0 of 13)");
    }

    // Every action is in the File menu and on the keyboard: each button and
    // pop-up has a mnemonic of its own, and the items, their shortcuts and the
    // mnemonics reach the controller (the panel it opens, the folder it shows,
    // the batch it starts or stops).
    void everyActionIsInTheFileMenuAndOnTheKeyboard()
    {
        ScriptedDialogs dialogs;
        MainWindow window(dialogs);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        // The quit button's title during a batch, as the controller sets it.
        window.controller().QuitButton->setTitle("Cancel");
        QStringList keys, unmarked;
        for (QPushButton* button : window.findChildren<QPushButton*>())
            keys << QKeySequence::mnemonic(button->text()).toString();
        window.controller().QuitButton->setTitle("Quit");
        keys << QKeySequence::mnemonic(child<QPushButton>(window, "quitButton")->text()).toString();
        for (QLabel* label : window.findChildren<QLabel*>())
            if (label->buddy())
                keys << QKeySequence::mnemonic(label->text()).toString();
        for (QAction* menu : window.menuBar()->actions())
            keys << QKeySequence::mnemonic(menu->text()).toString();
        QCOMPARE(keys.count(QString()), 0);
        QCOMPARE(QSet<QString>(keys.begin(), keys.end()).size(), keys.size());

        QMenu* menu = child<QMenu>(window, "menuFile");
        QStringList items;
        for (const QAction* item : menu->actions())
            if (!item->isSeparator())
                items << item->text() + ' ' + item->shortcut().toString();
        QCOMPARE(items, (QStringList{"Choose &Files… Ctrl+O", "Choose F&older… Ctrl+Shift+O",
                                     "Choose &Destination… Ctrl+D", "&Start Ctrl+Return",
                                     "&Cancel ", "&Retry Ctrl+R", "O&pen Destination ",
                                     "&Export Report… Ctrl+E", "&Quit Ctrl+Q"}));

        TempDir source, destination;
        for (const char* name : {"take1.wav", "take2.wav"})
            writeFile(source / name, take(2));
        writeFile(destination / "take1.wav", ascii("an older take"));
        dialogs.panelAnswers = {
            {source / "take1.wav"}, {source.path()}, {destination.path()}, {source / "take2.wav"}};
        const auto press = [&](const QKeySequence& keys)
        {
            QTest::keySequence(&window, keys);
            return dialogs.panelsShown.empty()
                       ? QString()
                       : QString::fromStdString(dialogs.panelsShown.back().title);
        };
        QCOMPARE(press(QKeySequence("Ctrl+O")), "Choose the damaged WAV files");
        QCOMPARE(listed(window).size(), 1);
        QCOMPARE(press(QKeySequence("Ctrl+Shift+O")), "Choose a card, or a folder of takes");
        QCOMPARE(listed(window).size(), 2);
        QCOMPARE(press(QKeySequence("Ctrl+D")), "Choose the destination folder");
        QVERIFY(status(window).startsWith("Ready: 2 files"));
        // A button's mnemonic presses it (in a moment, as a click is shown).
        press(QKeySequence("Alt+I"));
        QTRY_COMPARE(dialogs.panelsShown.size(), 4);
        QCOMPARE(dialogs.panelsShown.back().title, "Choose the damaged WAV files");
        QCOMPARE(listed(window).size(), 1);
        press(QKeySequence("Ctrl+Shift+O")); // cancelled: the list stays
        QCOMPARE(listed(window).size(), 1);
        dialogs.panelAnswers = {{source.path()}};
        press(QKeySequence("Ctrl+Shift+O"));

        // The menu opened from the keyboard, and an item chosen by its mnemonic.
        QTest::keyClick(&window, Qt::Key_F, Qt::AltModifier);
        QTRY_VERIFY(QApplication::activePopupWidget() == menu);
        QTest::keyClick(menu, Qt::Key_P);
        QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
        reactivate(window);
        QTest::keyClick(&window, Qt::Key_P, Qt::AltModifier);
        QTRY_COMPARE(dialogs.foldersShown, QStringList(2, text(destination.path())));

        // The batch by its shortcut, stopped from the menu while the question is up.
        dialogs.onAlert = [&]
        {
            emit menu->aboutToShow();
            const QString before =
                QString::number(child<QAction>(window, "actionCancel")->isEnabled());
            child<QAction>(window, "actionCancel")->trigger();
            QCoreApplication::processEvents();
            dialogs.alertsShown << before + ' ' + status(window);
            return 2; // Skip
        };
        press(QKeySequence("Ctrl+Return"));
        QTRY_VERIFY_WITH_TIMEOUT(!window.controller().isPatching(), 30000);
        QCOMPARE(dialogs.alertsShown.last(), "1 Stopping after the current file… 0%");
        QCOMPARE(status(window), "Done: 1 skipped, 1 not processed. 50%");
        emit menu->aboutToShow();
        QVERIFY(!child<QAction>(window, "actionCancel")->isEnabled());

        // The batch's report, as text to read, where the save panel says.
        dialogs.saveAnswer = destination / "report.txt";
        reactivate(window);
        press(QKeySequence("Ctrl+E"));
        QCOMPARE(dialogs.savePanelsShown.size(), 1);
        QCOMPARE(status(window),
                 "The report is written to " + text(destination / "report.txt") + ". 50%");
        QVERIFY(readFile(destination / "report.txt").size() > 0);
    }

    void panelGivesTheConfirmedPaths_data()
    {
        QTest::addColumn<bool>("bFolder");
        QTest::addColumn<bool>("bConfirm");
        QTest::addColumn<QString>("shownAndChosen");
        const QString files = "ExistingFiles read-only [WAV files (*.wav *.WAV); All files (*)]:";
        QTest::newRow("files") << false << true << files + " b.WAV c.aif";
        QTest::newRow("folder") << true << true << "Directory [All Files (*)]: Repaired";
        QTest::newRow("cancelled") << false << false << files + " cancelled";
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
                        (dialog.testOption(QFileDialog::ReadOnly) ? " read-only" : "") + " [" +
                        dialog.nameFilters().join("; ") + "]:";
                dialog.setDirectory(text(folder.path()));
                dialog.selectFile(bFolder ? "Repaired" : "\"b.WAV\" \"c.aif\"");
                bConfirm ? static_cast<QDialog&>(dialog).accept() : dialog.reject();
            });
        const auto chosen = WidgetDialogs().openPanel(nullptr, options);
        for (const std::string& path : chosen.value_or(std::vector<std::string>{}))
            shown += ' ' + text(std::filesystem::relative(path, folder.path()));
        QTEST(shown + (chosen ? "" : " cancelled"), "shownAndChosen");
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
            child<QComboBox>(window, "sampleRateBox")->setCurrentIndex(7);
            child<QComboBox>(window, "resolutionBox")->setCurrentIndex(1);
            child<QComboBox>(window, "channelsBox")->setCurrentIndex(64);
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
        // The stored indexes keep the meaning they always had, whatever place an item takes.
        QCOMPARE(stored().value("SampleRate").toString() + ' ' +
                     stored().value("Resolution").toString() + ' ' +
                     stored().value("Channels").toString(),
                 "4 0 12");
        MainWindow next(dialogs);
        QCOMPARE(popUp(next, "sampleRateBox"), "128 kHz (8 of 13)");
        QCOMPARE(popUp(next, "resolutionBox"), "16 bit (2 of 7)");
        QCOMPARE(popUp(next, "channelsBox"), "From the file (65 of 65)");
    }

    // Five takes at 48 kHz, 16 bit, mono: take1's CodingHistory says 44.1 kHz,
    // take3 already has a format chunk, the destination holds a take2 and a
    // take3, take4 is gone when Start is pressed. Every overwrite question, in
    // the desktop's own box, gets the row's answer (Yes by Return, Skip by a
    // click); while the first is up the user tries to close, to drop and, in
    // one row, to stop. The controller's tests go through every answer.
    void batchKeepsEveryRowWithItsOutcome_data()
    {
        QTest::addColumn<int>("nAnswer"); // Yes or Skip
        QTest::addColumn<bool>("bCancel");
        QTest::addColumn<QStringList>("asked");   // the status and the bar at each question
        QTest::addColumn<QStringList>("results"); // take1 to take5: "result: tooltip"
        QTest::addColumn<QString>("summary");     // the status and the bar at the end
        QTest::addColumn<int>("nBeeps");          // the questions', the refused close's, a stop's
        const QString
            fixed = "repaired: format chunk written over the remains of the lost one at "
                    "622: 48000 Hz, 16 bit, mono",
            warned = "repaired with warnings: format chunk written over the remains of "
                     "the lost one at 656: 48000 Hz, 16 bit, mono — warning: written as 48000 Hz; "
                     "CodingHistory says 44100 Hz",
            intact = "unchanged: already has a format chunk",
            gone = "failed: it is no longer there (moved, renamed, or its card removed?)",
            kept = ": the file already in the destination was kept",
            stopped = "not processed: the batch stopped before it",
            take2 = "Repairing take2.wav (2 of 5)… 20%";
        QTest::newRow("Skip goes on")
            // The close refused at the first question is said until the batch ends.
            << 2 << false
            << QStringList{take2, "A batch is running: Cancel stops it after the current file 40%"}
            << QStringList{warned, "skipped" + kept, "skipped" + kept, gone, fixed}
            << "Done: 1 repaired, 1 repaired with warnings, 1 failed, 2 skipped. 100%" << 3;
        QTest::newRow("Yes, then Cancel")
            << 0 << true << QStringList{take2, "Stopping after the current file… 20%"}
            << QStringList{warned, fixed, stopped, gone, stopped}
            << "Done: 1 repaired, 1 repaired with warnings, 1 failed, 2 not processed. 40%" << 3;
    }

    void batchKeepsEveryRowWithItsOutcome()
    {
        QFETCH(int, nAnswer);
        QFETCH(bool, bCancel);
        QFETCH(QStringList, results);
        TempDir source, destination;
        const auto in = [](const TempDir& folder, const QString& name)
        { return folder / name.toStdString(); };
        // take1's name would be misread as a printf format.
        const QStringList names = {"take1 100%s.wav", "take2.wav", "take3.wav", "take4.wav",
                                   "take5.wav"};
        for (uint32_t i = 0; i < 5; ++i)
            writeFile(in(source, names[i]), i == 2 ? bwf(48000, 16, tone(2000)) : take(i + 1));
        for (const int i : {1, 2})
            writeFile(in(destination, names[i]), ascii("an older take"));
        const QString olderTime =
            QFileInfo(text(in(destination, names[1]))).lastModified().toString("yyyy-MM-dd HH:mm");

        ScriptedDialogs dialogs;
        MainWindow window(dialogs);
        QSignalSpy beeps(&window.platform(), &QtPlatform::beeped);
        child<QComboBox>(window, "sampleRateBox")->setCurrentIndex(3);
        child<QComboBox>(window, "resolutionBox")->setCurrentIndex(1);
        dialogs.panelAnswers = {{}, {destination.path()}};
        for (const QString& name : names)
            dialogs.panelAnswers[0].push_back(in(source, name));
        child<QPushButton>(window, "selectFilesButton")->click();
        child<QPushButton>(window, "browseButton")->click();
        QCOMPARE(status(window), "Ready: 5 files; 1 of them says another format than the one "
                                 "chosen: see the Format column 0%");
        // Several files, then a folder, which the panel may create.
        QVERIFY(dialogs.panelsShown[0].bAllowsMultipleSelection &&
                dialogs.panelsShown[1].bCanCreateDirectories);
        QCOMPARE(controlsOf(window), "goButton " + kChoosers + "Quit");
        // The Format column tells before Start what the batch will write.
        const QString plain = "48000 Hz, 16 bit, mono";
        const QStringList formats = {
            plain + " — warning: written as 48000 Hz; CodingHistory says 44100 Hz", plain,
            "has its own format chunk", plain, plain};
        const auto rowsWith = [&](QStringList shown)
        {
            for (int i = 0; i < 5; ++i)
                shown[i] =
                    names[i] + " | " + formats[i] + " | " + shown[i] + " | " + text(source.path());
            return shown;
        };
        QCOMPARE(listed(window), rowsWith({"", "", "", "", ""}));
        std::filesystem::remove(in(source, "take4.wav"));

        QStringList asked, duringFirst;
        dialogs.onAlert = [&]
        {
            asked << status(window);
            if (asked.size() == 1)
                duringFirst << controlsOf(window) << listed(window)
                            << (window.close() ? "closed" : "close refused")
                            // A refused quit stores nothing: the first run's defaults stay.
                            << "stored " + stored().value("SampleRate").toString() + ' ' +
                                   stored().value("Resolution").toString()
                            << (drop(window, {in(source, "take5.wav")}) ? "dropped"
                                                                        : "drop refused");
            if (bCancel)
            {
                child<QPushButton>(window, "quitButton")->click();
                QCoreApplication::processEvents();
                asked << status(window);
            }
            return nAnswer;
        };
        QTemporaryFile standardError;
        QVERIFY(standardError.open());
        const int saved = dup(STDERR_FILENO);
        dup2(standardError.handle(), STDERR_FILENO);
        const auto restore = qScopeGuard([saved] { dup2(saved, STDERR_FILENO), close(saved); });
        child<QPushButton>(window, "goButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window.controller().isPatching(), 30000);
        QTEST(asked, "asked");
        // The question keeps its words, says what it would replace with what,
        // and what each answer does.
        const auto sizeAndDate = [](const std::filesystem::path& file)
        {
            const QFileInfo info(text(file));
            return QLocale(QLocale::English).toString(info.size()) + " bytes, modified " +
                   info.lastModified().toString("yyyy-MM-dd HH:mm");
        };
        QCOMPARE(dialogs.alertsShown.first(),
                 "File Exists | The file: take2.wav already exists! Overwrite file?\n\nIn the "
                 "destination: 13 bytes, modified " +
                     olderTime + "\nThe new copy: " + sizeAndDate(in(source, names[1])) +
                     "\n\nYes replaces it. Yes to All replaces it and every later one without "
                     "asking. Skip keeps it and goes on with the next file. No keeps it and stops "
                     "the batch. (plain) | Yes (Return) Yes to All Skip No (Escape)");
        // Outcomes fill the Result column as they come: take4's before the batch.
        QCOMPARE(duringFirst,
                 (QStringList{"Cancel"} + rowsWith({results[0], "", "", results[3], ""}) +
                  QStringList{"close refused", "stored 0 1", "drop refused"}));

        // After: every row kept with its outcome, one activity line per file and
        // nothing else, the summary, and Start off until files are chosen again.
        QCOMPARE(listed(window), rowsWith(results));
        QStringList lines;
        for (const int i : {3, 0, 1, 2, 4})
            lines << '[' + results[i].section(": ", 0, 0) + "] " + names[i] + ": " +
                         results[i].section(": ", 1, -1);
        QCOMPARE(child<QPlainTextEdit>(window, "activityText")->toPlainText(), lines.join('\n'));
        QTEST(status(window), "summary");
        QCOMPARE(controlsOf(window), kChoosers + "Quit");
        QTEST(int(beeps.size()), "nBeeps");
        // The internal log went to standard error instead, each line whole, as
        // "<date time> korva[pid] <line>", the line taken literally.
        standardError.seek(0);
        const QRegularExpression copying(
            QString(
                "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} korva\\[%1\\] Copy file = %2$")
                .arg(QCoreApplication::applicationPid())
                .arg(QRegularExpression::escape(text(in(source, names[0])))),
            QRegularExpression::MultilineOption);
        QVERIFY(QString::fromUtf8(standardError.readAll()).contains(copying));

        // A next batch, its files dropped: listed as a chooser would list them,
        // with no panel shown, the bar back at 0 when it starts.
        writeFile(in(source, "take6.wav"), take(6));
        QVERIFY(drop(window, {in(source, "take6.wav"), in(source, "notes.aif")},
                     {QUrl("http://localhost/elsewhere.wav")}));
        QCOMPARE(listed(window),
                 QStringList{"take6.wav | " + plain + " |  | " + text(source.path())});
        child<QPushButton>(window, "goButton")->click();
        QCOMPARE(child<QProgressBar>(window, "progressBar")->value(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!window.controller().isPatching(), 30000);
        QCOMPARE(status(window), "Done: 1 repaired. 100%");
        // The drop answered only itself: the next chooser shows its panel.
        QCOMPARE(dialogs.panelsShown.size(), 2);
        child<QPushButton>(window, "selectFilesButton")->click();
        QCOMPARE(dialogs.panelsShown.size(), 3);
    }

    // The waveform column paints each take as its row's format reads it: a take read at the
    // wrong depth is a wall of noise beside the thin line of a tone read right. Play is on
    // exactly where there is a sound output, and says why it is off.
    void waveformsShowATakeReadWrong()
    {
        const TempDir source;
        writeFile(source / "take.wav", riff({chunk("bext", bextBody(1)), Bytes(24, 0),
                                             chunk("data", tone(4800, 2, 24))}));
        ScriptedDialogs dialogs;
        MainWindow window(dialogs);
        window.resize(960, 400);
        window.show();
        auto* resolution = child<QComboBox>(window, "resolutionBox");
        child<QComboBox>(window, "channelsBox")->setCurrentIndex(1);
        auto* table = child<QTableWidget>(window, "fileTable");
        const int nColumn = table->property("columnIdentifiers").toStringList().indexOf("Waveform");
        window.listFiles({source / "take.wav"});
        // The share of the waveform cell's pixels in the ink of the text.
        const auto inked = [&](int nResolution)
        {
            resolution->setCurrentIndex(nResolution);
            if (!QTest::qWaitFor([&] { return table->item(0, nColumn)->text().isEmpty(); }))
                return -1.0;
            table->clearSelection();
            const QImage cell =
                table->viewport()->grab(table->visualItemRect(table->item(0, nColumn))).toImage();
            const QColor ink = table->palette().color(QPalette::Text);
            int nInked = 0;
            for (int y = 0; y < cell.height(); ++y)
                for (int x = 0; x < cell.width(); ++x)
                    nInked += cell.pixelColor(x, y) == ink ? 1 : 0;
            return double(nInked) / (cell.width() * cell.height());
        };
        const double dRight = inked(2), dWrong = inked(1);
        QVERIFY2(dRight > 0.05 && dWrong > 3 * dRight,
                 qPrintable(QString("%1 inked read right, %2 wrong").arg(dRight).arg(dWrong)));

        // What a device of 16-bit samples would play: the take's 24-bit samples from the
        // frame asked for, each its top 16 bits, rounded; and mixed down to one channel.
        const auto played = [&](int nChannels)
        {
            QAudioFormat device;
            device.setSampleRate(44100);
            device.setChannelCount(nChannels);
            device.setSampleFormat(QAudioFormat::Int16);
            const Bytes file = readFile(source / "take.wav");
            korva::PlayRequest request{text(source / "take.wav").toStdString(),
                                       file.size() - 4800 * 6, 4800 * 6,
                                       WavFormat{WavFormat::kPcm, 2, 44100, 24}, 4000};
            TakeStream stream(request, device);
            stream.open(QIODevice::ReadOnly);
            QByteArray out;
            if (!QTest::qWaitFor([&] { return out.append(stream.readAll()), stream.finished(); }))
                out.clear();
            return out;
        };
        const Bytes audio = tone(4800, 2, 24);
        // Sample i of little-endian signed samples of nBytes, full scale 1.
        const auto at = [](const auto& bytes, std::size_t i, int nBytes)
        {
            const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + i * nBytes;
            uint32_t u = 0;
            for (int k = 0; k < nBytes; ++k)
                u |= uint32_t(p[k]) << (32 - 8 * (nBytes - k));
            return double(int32_t(u)) / 2147483648.0;
        };
        for (const int nChannels : {2, 1})
        {
            const QByteArray out = played(nChannels);
            QCOMPARE(out.size(), 800 * nChannels * 2);
            double dWorst = 0;
            for (std::size_t i = 0; i < 800 * std::size_t(nChannels); ++i)
            {
                const std::size_t frame = 4000 + i / nChannels;
                const double dWant =
                    nChannels == 2 ? at(audio, frame * 2 + i % 2, 3)
                                   : (at(audio, frame * 2, 3) + at(audio, frame * 2 + 1, 3)) / 2;
                dWorst = std::max(dWorst, std::abs(at(out, i, 2) - dWant));
            }
            QVERIFY2(dWorst <= 0.5 / 32768, qPrintable(QString::number(dWorst * 32768)));
        }

        auto* play = child<QPushButton>(window, "playButton");
        table->selectRow(0);
        const bool bOutput = window.platform().audioOutput().whyNoOutput().empty();
        QCOMPARE(play->isEnabled(), bOutput);
        if (!bOutput)
            QCOMPARE(play->toolTip(), "This computer has no sound output device (none was found), "
                                      "so takes cannot be played. Connect headphones or speakers, "
                                      "then choose the files again.");
    }

    // korva FILE… lists the files, as a drop would. --version and --help are
    // answered by the program itself with no display, even among Qt's own
    // options (-reverse is one, not -v).
    void commandLine()
    {
        ScriptedDialogs dialogs;
        MainWindow window(dialogs);
        window.listFiles(
            CommandLine({"korva", "take1.wav", "cards/../Take2.WAV", "notes.txt"}).files());
        const QString here =
            " | it could not be read: it is no longer there (moved, renamed, or its card "
            "removed?) |  | " +
            QDir::currentPath();
        QCOMPARE(listed(window), (QStringList{"take1.wav" + here, "Take2.WAV" + here}));
        // korva CARD lists the card's takes by their paths under it, and nothing else.
        const TempDir card;
        std::filesystem::create_directory(card / "2024-06-12");
        writeFile(card / "2024-06-12/SC12_T01.WAV", take(2));
        writeFile(card / "2024-06-12/._SC12_T01.WAV", {0, 5, 22, 7, 0, 2, 0, 0, 0, 0, 0, 0});
        writeFile(card / "SOUND_REPORT.CSV", ascii("Take,Notes\n"));
        window.listFiles(CommandLine({"korva", text(card.path())}).files());
        const QStringList cardRows = listed(window);
        QCOMPARE(cardRows.size(), 1);
        QVERIFY2(cardRows.front().startsWith("2024-06-12/SC12_T01.WAV | ") &&
                     cardRows.front().endsWith(" | " + text(card / "2024-06-12")),
                 qPrintable(cardRows.front()));
        QCOMPARE(CommandLine({"korva", "--bogus"}).error(), "Unknown option 'bogus'.");

        const QString version = CommandLine({"korva", "--version"}).answer();
        QCOMPARE(version, QString("korva %1\n%2\n%3\n")
                              .arg(korva::kVersion, korva::kCopyright, korva::kLicenceSummary));
        const QString help = CommandLine({"korva", "--help"}).answer();
        QVERIFY2(help.startsWith("Usage: korva [options] [FILE…]\n") && help.contains("--version"),
                 qPrintable(help));
        QProcess program;
        program.setProcessEnvironment(QProcessEnvironment()); // nothing names a display
        for (const auto& [arguments, answer] :
             {std::pair{QStringList{"--version"}, version},
              {QStringList{"-reverse", "-platform", "offscreen", "--help"}, help}})
        {
            program.start(KORVA_PROGRAM, arguments);
            QVERIFY(program.waitForFinished(30000));
            QCOMPARE(program.exitCode(), 0);
            QCOMPARE(QString::fromLocal8Bit(program.readAllStandardOutput()), answer);
        }
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
