#pragma once

#include "PlatformServices.h"

class QAction;

// A menu action, with the action it sends to the controller.
class QtMenuItem : public korva::MenuItem
{
public:
    QtMenuItem(QAction* action, korva::MenuAction eAction) : m_action(action), m_eAction(eAction) {}
    void setEnabled(bool bEnabled) override;
    korva::MenuAction action() const override { return m_eAction; }

private:
    QAction* m_action;
    korva::MenuAction m_eAction;
};
