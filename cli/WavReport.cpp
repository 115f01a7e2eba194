#include "WavReport.h"

#include "SampleDecoder.h"

#include "ChunkReader.h"
#include "RiffIO.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
constexpr bool kHostIsIntel = std::endian::native == std::endian::little;
constexpr uint64_t kTimeReferenceInBody = 338; // behind the bext text fields

// Opens without waiting and only a regular file, with its length.
int OpenRegular(const std::string& path, uint64_t& nLength, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0)
        error = errno == ENOENT ? "no such file" : std::strerror(errno);
    else if (S_ISDIR(info.st_mode))
        error = "a folder, not a file";
    else if (!S_ISREG(info.st_mode))
        error = "not a regular file";
    else
    {
        nLength = static_cast<uint64_t>(info.st_size);
        return fd;
    }
    if (fd >= 0)
        ::close(fd);
    return -1;
}

std::string SizeWords(const RepairPlan& plan, const RiffLayout& layout)
{
    std::string words;
    if (plan.bDataSizeUnfinished)
        words = "data size " + std::to_string(plan.nDataDeclared) + ", " +
                std::to_string(plan.nDataPresent) + " bytes of audio follow";
    if (plan.bRiffSizeUnfinished)
    {
        const uint64_t nSize =
            layout.form == RiffLayout::Form::Rf64 ? layout.nDs64RiffSize : layout.nRiffSize;
        words += (words.empty() ? "" : "; ") + std::string("RIFF size ") + std::to_string(nSize) +
                 ", the file holds " + std::to_string(layout.nLength) + " bytes";
    }
    return words;
}
} // namespace

WavReport WavReport::Of(const std::string& path, const FormatChoice& choice,
                        const FormatEvidence::CardTakeSource& cardTakes, std::size_t nColumns)
{
    WavReport report;
    report.path = path;
    uint64_t nLength = 0;
    const int fd = OpenRegular(path, nLength, report.error);
    if (fd < 0)
        return report;
    ChunkReader reader(fd, nLength, kHostIsIntel);
    report.layout = RiffLayout::Read(reader);

    // A damaged format chunk states the file's own format.
    const auto& damaged = report.layout.damagedFormat;
    WavFormat ownFormat;
    ownFormat.nBitsPerSample = 8;
    if (damaged)
        ownFormat = damaged->format;
    uint8_t field[16];
    if (const auto* fmt = report.layout.Find("fmt ");
        fmt != nullptr && reader.Read(fmt->PayloadOffset(), field, sizeof field))
        report.format =
            Format{riff::Get16(field, kHostIsIntel),      riff::Get16(field + 2, kHostIsIntel),
                   riff::Get32(field + 4, kHostIsIntel),  riff::Get32(field + 8, kHostIsIntel),
                   riff::Get16(field + 12, kHostIsIntel), riff::Get16(field + 14, kHostIsIntel)};
    else if (damaged)
        report.format = Format{damaged->nFormatTag,
                               ownFormat.nChannels,
                               ownFormat.nSampleRate,
                               ownFormat.BytesPerSecond(),
                               ownFormat.BlockAlign(),
                               ownFormat.nBitsPerSample,
                               true,
                               damaged->bBitsMissing};
    if (const auto* bext = report.layout.Find("bext"))
    {
        report.bHasBext = true;
        if (bext->nSize >= kTimeReferenceInBody + 4 &&
            reader.Read(bext->PayloadOffset() + kTimeReferenceInBody, field, 4))
            report.timeReference = riff::Get32(field, kHostIsIntel);
    }
    if (const auto* bext = report.layout.Find("bext"))
    {
        // The text fields of EBU Tech 3285, and the CodingHistory behind them.
        std::vector<char> body(static_cast<std::size_t>(std::min<uint64_t>(bext->nSize, 1 << 16)));
        if (reader.Read(bext->PayloadOffset(), body.data(), body.size()))
        {
            const auto text = [&](std::size_t nAt, std::size_t nSize)
            {
                if (nAt >= body.size())
                    return std::string();
                std::string value(body.data() + nAt, std::min(nSize, body.size() - nAt));
                value.resize(std::min(value.find('\0'), value.size()));
                value.erase(value.find_last_not_of(" \r\n") + 1);
                return value;
            };
            report.bextText = BextText{text(0, 256), text(256, 32), text(320, 10), text(330, 8),
                                       text(602, body.size())};
        }
    }
    report.evidence = FormatEvidence::Read(reader, report.layout, true, cardTakes);
    if (const auto* regn = report.layout.Find("regn");
        regn != nullptr && regn->nSize >= 4 && reader.Read(regn->PayloadOffset(), field, 4))
        report.nRegions = riff::Get32(field, kHostIsIntel);
    if (reader.Failed())
        report.error = std::strerror(reader.Error());
    ::close(fd);
    if (!report.error.empty())
        return report;
    report.preview = RepairJob::PreviewOf(path, choice, cardTakes);
    // Without a format to write, the audio is counted in the damaged format
    // chunk's frames, or in single bytes: the plan then does not depend on a
    // format nobody settled.
    const bool bWrites = report.preview.action == RepairJob::Preview::Action::WriteFormat;
    report.plan = RepairPlan::Make(report.layout, bWrites ? report.preview.format : ownFormat,
                                   kHostIsIntel, 0, report.preview.bLeaveOutPartialFrame);
    report.LookAtAudio(nColumns);
    return report;
}

