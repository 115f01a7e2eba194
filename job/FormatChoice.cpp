#include "FormatChoice.h"

#include "FileOutcome.h"

#include <algorithm>

namespace
{
using Quantity = FormatEvidence::Quantity;
using Source = FormatEvidence::Source;
using Verdict = FormatEvidence::Verdict;

std::string Unit(Quantity quantity, uint32_t n)
{
    switch (quantity)
    {
    case Quantity::SampleRate:
        return std::to_string(n) + " Hz";
    case Quantity::BitsPerSample:
        return std::to_string(n) + " bit";
    case Quantity::IsFloat:
        return n ? "float" : "integer";
    case Quantity::Channels:
        break;
    }
    return n == 1 ? "mono" : std::to_string(n) + " channels";
}

std::string Joined(const std::vector<std::string>& words)
{
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i)
        text += (i == 0 ? "" : i + 1 == words.size() ? " and " : ", ") + words[i];
    return text;
}

bool IsMetadata(Source source)
{
    return source == Source::DamagedFormat || source == Source::CodingHistory ||
           source == Source::TimeReference || source == Source::IXml;
}

// "iXML says 48000 Hz, CodingHistory says 96000 Hz".
std::string Sayings(const FormatEvidence::Field& field, Quantity quantity, bool bMetadataOnly)
{
    std::vector<std::string> words;
    for (const auto& finding : field.findings)
        if (!bMetadataOnly || IsMetadata(finding.source))
            words.push_back(std::string(FormatEvidence::SourceName(finding.source)) +
                            (finding.bRulesOut ? " rules out " : " says ") +
                            Unit(quantity, finding.nValue));
    return Joined(words);
}

// "iXML and CodingHistory": the sources that name the agreed value; the
// card's other takes with their names.
std::string Namers(const FormatEvidence::Field& field)
{
    std::vector<std::string> words;
    for (const auto& finding : field.findings)
        if (!finding.bRulesOut && finding.nValue == field.nValue)
            words.push_back(std::string(FormatEvidence::SourceName(finding.source)) +
                            (finding.source == Source::CardTakes ? ": " + finding.text : ""));
    words.erase(std::unique(words.begin(), words.end()), words.end());
    return Joined(words);
}

const char* Name(Quantity quantity)
{
    switch (quantity)
    {
    case Quantity::SampleRate:
        return "the sample rate";
    case Quantity::BitsPerSample:
        return "the bit depth";
    case Quantity::IsFloat:
        return "whether the samples are integer or float";
    case Quantity::Channels:
        break;
    }
    return "the channel count";
}

// Whether samples in containers of this depth are float: 8 to 24 bits are
// integer and 64 float; only 32 leaves it open.
std::optional<bool> FloatOfDepth(uint32_t nContainerBits)
{
    if (nContainerBits == 32)
        return std::nullopt;
    return nContainerBits == 64;
}
} // namespace

FormatChoice FormatChoice::Of(const WavFormat& format)
{
    FormatChoice choice;
    choice.nSampleRate = format.nSampleRate;
    choice.nBitsPerSample = format.nBitsPerSample;
    choice.bFloat = format.IsFloat();
    choice.nChannels = format.nChannels;
    return choice;
}

std::string FormatChoice::WithWarnings(std::string line, const std::vector<std::string>& warnings)
{
    for (const std::string& warning : warnings)
        line += " — warning: " + warning;
    return line;
}

bool FormatChoice::SettledWithoutAudio(const FormatEvidence& evidence) const
{
    const auto settled = [&](Quantity quantity)
    { return evidence.Get(quantity).verdict == Verdict::Agreed; };
    const FormatEvidence::Field& bits = evidence.Get(Quantity::BitsPerSample);
    const bool bDepthSettled = settled(Quantity::BitsPerSample) &&
                               (bFloat || FloatOfDepth((bits.nValue + 7) / 8 * 8).has_value() ||
                                settled(Quantity::IsFloat));
    return (nBitsPerSample || bDepthSettled) && (nChannels || settled(Quantity::Channels));
}

