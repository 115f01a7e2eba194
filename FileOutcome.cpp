#include "FileOutcome.h"

namespace korva
{
const char* KindWord(FileOutcome::Kind kind)
{
    switch (kind)
    {
    case FileOutcome::Kind::Repaired:
        return "repaired";
    case FileOutcome::Kind::SizesRepaired:
        return "sizes repaired";
    case FileOutcome::Kind::Unchanged:
        return "unchanged";
    case FileOutcome::Kind::Failed:
        return "failed";
    case FileOutcome::Kind::Skipped:
        return "skipped";
    case FileOutcome::Kind::NotProcessed:
        break;
    }
    return "not processed";
}

std::string DescribeFormat(const WavFormat& format)
{
    std::string channels = format.nChannels == 1   ? "mono"
                           : format.nChannels == 2 ? "stereo"
                                                   : std::to_string(format.nChannels) + " channels";
    return std::to_string(format.nSampleRate) + " Hz, " + std::to_string(format.nBitsPerSample) +
           " bit" + (format.IsFloat() ? " float" : "") + ", " + channels;
}
} // namespace korva
