#include "FileOutcome.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace
{
// The length of the UTF-8 sequence at text's start, or 0 when it holds none:
// no overlong forms, surrogates or code points past U+10FFFF.
std::size_t utf8Length(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    const std::size_t nLength = lead < 0x80   ? 1
                                : lead < 0xC2 ? 0
                                : lead < 0xE0 ? 2
                                : lead < 0xF0 ? 3
                                : lead < 0xF5 ? 4
                                              : 0;
    if (nLength == 0 || nLength > text.size())
        return 0;
    // The second byte's range narrows after E0, ED, F0 and F4.
    const unsigned char lo = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char hi = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    for (std::size_t i = 1; i < nLength; ++i)
        if (byte(i) < (i == 1 ? lo : 0x80) || byte(i) > (i == 1 ? hi : 0xBF))
            return 0;
    return nLength;
}

// text with each byte that is not part of UTF-8 as \xHH; with bControls
// also a backslash, a tab, a line feed and a carriage return as \\, \t, \n
// and \r, and every other control byte as \xHH.
std::string escapedText(std::string_view text, bool bControls)
{
    std::string escaped;
    escaped.reserve(text.size());
    while (!text.empty())
    {
        const auto c = static_cast<unsigned char>(text.front());
        const std::size_t nLength = utf8Length(text);
        const char* named = !bControls  ? nullptr
                            : c == '\\' ? "\\\\"
                            : c == '\t' ? "\\t"
                            : c == '\n' ? "\\n"
                            : c == '\r' ? "\\r"
                                        : nullptr;
        if (named != nullptr)
            escaped += named;
        else if (nLength == 0 || (bControls && (c < 0x20 || c == 0x7F)))
        {
            constexpr char kHex[] = "0123456789ABCDEF";
            escaped += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
        }
        else
            escaped += text.substr(0, nLength);
        text.remove_prefix(std::max<std::size_t>(nLength, 1));
    }
    return escaped;
}
} // namespace

namespace korva
{
const char* KindWord(FileOutcome::Kind kind)
{
    switch (kind)
    {
    case FileOutcome::Kind::Repaired:
        return "repaired";
    case FileOutcome::Kind::RepairedWithWarnings:
        return "repaired with warnings";
    case FileOutcome::Kind::SizesRepaired:
        return "sizes repaired";
    case FileOutcome::Kind::Unchanged:
        return "unchanged";
    case FileOutcome::Kind::Failed:
        return "failed";
    case FileOutcome::Kind::Skipped:
        return "skipped";
    case FileOutcome::Kind::Extracted:
        return "extracted";
    case FileOutcome::Kind::Appended:
        return "appended";
    case FileOutcome::Kind::ChunkRemoved:
        return "removed";
    case FileOutcome::Kind::Rescued:
        return "rescued";
    case FileOutcome::Kind::Intact:
        return "intact";
    case FileOutcome::Kind::Listed:
        return "listed";
    case FileOutcome::Kind::NotProcessed:
        break;
    }
    return "not processed";
}

std::string SystemErrorWords(int nError)
{
    switch (nError)
    {
    case 0:
        return "the file ended early";
    case ENOENT:
        return "it is no longer there (moved, renamed, or its card removed?)";
    case EACCES:
    case EPERM:
        return "permission denied";
    case ENOSPC:
        return "the destination is full";
    case EDQUOT:
        return "the destination's disk quota is used up";
    case EFBIG:
        return "the file is too large for the destination";
    case EROFS:
        return "the destination is read-only";
    case EEXIST:
        return "another file of that name appeared in the destination meanwhile";
    default:
        return std::strerror(nError);
    }
}

std::string DescribeFormat(const WavFormat& format)
{
    std::string channels = format.nChannels == 1   ? "mono"
                           : format.nChannels == 2 ? "stereo"
                                                   : std::to_string(format.nChannels) + " channels";
    return std::to_string(format.nSampleRate) + " Hz, " + std::to_string(format.nBitsPerSample) +
           " bit" + (format.IsFloat() ? " float" : "") + ", " + channels;
}

namespace
{
// nDone and nTotal in the unit nTotal is best told in: "1.2 of 4.0 GB", or
// "4.0 GB" with no nDone.
std::string describeIn(std::optional<uint64_t> nDone, uint64_t nTotal)
{
    const double unit = nTotal >= 1000000000 ? 1e9 : nTotal >= 1000000 ? 1e6 : 1e3;
    const char* pszUnit = unit == 1e9 ? "GB" : unit == 1e6 ? "MB" : "KB";
    char words[64];
    if (nDone)
        std::snprintf(words, sizeof words, "%.1f of %.1f %s", static_cast<double>(*nDone) / unit,
                      static_cast<double>(nTotal) / unit, pszUnit);
    else
        std::snprintf(words, sizeof words, "%.1f %s", static_cast<double>(nTotal) / unit, pszUnit);
    return words;
}
} // namespace

std::string DescribeProgress(uint64_t nDone, uint64_t nTotal)
{
    return describeIn(nDone, nTotal);
}

std::string DescribeSize(uint64_t nBytes)
{
    return describeIn(std::nullopt, nBytes);
}

std::string DescribeLevel(double dDb)
{
    if (std::isinf(dDb))
        return "-inf dBFS";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dBFS", dDb > -0.05 ? 0.0 : dDb);
    return text;
}

std::optional<double> SecondsOf(uint64_t nAudioBytes, const WavFormat& format)
{
    if (format.BlockAlign() == 0 || format.nSampleRate == 0)
        return std::nullopt;
    return static_cast<double>(nAudioBytes / format.BlockAlign()) / format.nSampleRate;
}

std::string DurationWords(double seconds)
{
    const auto nMilliseconds = static_cast<uint64_t>(std::llround(seconds * 1000));
    char text[40];
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02u:%02u.%03u", nMilliseconds / 3600000,
                  static_cast<unsigned>(nMilliseconds / 60000 % 60),
                  static_cast<unsigned>(nMilliseconds / 1000 % 60),
                  static_cast<unsigned>(nMilliseconds % 1000));
    return text;
}

std::string Escaped(std::string_view text)
{
    return escapedText(text, true);
}

std::string ValidUtf8(std::string_view text)
{
    return escapedText(text, false);
}
} // namespace korva
