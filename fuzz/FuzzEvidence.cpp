// The reader of a file's own evidence on any bytes: the first two bytes say
// how many of the rest are the bext body and how many the iXML text, the rest
// is audio. It must read within the bytes it is given, and its verdicts must
// follow from its findings: agreed on the one value every finding names and
// nothing rules out, a conflict otherwise, absent without a finding.
#include <algorithm>
#include <cstdlib>

#include "FormatEvidence.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 2)
        return 0;
    const std::size_t nBext = std::min<std::size_t>(pData[0] * 8u, nSize - 2);
    const std::size_t nIXml = std::min<std::size_t>(pData[1] * 4u, nSize - 2 - nBext);
    const uint8_t* p = pData + 2;
    FormatEvidence::Input input;
    input.bext = {p, nBext};
    input.ixml = {reinterpret_cast<const char*>(p + nBext), nIXml};
    input.audio = {p + nBext + nIXml, nSize - 2 - nBext - nIXml};
    input.nDataLength = input.audio.size();
    input.bDataLengthTrusted = pData[0] % 2 == 0;
    const FormatEvidence evidence(input);
    for (const auto quantity : FormatEvidence::kQuantities)
    {
        const FormatEvidence::Field& field = evidence.Get(quantity);
        const auto named = std::count_if(field.findings.begin(), field.findings.end(),
                                         [](const auto& f) { return !f.bRulesOut; });
        const bool bOneValue =
            std::all_of(field.findings.begin(), field.findings.end(),
                        [&](const auto& f) { return f.bRulesOut != (f.nValue == field.nValue); });
        if ((field.verdict == FormatEvidence::Verdict::Absent) != (named == 0) ||
            (field.verdict == FormatEvidence::Verdict::Agreed && !bOneValue))
            abort();
    }
    return 0;
}
