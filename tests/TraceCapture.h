#pragma once

#include <iostream>
#include <sstream>
#include <string>

#include "Trace.h"

// Sends the file classes' trace into a string for as long as it lives.
class TraceCapture
{
public:
    TraceCapture() { CTrace::SetStream(&m_out); }
    ~TraceCapture() { CTrace::SetStream(&std::cout); }

    std::string text() const { return m_out.str(); }

private:
    std::ostringstream m_out;
};
