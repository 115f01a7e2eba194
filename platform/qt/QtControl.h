#pragma once

#include "PlatformServices.h"

class QWidget;

// Any widget as a control whose enabled state the controller switches.
class QtControl : public korva::Control
{
public:
    explicit QtControl(QWidget* widget) : m_widget(widget) {}
    void setEnabled(bool bEnabled) override;

private:
    QWidget* m_widget;
};
