#include "FormatOptions.h"

#include <algorithm>
#include <cctype>
#include <iostream>

namespace
{
// A whole number from lo to hi, or "auto"; the message names the option's word when not.
CLI::Validator numberOrAuto(const std::string& what, long lo, long hi)
{
    return CLI::Validator(
        [=](const std::string& text)
        {
            const bool bDigits = !text.empty() && text.size() < 10 &&
                                 std::all_of(text.begin(), text.end(),
                                             [](unsigned char c) { return std::isdigit(c); });
            const long n = bDigits ? std::stol(text) : -1;
            return text == "auto" || (n >= lo && n <= hi)
                       ? std::string()
                       : "takes " + what + " from " + std::to_string(lo) + " to " +
                             std::to_string(hi) + ", or auto, not '" + text + "'";
        },
        "", "");
}

// Hertz from "48000", or from kilohertz to three places ("48k", "44.1k",
// "47.952k"); -1 when text is neither.
long hertzOf(const std::string& text)
{
    const bool bKilo = text.ends_with('k') || text.ends_with('K');
    const std::string number = text.substr(0, text.size() - (bKilo ? 1 : 0));
    const std::size_t point = number.find('.');
    const std::string whole = number.substr(0, point);
    const std::string fraction = point == std::string::npos ? "" : number.substr(point + 1);
    const auto digits = [](const std::string& part)
    {
        return std::all_of(part.begin(), part.end(),
                           [](unsigned char c) { return std::isdigit(c) != 0; });
    };
    if (whole.empty() || whole.size() > 6 || !digits(whole) || !digits(fraction) ||
        (point != std::string::npos && (!bKilo || fraction.empty() || fraction.size() > 3)))
        return -1;
    return bKilo ? std::stol(whole) * 1000 + std::stol((fraction + "000").substr(0, 3))
                 : std::stol(whole);
}

// A sample rate in hertz or kilohertz from 1000 to 768000 Hz, made hertz, or
// "auto"; the message names the forms when it is none of them.
CLI::Validator rateOrAuto()
{
    return CLI::Validator(
        [](std::string& text)
        {
            if (text == "auto")
                return std::string();
            const long nHertz = hertzOf(text);
            if (nHertz < 1000 || nHertz > 768000)
                return "takes a whole number of hertz from 1000 to 768000 (or kilohertz: 48k, "
                       "44.1k), or auto, not '" +
                       text + "'";
            text = std::to_string(nHertz);
            return std::string();
        },
        "", "");
}
} // namespace

FormatOptions::FormatOptions(CLI::App& command)
{
    command
        .add_option("-r,--rate", m_rate,
                    "Sample rate written into the fmt chunk, 1000 to 768000 (or in kHz: 48k, "
                    "44.1k); default (auto): the file's")
        ->type_name("HZ")
        ->transform(rateOrAuto());
    command
        .add_option("-b,--bits", m_bits,
                    "Bits per sample: 8, 16, 24 or 32; 32 or 64 with --float; default (auto): "
                    "the file's")
        ->type_name("N")
        ->check(numberOrAuto("8, 16, 24, 32 or 64 bits", 8, 64));
    command
        .add_option("-c,--channels", m_channels, "Channels, 1 to 64; default (auto): the file's")
        ->type_name("N")
        ->check(numberOrAuto("a number of channels", 1, 64));
    command.add_flag("--float", m_bFloat,
                     "IEEE float samples instead of integer PCM; without --bits, at the file's "
                     "depth (32 or 64)");
    command.add_flag("--auto")->description(
        "What the default does: each part no option gives from the file's own evidence (iXML, "
        "CodingHistory, time reference, the audio)");
    command.add_flag("--strict", m_bStrict,
                     "Fail a file whose metadata contradicts the chosen format");
}

FormatChoice WithOptionHints(FormatChoice choice)
{
    choice.rateHint = "pass --rate";
    choice.depthHint = "pass --bits (and --float for float samples)";
    choice.channelsHint = "pass --channels";
    return choice;
}

std::optional<FormatChoice> FormatOptions::choice() const
{
    FormatChoice choice;
    const auto part = [](const std::string& value) -> std::optional<uint32_t>
    { return value.empty() || value == "auto" ? std::nullopt : std::optional(std::stoul(value)); };
    if (const auto rate = part(m_rate))
        choice.nSampleRate = *rate;
    if (const auto bits = part(m_bits))
    {
        const bool bPossible =
            m_bFloat ? *bits == 32 || *bits == 64 : *bits % 8 == 0 && *bits <= 32;
        if (!bPossible)
        {
            std::cerr << "korva-cli: --bits " << *bits << " is no "
                      << (m_bFloat ? "float depth (32 or 64)" : "integer depth (8, 16, 24 or 32)")
                      << '\n';
            return std::nullopt;
        }
        choice.nBitsPerSample = static_cast<uint16_t>(*bits);
    }
    choice.bFloat = m_bFloat;
    if (const auto channels = part(m_channels))
        choice.nChannels = static_cast<uint16_t>(*channels);
    choice.bStrict = m_bStrict;
    return WithOptionHints(choice);
}
