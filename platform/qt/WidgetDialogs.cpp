#include "WidgetDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

std::optional<std::vector<std::string>>
WidgetDialogs::openPanel(QWidget* parent, const korva::OpenPanelOptions& options)
{
    QFileDialog dialog(parent);
    if (options.bCanChooseDirectories && !options.bCanChooseFiles)
    {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        dialog.setWindowTitle(QStringLiteral("Choose the destination folder"));
    }
    else
    {
        dialog.setFileMode(options.bAllowsMultipleSelection ? QFileDialog::ExistingFiles
                                                            : QFileDialog::ExistingFile);
        dialog.setWindowTitle(QStringLiteral("Choose the damaged WAV files"));
    }
    // A read-only panel offers no "New Folder".
    dialog.setOption(QFileDialog::ReadOnly, !options.bCanCreateDirectories);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;

    std::vector<std::string> paths;
    for (const QString& path : dialog.selectedFiles())
        paths.push_back(path.toStdString());
    return paths;
}

korva::AlertButton WidgetDialogs::alert(QWidget* parent, const std::string& title,
                                        const std::string& message,
                                        const std::string& defaultButton,
                                        const std::string& alternateButton)
{
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QString::fromStdString(title));
    // Plain text: a file name is never taken for markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(message));
    QPushButton* pDefault =
        box.addButton(QString::fromStdString(defaultButton), QMessageBox::YesRole);
    QPushButton* pAlternate =
        box.addButton(QString::fromStdString(alternateButton), QMessageBox::NoRole);
    box.setDefaultButton(pDefault);
    box.setEscapeButton(pAlternate);
    box.exec();
    return box.clickedButton() == pDefault ? korva::AlertButton::Default
                                           : korva::AlertButton::Alternate;
}
