#pragma once

#include "PlatformServices.h"

#include <string>

// A text view that keeps its text for the command to read.
class ConsoleTextView : public korva::TextView
{
public:
    void setString(const std::string& text) override { m_text = text; }
    const std::string& text() const { return m_text; }

private:
    std::string m_text;
};
