#pragma once

#include "PlatformServices.h"

#include <string>

// The destination folder's text view: the terminal shows the folder the user
// typed, so the text has nowhere to go.
class ConsoleTextView : public korva::TextView
{
public:
    void setString(const std::string&) override {}
};