void WavReport::LookAtAudio(std::size_t nColumns)
{
    const auto& audio = preview.audio;
    if (!audio)
    {
        noOverview = preview.Words();
        return;
    }
    if (!SampleDecoder::Reads(audio->format))
    {
        noOverview = korva::DescribeFormat(audio->format) + " samples are not decoded here";
        return;
    }
    TakeOverview read =
        TakeOverview::Read(path, audio->nOffset, audio->nBytes, audio->format, nColumns);
    if (read.bFailed)
        noOverview = "its audio could not be read: " + korva::SystemErrorWords(read.nError);
    else
        overview = std::move(read);
}

std::optional<WavReport::Frames> WavReport::frames() const
{
    const auto* data = layout.Find("data");
    std::optional<Frames> frames;
    if (data == nullptr)
        return frames;
    if (preview.action == RepairJob::Preview::Action::WriteFormat)
        frames = Frames{data->nPayload / preview.format.BlockAlign(), preview.format.nSampleRate};
    else if (format && format->nBlockAlign > 0)
        frames = Frames{data->nPayload / format->nBlockAlign, format->nSampleRate};
    return frames;
}

std::string WavReport::status() const
{
    using Refusal = RepairJob::Preview::Refusal;
    if (!error.empty())
        return "unreadable";
    if (preview.action == RepairJob::Preview::Action::Fail)
        switch (preview.refusal)
        {
        case Refusal::TooLarge:
            return "too_large";
        case Refusal::Unsettled:
            return "unsettled";
        case Refusal::NotWholeFrames:
            return "not_whole_frames";
        case Refusal::Unreadable:
            return "unreadable";
        }
    using Verdict = RepairPlan::Verdict;
    switch (plan.verdict)
    {
    case Verdict::NotRiff:
        return "not_wav";
    case Verdict::NoBext:
        return "no_bext";
    case Verdict::NoData:
        return "no_data";
    case Verdict::Intact:
        return "intact";
    case Verdict::SizesUnfinished:
        return "sizes_unfinished";
    case Verdict::TooLarge:
        return "too_large";
    case Verdict::NotWholeFrames:
        return "not_whole_frames";
    case Verdict::FormatMissing:
    case Verdict::FormatDamaged:
        break;
    }
    return preview.warnings.empty() ? "repairable" : "repairable_with_warnings";
}

std::string WavReport::verdict() const
{
    if (preview.action == RepairJob::Preview::Action::Fail)
        return "fails: " + preview.detail;
    using Verdict = RepairPlan::Verdict;
    switch (plan.verdict)
    {
    case Verdict::NotRiff:
        return "not a RIFF file";
    case Verdict::NoBext:
        return "no bext chunk: not repairable";
    case Verdict::NoData:
        return "no data chunk: not repairable";
    case Verdict::Intact:
        return "intact";
    case Verdict::SizesUnfinished:
        return "sizes unfinished: " + SizeWords(plan, layout);
    case Verdict::TooLarge:
        return "too large: the repaired file would pass RIFF's 4 GiB limit";
    case Verdict::NotWholeFrames:
        return "the audio is no whole number of frames of " + std::to_string(plan.nBlockAlign) +
               " bytes";
    case Verdict::FormatMissing:
    case Verdict::FormatDamaged:
        break;
    }
    std::string words = "repairable: format chunk missing, ";
    if (plan.verdict == Verdict::FormatDamaged)
        words = "repairable: format chunk damaged at " + std::to_string(plan.nDamagedOffset) +
                ": its size says " + std::to_string(plan.nDamagedSize) + ", its body holds " +
                std::to_string(plan.nDamagedBody) + " bytes";
    else if (plan.nRemainsLength > 0)
        words += "remains of " + std::to_string(plan.nRemainsLength) + " bytes at " +
                 std::to_string(plan.nRemainsOffset);
    else
        words += "no remains; a new one goes " +
                 std::string(plan.bBehindBext ? "behind bext" : "in front of the audio") + " at " +
                 std::to_string(plan.nInsertAt);
    const std::string sizes = SizeWords(plan, layout);
    return FormatChoice::WithWarnings(sizes.empty() ? words : words + "; " + sizes,
                                      preview.warnings);
}

std::string WavReport::action() const
{
    if (preview.action == RepairJob::Preview::Action::Fail || !plan.Changes())
        return "none";
    std::string words;
    if (plan.bFieldsKept)
        words = "mend the format chunk at " + std::to_string(plan.nDamagedOffset) +
                ": set its size to " + std::to_string(plan.nFormatBody) +
                (plan.nDamagedBody < plan.nFormatBody ? ", put in its bits field" : "");
    else if (plan.nFormatBody > 0)
        words = "write a format chunk with a " + std::to_string(plan.nFormatBody) +
                "-byte body at " + std::to_string(plan.nFormatOffset);
    if (plan.nInserted > 0)
        words += (words.empty() ? "" : ", ") + std::string("insert ") +
                 std::to_string(plan.nInserted) + " bytes";
    if (plan.bDataSizeUnfinished)
        words += (words.empty() ? "" : ", ") + std::string("set the data size to ") +
                 std::to_string(plan.nDataSize) +
                 (plan.nPartialBytes > 0 ? " (" + std::to_string(plan.nPartialBytes) +
                                               " bytes of a partial frame left out)"
                                         : "");
    return words + (words.empty() ? "" : ", ") + "set the RIFF size to " +
           std::to_string(plan.nLength - 8);
}
