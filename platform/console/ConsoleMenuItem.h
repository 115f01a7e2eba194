#pragma once

#include "PlatformServices.h"

// The Quit menu item of the terminal front end: there is no menu to show, so
// its enabled state has nowhere to go.
class ConsoleMenuItem : public korva::MenuItem
{
public:
    void setEnabled(bool) override {}
    korva::MenuAction action() const override { return korva::MenuAction::Terminate; }
};
