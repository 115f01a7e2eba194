#include "Trace.h"

#include <atomic>
#include <iostream>

namespace
{
std::atomic<std::ostream*> g_pStream{&std::cout};
}

void CTrace::Line(std::string_view text)
{
    Line(text, {});
}

void CTrace::Line(std::string_view label, std::string_view value)
{
    if (std::ostream* pStream = g_pStream.load())
    {
        *pStream << label << value << '\n';
        pStream->flush();
    }
}

void CTrace::SetStream(std::ostream* pStream)
{
    g_pStream.store(pStream);
}
