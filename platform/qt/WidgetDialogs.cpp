#include "WidgetDialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include <algorithm>

std::optional<std::vector<std::string>>
WidgetDialogs::openPanel(QWidget* parent, const korva::OpenPanelOptions& options)
{
    QFileDialog dialog(parent);
    if (options.bCanChooseDirectories && !options.bCanChooseFiles)
    {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
    }
    else
    {
        dialog.setFileMode(options.bAllowsMultipleSelection ? QFileDialog::ExistingFiles
                                                            : QFileDialog::ExistingFile);
        // Both letter cases, as the list takes them; a file named otherwise
        // stays one choice away.
        dialog.setNameFilters(
            {QStringLiteral("WAV files (*.wav *.WAV)"), QStringLiteral("All files (*)")});
    }
    dialog.setWindowTitle(QString::fromStdString(options.title));
    if (!options.startFolder.empty())
        dialog.setDirectory(QString::fromStdString(options.startFolder));
    // A read-only panel offers no "New Folder".
    dialog.setOption(QFileDialog::ReadOnly, !options.bCanCreateDirectories);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;

    std::vector<std::string> paths;
    for (const QString& path : dialog.selectedFiles())
        paths.push_back(path.toStdString());
    return paths;
}

std::optional<std::string> WidgetDialogs::savePanel(QWidget* parent,
                                                    const korva::SavePanelOptions& options)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(
        {QStringLiteral("CSV for spreadsheets (*.csv)"), QStringLiteral("Text to read (*.txt)")});
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.setWindowTitle(QString::fromStdString(options.title));
    if (!options.startFolder.empty())
        dialog.setDirectory(QString::fromStdString(options.startFolder));
    dialog.selectFile(QString::fromStdString(options.fileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

int WidgetDialogs::alert(QWidget* parent, const std::string& title, const std::string& message,
                         const std::vector<std::string>& buttons)
{
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QString::fromStdString(title));
    // Plain text: a file name is never taken for markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(message));
    std::vector<QPushButton*> pushButtons;
    for (const std::string& button : buttons)
        pushButtons.push_back(
            box.addButton(QString::fromStdString(button), QMessageBox::ActionRole));
    box.setDefaultButton(pushButtons.front());
    box.setEscapeButton(pushButtons.back());
    box.exec();
    const auto pressed = std::find(pushButtons.begin(), pushButtons.end(), box.clickedButton());
    return pressed == pushButtons.end() ? static_cast<int>(buttons.size()) - 1
                                        : static_cast<int>(pressed - pushButtons.begin());
}

void WidgetDialogs::showFolder(const std::string& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}
