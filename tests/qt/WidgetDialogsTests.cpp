// The desktop's own panels and alert, answered by a "user" who acts once the
// modal dialog is up.
#include "QtTestMain.h"
#include "TempDir.h"
#include "WavBuilder.h"
#include "WidgetDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <functional>

namespace
{
// Runs act on the modal dialog of type T as soon as the event loop shows it.
template <typename T> void whenShown(std::function<void(T&)> act)
{
    QTimer::singleShot(0,
                       [act]
                       {
                           T* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
                           if (!dialog)
                               qFatal("no modal dialog of the expected kind is up");
                           act(*dialog);
                       });
}
} // namespace

class WidgetDialogsTests : public QObject
{
    Q_OBJECT

private slots:
    void filePanelGivesTheConfirmedFiles()
    {
        TempDir folder;
        for (const char* name : {"a.wav", "b.WAV", "c.aif"})
            fixture::writeFile(folder / name, fixture::ascii("RIFF"));
        korva::OpenPanelOptions options;
        options.bAllowsMultipleSelection = true;
        QFileDialog::FileMode eMode{};
        bool bReadOnly = false;
        whenShown<QFileDialog>(
            [&](QFileDialog& dialog)
            {
                eMode = dialog.fileMode();
                bReadOnly = dialog.testOption(QFileDialog::ReadOnly);
                dialog.setDirectory(QString::fromStdString(folder.path().string()));
                dialog.selectFile(QStringLiteral("\"b.WAV\" \"c.aif\""));
                static_cast<QDialog&>(dialog).accept();
            });
        const auto paths = WidgetDialogs().openPanel(nullptr, options);
        QCOMPARE(eMode, QFileDialog::ExistingFiles);
        QVERIFY(bReadOnly);
        QVERIFY(paths);
        QCOMPARE(*paths, (std::vector<std::string>{(folder / "b.WAV").string(),
                                                   (folder / "c.aif").string()}));
    }

    void folderPanelGivesTheConfirmedFolder()
    {
        TempDir folder;
        std::filesystem::create_directory(folder / "Repaired");
        korva::OpenPanelOptions options;
        options.bCanChooseFiles = false;
        options.bCanChooseDirectories = true;
        options.bCanCreateDirectories = true;
        QFileDialog::FileMode eMode{};
        bool bReadOnly = true;
        whenShown<QFileDialog>(
            [&](QFileDialog& dialog)
            {
                eMode = dialog.fileMode();
                bReadOnly = dialog.testOption(QFileDialog::ReadOnly);
                dialog.setDirectory(QString::fromStdString((folder / "Repaired").string()));
                static_cast<QDialog&>(dialog).accept();
            });
        const auto paths = WidgetDialogs().openPanel(nullptr, options);
        QCOMPARE(eMode, QFileDialog::Directory);
        QVERIFY(!bReadOnly);
        QVERIFY(paths);
        QCOMPARE(*paths, (std::vector<std::string>{(folder / "Repaired").string()}));
    }

    void cancelledPanelGivesNothing()
    {
        whenShown<QFileDialog>([](QFileDialog& dialog) { dialog.reject(); });
        QVERIFY(!WidgetDialogs().openPanel(nullptr, korva::OpenPanelOptions{}));
    }

    void alertAnswers_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("bDefault");
        QTest::newRow("Return") << "Return" << true;
        QTest::newRow("Escape") << "Escape" << false;
        QTest::newRow("click No") << "No" << false;
        QTest::newRow("click Yes") << "Yes" << true;
    }

    void alertAnswers()
    {
        QFETCH(QString, how);
        QFETCH(bool, bDefault);
        QStringList buttons;
        QString shown;
        QString title;
        QString defaultTitle;
        whenShown<QMessageBox>(
            [&](QMessageBox& box)
            {
                for (QAbstractButton* button : box.buttons())
                    buttons << button->text();
                shown = box.text();
                title = box.windowTitle();
                defaultTitle = box.defaultButton()->text();
                if (how == "Return")
                    QTest::keyClick(&box, Qt::Key_Return);
                else if (how == "Escape")
                    QTest::keyClick(&box, Qt::Key_Escape);
                else
                    for (QAbstractButton* button : box.buttons())
                        if (button->text() == how)
                            button->click();
            });
        const std::string message = "The file: <b>a&b</b>.wav already exists! Overwrite file?";
        const korva::AlertButton answer =
            WidgetDialogs().alert(nullptr, "File Exists", message, "Yes", "No");
        QCOMPARE(answer, bDefault ? korva::AlertButton::Default : korva::AlertButton::Alternate);
        buttons.sort();
        QCOMPARE(buttons, (QStringList{"No", "Yes"}));
        QCOMPARE(defaultTitle, QStringLiteral("Yes"));
        QCOMPARE(title, QStringLiteral("File Exists"));
        QCOMPARE(shown, QString::fromStdString(message));
    }
};

KORVA_QTEST_MAIN(WidgetDialogsTests)
#include "WidgetDialogsTests.moc"
