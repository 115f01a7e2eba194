#pragma once

#include "PlatformServices.h"

#include <string>

// A control of the terminal front end: it only remembers what the controller
// set, so that the command can read the start rule's verdict back.
class ConsoleButton : public korva::Button
{
public:
    void setEnabled(bool bEnabled) override { m_bEnabled = bEnabled; }
    void setTitle(const std::string& title) override { m_title = title; }

    bool isEnabled() const { return m_bEnabled; }
    const std::string& title() const { return m_title; }

private:
    bool m_bEnabled = false;
    std::string m_title;
};
