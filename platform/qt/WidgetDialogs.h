#pragma once

#include "Dialogs.h"

// The desktop's answers: a QFileDialog for the open panels, a QMessageBox
// for the alert, and QDesktopServices for a folder.
class WidgetDialogs : public Dialogs
{
public:
    std::optional<std::vector<std::string>>
    openPanel(QWidget* parent, const korva::OpenPanelOptions& options) override;

    std::optional<std::string> savePanel(QWidget* parent,
                                         const korva::SavePanelOptions& options) override;

    int alert(QWidget* parent, const std::string& title, const std::string& message,
              const std::vector<std::string>& buttons) override;

    void showFolder(const std::string& path) override;
};