FormatChoice::Result FormatChoice::Apply(const FormatEvidence& evidence) const
{
    Result result;
    WavFormat format;
    std::vector<std::string> sources;
    // A part the file must settle: its agreed value, or the problem.
    const auto fromFile = [&](Quantity quantity, const std::string& hint,
                              const char* pszNone) -> std::optional<uint32_t>
    {
        const FormatEvidence::Field& field = evidence.Get(quantity);
        if (field.verdict == Verdict::Agreed)
            return field.nValue;
        if (result.problem.empty())
            result.problem =
                "cannot tell " + std::string(Name(quantity)) + ": " +
                (field.verdict == Verdict::Conflict ? Sayings(field, quantity, false) : pszNone) +
                "; " + hint;
        return std::nullopt;
    };
    // A chosen part the file's metadata names otherwise.
    const auto check = [&](Quantity quantity, uint32_t nChosen)
    {
        const FormatEvidence::Field& field = evidence.Get(quantity);
        const bool bContradicted =
            std::any_of(field.findings.begin(), field.findings.end(),
                        [&](const auto& f)
                        { return IsMetadata(f.source) && !f.bRulesOut && f.nValue != nChosen; });
        if (bContradicted)
            result.warnings.push_back("written as " + Unit(quantity, nChosen) + "; " +
                                      Sayings(field, quantity, true));
    };

    if (nSampleRate)
        format.nSampleRate = *nSampleRate, check(Quantity::SampleRate, *nSampleRate);
    else if (const auto rate = fromFile(Quantity::SampleRate, rateHint,
                                        "no iXML, CodingHistory or time reference gives it"))
    {
        format.nSampleRate = *rate;
        sources.push_back("rate from " + Namers(evidence.Get(Quantity::SampleRate)));
    }

    if (nBitsPerSample)
    {
        format.nBitsPerSample = *nBitsPerSample;
        format.nFormatTag = bFloat ? WavFormat::kFloat : WavFormat::kPcm;
        check(Quantity::BitsPerSample, *nBitsPerSample);
        check(Quantity::IsFloat, bFloat);
    }
    else if (const auto bits = fromFile(Quantity::BitsPerSample, depthHint,
                                        "no iXML, CodingHistory or the audio gives it"))
    {
        // A word length between containers (20 bit) is stored in the next one.
        format.nBitsPerSample = static_cast<uint16_t>((*bits + 7) / 8 * 8);
        std::string source = "depth from " + Namers(evidence.Get(Quantity::BitsPerSample));
        const FormatEvidence::Field& isFloat = evidence.Get(Quantity::IsFloat);
        std::optional<uint32_t> bFloatFromFile;
        if (const std::optional<bool> bOfDepth = FloatOfDepth(format.nBitsPerSample))
        {
            bFloatFromFile = *bOfDepth;
            if (bFloat && !*bOfDepth && result.problem.empty())
                result.problem = "float samples were chosen, but the file's depth is " +
                                 std::to_string(*bits) + " bit, which float samples never have; " +
                                 depthHint;
        }
        else if (bFloat)
            bFloatFromFile = 1, check(Quantity::IsFloat, 1);
        else
        {
            bFloatFromFile = fromFile(Quantity::IsFloat, depthHint,
                                      "nothing tells integer from float 32-bit samples");
            source += isFloat.verdict == Verdict::Agreed
                          ? ", float or integer from " + Namers(isFloat)
                          : "";
        }
        format.nFormatTag = bFloatFromFile.value_or(0) ? WavFormat::kFloat : WavFormat::kPcm;
        sources.push_back(source);
    }

    if (nChannels)
        format.nChannels = *nChannels, check(Quantity::Channels, *nChannels);
    else if (const auto channels = fromFile(Quantity::Channels, channelsHint,
                                            "no iXML, CodingHistory or the audio gives it"))
    {
        format.nChannels = static_cast<uint16_t>(*channels);
        sources.push_back("channels from " + Namers(evidence.Get(Quantity::Channels)));
    }

    if (bStrict && result.problem.empty() && !result.warnings.empty())
        result.problem = "the chosen format contradicts the file: " + result.warnings.front();
    if (!result.problem.empty())
        return result;
    result.format = format;
    result.bFrameSettled = (nBitsPerSample || evidence.Confirmed(Quantity::BitsPerSample)) &&
                           (nChannels || evidence.Confirmed(Quantity::Channels));
    std::string text;
    for (const std::string& source : sources)
        text += (text.empty() ? "" : "; ") + source;
    result.sources = text;
    return result;
}
