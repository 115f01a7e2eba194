#pragma once

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "Trace.h"

// Sends the file classes' trace into a string for as long as it lives.
class TraceCapture
{
public:
    TraceCapture() { CTrace::SetStream(&m_out); }
    ~TraceCapture() { CTrace::SetStream(&std::cout); }

    std::string text() const { return m_out.str(); }
    std::vector<std::string> lines() const
    {
        std::vector<std::string> out;
        std::istringstream in(m_out.str());
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    }

private:
    std::ostringstream m_out;
};
