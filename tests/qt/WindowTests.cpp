// The window as loaded from its form: outlets, pop-ups, table, the saved
// settings and the two ways of listing files.
#include "MainWindow.h"
#include "QtTestMain.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "WavBuilder.h"
#include "WindowDriver.h"

#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTimer>

using namespace window_driver;

namespace
{
QStringList itemsOf(QComboBox* comboBox)
{
    QStringList items;
    for (int i = 0; i < comboBox->count(); ++i)
        items << comboBox->itemText(i);
    return items;
}

QList<QStringList> rowsOf(QTableWidget* table)
{
    QList<QStringList> rows;
    for (int row = 0; row < table->rowCount(); ++row)
        rows << QStringList{table->item(row, 0)->text(), table->item(row, 1)->text()};
    return rows;
}

QSettings storedSettings()
{
    return QSettings(QStringLiteral("Korva"), QStringLiteral("Korva"));
}

QString qs(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

} // namespace

class WindowTests : public QObject
{
    Q_OBJECT

private slots:
    void init() { storedSettings().clear(); }

    void settingsLiveInTheTemporaryFolder()
    {
        const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
        QVERIFY(!configHome.isEmpty());
        QVERIFY(storedSettings().fileName().startsWith(configHome));
    }

    void everyOutletReachesItsControl()
    {
        ScriptedDialogs dialogs;
        MainWindow window(dialogs);
        AppController& c = window.controller();
        QVERIFY(c.PathTextCtrl && c.tableview1 && c.sampleRate && c.resolution && c.QuitButton);

        const std::vector<std::pair<korva::Control*, QString>> outlets = {
            {c.ChangeCancelState, "quitButton"},
            {c.ChangeGoState, "goButton"},
            {c.ChangeQuitState, "quitButton"},
            {c.ChangeBrowseState, "browseButton"},
            {c.ChangeSelButtonState, "selectFilesButton"},
            {c.ChangeSRState, "sampleRateBox"},
            {c.ChangeResState, "resolutionBox"},
            {c.SelectFilesButton, "selectFilesButton"},
            {c.sampleRate, "sampleRateBox"},
            {c.resolution, "resolutionBox"},
            {c.QuitButton, "quitButton"},
        };
        for (const auto& [outlet, name] : outlets)
        {
            QVERIFY2(outlet, qPrintable(name));
            QWidget* widget = child<QWidget>(window, name.toLatin1().constData());
            outlet->setEnabled(false);
            QVERIFY2(!widget->isEnabled(), qPrintable(name));
            outlet->setEnabled(true);
            QVERIFY2(widget->isEnabled(), qPrintable(name));
        }
        QVERIFY(c.ChangeQuitMenuItemState);
        QCOMPARE(c.ChangeQuitMenuItemState->action(), korva::MenuAction::Terminate);
        c.ChangeQuitMenuItemState->setEnabled(false);
        QVERIFY(!child<QAction>(window, "actionQuit")->isEnabled());

        c.QuitButton->setTitle("Cancel");
        QCOMPARE(child<QPushButton>(window, "quitButton")->text(), QStringLiteral("Cancel"));
        c.PathTextCtrl->setString("/some/folder");
        QCOMPARE(child<QPlainTextEdit>(window, "pathText")->toPlainText(),
                 QStringLiteral("/some/folder"));
    }

