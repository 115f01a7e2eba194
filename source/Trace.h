#pragma once

#include <ostream>
#include <string_view>

// The file classes' trace of their chunk walks and repairs. Lines go to
// standard output by default, one flush per line; a front end may send them to
// another stream or silence them. Set the stream before any worker starts.
class CTrace
{
public:
    // Writes one line and flushes; does nothing while the trace is silenced.
    static void Line(std::string_view text);
    static void Line(std::string_view label, std::string_view value);
    // nullptr silences the trace; the default is std::cout.
    static void SetStream(std::ostream* pStream);
};
