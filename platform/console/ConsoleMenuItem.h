#pragma once

#include "PlatformServices.h"

// The Quit menu item of the terminal front end: it has no menu to show, and
// only takes the enabled state the controller gives it.
class ConsoleMenuItem : public korva::MenuItem
{
public:
    void setEnabled(bool bEnabled) override { m_bEnabled = bEnabled; }
    korva::MenuAction action() const override { return korva::MenuAction::Terminate; }

    bool isEnabled() const { return m_bEnabled; }

private:
    bool m_bEnabled = true;
};
