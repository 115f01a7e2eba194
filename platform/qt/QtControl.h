#pragma once

#include "PlatformServices.h"

class QAction;
class QWidget;

// Any widget as a control whose enabled state the controller switches, and
// the menu item that sends the same action, which follows it.
class QtControl : public korva::Control
{
public:
    explicit QtControl(QWidget* widget, QAction* menuItem = nullptr)
        : m_widget(widget), m_menuItem(menuItem)
    {
    }
    void setEnabled(bool bEnabled) override;

private:
    QWidget* m_widget;
    QAction* m_menuItem;
};
