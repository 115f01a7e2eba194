#pragma once

#include "PlatformServices.h"

#include <initializer_list>
#include <vector>

class QObject;

// Widgets and menu items as one control whose enabled state the controller
// switches: a button, the menu item that sends the same action, and any
// field that belongs to them.
class QtControl : public korva::Control
{
public:
    QtControl(std::initializer_list<QObject*> parts) : m_parts(parts) {}
    void setEnabled(bool bEnabled) override;

private:
    std::vector<QObject*> m_parts;
};