    void windowStartsAsTheFormAndControllerSay()
    {
        ScriptedDialogs dialogs;
        MainWindow window(dialogs);
        QCOMPARE(itemsOf(child<QComboBox>(window, "sampleRateBox")),
                 (QStringList{"44.1 kHz", "48 kHz", "88.2 kHz", "96 kHz", "128 kHz"}));
        QCOMPARE(itemsOf(child<QComboBox>(window, "resolutionBox")),
                 (QStringList{"16 bit", "24 bit"}));

        auto* table = child<QTableWidget>(window, "fileTable");
        QCOMPARE(table->property("columnIdentifiers").toStringList(),
                 (QStringList{"FileName", "FilePath"}));
        QCOMPARE(table->horizontalHeaderItem(0)->text(), QStringLiteral("File"));
        QCOMPARE(table->horizontalHeaderItem(1)->text(), QStringLiteral("Folder"));
        QCOMPARE(table->rowCount(), 0);

        QVERIFY(!child<QPushButton>(window, "goButton")->isEnabled());
        QCOMPARE(child<QPushButton>(window, "quitButton")->text(), QStringLiteral("Quit"));
        QVERIFY(child<QPlainTextEdit>(window, "pathText")->isReadOnly());
        QCOMPARE(child<QLabel>(window, "statusLabel")->text(),
                 QStringLiteral("Please set the path to save the repaired files."));
        auto* quit = child<QAction>(window, "actionQuit");
        QCOMPARE(quit->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
        emit child<QMenu>(window, "menuFile")->aboutToShow();
        QVERIFY(quit->isEnabled());
    }

    void savedSettingsChooseThePopUpItems_data()
    {
        QTest::addColumn<QVariant>("storedRate");
        QTest::addColumn<QVariant>("storedResolution");
        QTest::addColumn<QString>("rateShown");
        QTest::addColumn<QString>("resolutionShown");
        QTest::addColumn<uint>("rateHz");
        QTest::addColumn<uint>("bits");
        QTest::newRow("first run") << QVariant() << QVariant() << "44.1 kHz"
                                   << "24 bit" << 44100u << 24u;
        QTest::newRow("96 kHz, 16 bit") << QVariant(3) << QVariant(0) << "96 kHz"
                                        << "16 bit" << 96000u << 16u;
        QTest::newRow("negative rate") << QVariant(-1) << QVariant(1) << ""
                                       << "24 bit" << 44100u << 24u;
        QTest::newRow("past the end") << QVariant(5) << QVariant(2) << ""
                                      << "" << 44100u << 24u;
        QTest::newRow("resolution absent") << QVariant(2) << QVariant() << "88.2 kHz"
                                           << "16 bit" << 88200u << 16u;
    }

    void savedSettingsChooseThePopUpItems()
    {
        QFETCH(QVariant, storedRate);
        QFETCH(QVariant, storedResolution);
        QFETCH(QString, rateShown);
        QFETCH(QString, resolutionShown);
        QFETCH(uint, rateHz);
        QFETCH(uint, bits);
        {
            QSettings settings = storedSettings();
            if (storedRate.isValid())
                settings.setValue("SampleRate", storedRate);
            if (storedResolution.isValid())
                settings.setValue("Resolution", storedResolution);
        }
        ScriptedDialogs dialogs;
        MainWindow window(dialogs);
        QCOMPARE(child<QComboBox>(window, "sampleRateBox")->currentText(), rateShown);
        QCOMPARE(child<QComboBox>(window, "resolutionBox")->currentText(), resolutionShown);
        QCOMPARE(window.controller().sampleRateHz(), rateHz);
        QCOMPARE(uint{window.controller().bitsPerSample()}, bits);
        if (!storedRate.isValid())
        {
            // The first run stores the defaults at once.
            QCOMPARE(storedSettings().value("SampleRate").toInt(), 0);
            QCOMPARE(storedSettings().value("Resolution").toInt(), 1);
        }
    }

    void quittingStoresTheSelectionsAndEndsTheMainLoop_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Quit menu item") << "menu";
        QTest::newRow("Ctrl+Q") << "shortcut";
        QTest::newRow("quit button") << "button";
        QTest::newRow("closing the window") << "close";
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
            // A change is not stored until the user quits.
            QCOMPARE(storedSettings().value("SampleRate").toInt(), 0);
            QTimer::singleShot(0, &window,
                               [&]
                               {
                                   if (how == "menu")
                                       child<QAction>(window, "actionQuit")->trigger();
                                   else if (how == "shortcut")
                                       QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
                                   else if (how == "button")
                                       child<QPushButton>(window, "quitButton")->click();
                                   else
                                       window.close();
                               });
            // A main loop that does not end fails the test instead of hanging it.
            QTimer guard;
            guard.setSingleShot(true);
            connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
            guard.start(10000);
            QCOMPARE(QApplication::exec(), 0);
            QVERIFY(!window.isVisible());
        }
        QCOMPARE(storedSettings().value("SampleRate").toInt(), 4);
        QCOMPARE(storedSettings().value("Resolution").toInt(), 0);

