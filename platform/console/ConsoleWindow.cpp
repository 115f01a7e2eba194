#include "ConsoleWindow.h"

#include "AppController.h"

// The interface file gives the sample-rate menu its first three items; the
// controller appends the rest and sets the resolution menu's items itself.
ConsoleWindow::ConsoleWindow() : sampleRate({"44.1 kHz", "48 kHz", "88.2 kHz"}) {}

void ConsoleWindow::connect(AppController& controller)
{
    controller.ChangeCancelState = &spareButton;
    controller.ChangeGoState = &startButton;
    controller.ChangeQuitState = &spareButton;
    controller.ChangeBrowseState = &browseButton;
    controller.ChangeSelButtonState = &selectButton;
    controller.ChangeSRState = &sampleRate;
    controller.ChangeResState = &resolution;
    controller.ChangeQuitMenuItemState = &quitMenuItem;
    controller.SelectFilesButton = &spareButton;
    controller.PathTextCtrl = &pathText;
    controller.tableview1 = &table;
    controller.sampleRate = &sampleRate;
    controller.resolution = &resolution;
    controller.QuitButton = &quitButton;
}
