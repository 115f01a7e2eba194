#pragma once

#include "PlatformServices.h"

class QPlainTextEdit;

// A plain-text view whose whole text the controller replaces.
class QtTextView : public korva::TextView
{
public:
    explicit QtTextView(QPlainTextEdit* textEdit) : m_textEdit(textEdit) {}
    void setString(const std::string& text) override;

private:
    QPlainTextEdit* m_textEdit;
};
