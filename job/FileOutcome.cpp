#include "FileOutcome.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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

std::string DescribeProgress(uint64_t nDone, uint64_t nTotal)
{
    const double unit = nTotal >= 1000000000 ? 1e9 : nTotal >= 1000000 ? 1e6 : 1e3;
    const char* pszUnit = unit == 1e9 ? "GB" : unit == 1e6 ? "MB" : "KB";
    char words[64];
    std::snprintf(words, sizeof words, "%.1f of %.1f %s", static_cast<double>(nDone) / unit,
                  static_cast<double>(nTotal) / unit, pszUnit);
    return words;
}
} // namespace korva
