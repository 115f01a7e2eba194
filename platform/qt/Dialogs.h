#pragma once

#include "PlatformServices.h"

#include <optional>
#include <string>
#include <vector>

class QWidget;

// What the window shows the user outside itself: the modal questions (the
// open panels and the alert) and a folder in the file manager. The window
// asks them only on the interface thread. The desktop answers them with Qt's
// own dialogs and services (WidgetDialogs); a test answers them with choices
// of its own and records the folders.
class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // The full paths the user confirmed, in the panel's order; nullopt when
    // the user cancelled.
    virtual std::optional<std::vector<std::string>>
    openPanel(QWidget* parent, const korva::OpenPanelOptions& options) = 0;

    // The full path the user confirmed; nullopt when the user cancelled.
    virtual std::optional<std::string> savePanel(QWidget* parent,
                                                 const korva::SavePanelOptions& options) = 0;

    // The index of the button the user pressed: the first is the one Return
    // presses, the last the one Escape presses.
    virtual int alert(QWidget* parent, const std::string& title, const std::string& message,
                      const std::vector<std::string>& buttons) = 0;

    // Shows the folder at path in the desktop's file manager; returns at once.
    virtual void showFolder(const std::string& path) = 0;
};