        MainWindow next(dialogs);
        QCOMPARE(child<QComboBox>(next, "sampleRateBox")->currentText(), QStringLiteral("128 kHz"));
        QCOMPARE(child<QComboBox>(next, "resolutionBox")->currentText(), QStringLiteral("16 bit"));
    }

    void listingFilesAndChoosingTheDestination_data()
    {
        QTest::addColumn<bool>("bDropped");
        QTest::addColumn<bool>("bDestinationIsSource");
        QTest::newRow("chooser, other folder") << false << false;
        QTest::newRow("chooser, same folder") << false << true;
        QTest::newRow("dropped, other folder") << true << false;
        QTest::newRow("dropped, same folder") << true << true;
    }

    void listingFilesAndChoosingTheDestination()
    {
        QFETCH(bool, bDropped);
        QFETCH(bool, bDestinationIsSource);
        TempDir source;
        TempDir destination;
        const std::vector<std::filesystem::path> chosen = {source / "A.WAV", source / "b.wav",
                                                           source / "c.aif"};
        for (const auto& path : chosen)
            fixture::writeFile(path, fixture::bwf(48000, 24, fixture::samples(6)));

        ScriptedDialogs dialogs;
        MainWindow window(dialogs);
        const auto folder = bDestinationIsSource ? source.path() : destination.path();
        dialogs.panelAnswers.push_back(std::vector<std::string>{folder.string()});
        child<QPushButton>(window, "browseButton")->click();
        QCOMPARE(child<QPlainTextEdit>(window, "pathText")->toPlainText(), qs(folder));
        QVERIFY(!child<QPushButton>(window, "goButton")->isEnabled());

        if (bDropped)
            QVERIFY(drop(window, chosen, {QUrl("http://localhost/elsewhere.wav")}));
        else
        {
            std::vector<std::string> answer;
            for (const auto& path : chosen)
                answer.push_back(path.string());
            dialogs.panelAnswers.push_back(answer);
            child<QPushButton>(window, "selectFilesButton")->click();
        }
        // A drop shows no panel: only the destination chooser was shown.
        QCOMPARE(dialogs.panelsShown.size(), bDropped ? 1u : 2u);
        const QList<QStringList> expected = {{"A.WAV", qs(source.path())},
                                             {"b.wav", qs(source.path())}};
        QCOMPARE(rowsOf(child<QTableWidget>(window, "fileTable")), expected);
        QCOMPARE(child<QPushButton>(window, "goButton")->isEnabled(), !bDestinationIsSource);
    }

    void panelsAskForWhatTheChoosersNeed()
    {
        ScriptedDialogs dialogs;
        MainWindow window(dialogs);
        child<QPushButton>(window, "selectFilesButton")->click();
        child<QPushButton>(window, "browseButton")->click();
        QCOMPARE(dialogs.panelsShown.size(), 2u);
        const korva::OpenPanelOptions files = dialogs.panelsShown[0];
        QVERIFY(files.bCanChooseFiles && !files.bCanChooseDirectories &&
                files.bAllowsMultipleSelection);
        const korva::OpenPanelOptions folder = dialogs.panelsShown[1];
        QVERIFY(!folder.bCanChooseFiles && folder.bCanChooseDirectories &&
                !folder.bAllowsMultipleSelection && folder.bCanCreateDirectories);
        // Both cancelled: nothing listed, no destination, no start.
        QCOMPARE(child<QTableWidget>(window, "fileTable")->rowCount(), 0);
        QVERIFY(child<QPlainTextEdit>(window, "pathText")->toPlainText().isEmpty());
        QVERIFY(!child<QPushButton>(window, "goButton")->isEnabled());
    }
};

KORVA_QTEST_MAIN(WindowTests)
#include "WindowTests.moc"
