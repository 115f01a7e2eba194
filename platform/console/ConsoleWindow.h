#pragma once

#include "ConsoleButton.h"
#include "ConsoleMenuItem.h"
#include "ConsolePopUpButton.h"
#include "ConsoleTableView.h"
#include "ConsoleTextView.h"

class AppController;

// What the window's interface file provides, held in memory for a terminal:
// every control the controller has an outlet for. Connect before the
// controller's awakeFromNib.
class ConsoleWindow
{
public:
    ConsoleWindow();
    ConsoleWindow(const ConsoleWindow&) = delete;
    ConsoleWindow& operator=(const ConsoleWindow&) = delete;

    // Sets every outlet of controller to the controls of this window.
    void connect(AppController& controller);

    ConsoleButton startButton;  // the start control
    ConsoleButton browseButton; // opens the destination chooser
    ConsoleButton selectButton; // opens the file chooser
    ConsoleButton quitButton;   // "Quit", or "Cancel" during a batch
    ConsoleButton spareButton;  // stands for the outlets no operation uses
    ConsoleMenuItem quitMenuItem;
    ConsolePopUpButton sampleRate;
    ConsolePopUpButton resolution;
    ConsoleTableView table;
    ConsoleTextView pathText;
};
