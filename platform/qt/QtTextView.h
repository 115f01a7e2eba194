#pragma once

#include "PlatformServices.h"

class QLineEdit;

// A one-line text field whose whole text the controller replaces.
class QtTextView : public korva::TextView
{
public:
    explicit QtTextView(QLineEdit* field) : m_field(field) {}
    void setString(const std::string& text) override;

private:
    QLineEdit* m_field;
};
