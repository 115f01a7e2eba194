#pragma once

#include "PlatformServices.h"

class QAbstractButton;

// A push button whose title the controller changes; the title's first letter
// is its mnemonic (Alt and that letter press it).
class QtButton : public korva::Button
{
public:
    explicit QtButton(QAbstractButton* button) : m_button(button) {}
    void setEnabled(bool bEnabled) override;
    void setTitle(const std::string& title) override;

private:
    QAbstractButton* m_button;
};
