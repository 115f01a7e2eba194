#pragma once

#include "PlatformServices.h"

#include <string>

// A control of the terminal front end. Nothing is drawn: it keeps only its
// enabled state, so that the command can read the start rule's verdict back
// from the start control.
class ConsoleButton : public korva::Button
{
public:
    void setEnabled(bool bEnabled) override { m_bEnabled = bEnabled; }
    void setTitle(const std::string&) override {}

    bool isEnabled() const { return m_bEnabled; }

private:
    bool m_bEnabled = false;
};
