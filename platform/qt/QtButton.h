#pragma once

#include "PlatformServices.h"

class QAbstractButton;

// A push button whose title the controller changes.
class QtButton : public korva::Button
{
public:
    explicit QtButton(QAbstractButton* button) : m_button(button) {}
    void setEnabled(bool bEnabled) override;
    void setTitle(const std::string& title) override;

private:
    QAbstractButton* m_button;
};
