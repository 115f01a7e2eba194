#include "RepairJob.h"

#include "AudioFile.h"
#include "ChunkReader.h"
#include "FileCopy.h"
#include "KorvaWav.h"
#include "RepairPlan.h"
#include "RiffIO.h"
#include "RiffLayout.h"
#include "TemporaryCopy.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using korva::FileOutcome;
using korva::SystemErrorWords;
using Kind = FileOutcome::Kind;
using Verdict = RepairPlan::Verdict;

namespace
{
constexpr bool kHostIsIntel = std::endian::native == std::endian::little;

// Copies the source into out by the plan's edits: the bytes in front of each
// edit, its zero bytes, on behind the bytes it leaves out; every byte once.
// The source's bytes go a progress step at a time, and progress hears of each
// step that leaves more to do.
riff::Moved CopyShaped(int in, uint64_t nLength, const TemporaryCopy& out,
                       const std::vector<RepairPlan::Edit>& edits, uint8_t* pBuffer,
                       const RepairJob::Progress& progress)
{
    const auto copy = [&](uint64_t nFrom, uint64_t nTo, uint64_t nBytes)
    {
        for (const uint64_t nEnd = nFrom + nBytes; nFrom < nEnd;)
        {
            const uint64_t nStep = RepairJob::kProgressStep;
            const uint64_t nNext = std::min(nEnd, (nFrom / nStep + 1) * nStep);
            const riff::Moved moved =
                file_copy::Copy(in, nFrom, out, nTo, nNext - nFrom, pBuffer, riff::kBlockSize);
            if (moved != riff::Moved::All)
                return moved;
            nTo += nNext - nFrom;
            nFrom = nNext;
            if (progress && nFrom % nStep == 0 && nFrom < nLength)
                progress(nFrom, nLength);
        }
        return riff::Moved::All;
    };
    uint64_t nFrom = 0, nTo = 0;
    for (const RepairPlan::Edit& edit : edits)
    {
        const std::vector<uint8_t> zeros(edit.nInsert, 0);
        const riff::Moved moved = copy(nFrom, nTo, edit.nAt - nFrom);
        if (moved != riff::Moved::All)
            return moved;
        if (!riff::WriteAt(out.fd(), nTo + edit.nAt - nFrom, zeros.data(), zeros.size()))
            return riff::Moved::WriteFailed;
        nTo += edit.nAt - nFrom + edit.nInsert;
        nFrom = edit.nAt + edit.nDrop;
    }
    return copy(nFrom, nTo, nLength - nFrom);
}

// "1,204 bytes, modified 2024-06-11 14:02" (local time).
std::string SizeAndDate(uint64_t nSize, int64_t nTime)
{
    const std::string plain = std::to_string(nSize);
    std::string digits;
    for (std::size_t i = 0; i < plain.size(); ++i)
    {
        if (i > 0 && (plain.size() - i) % 3 == 0)
            digits += ',';
        digits += plain[i];
    }
    const auto time = static_cast<std::time_t>(nTime);
    std::tm local = {};
    char date[32] = "";
    if (localtime_r(&time, &local))
        std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", &local);
    return digits + (nSize == 1 ? " byte" : " bytes") + ", modified " + date;
}

std::string PartialFrame(const RepairPlan& plan)
{
    if (plan.nPartialBytes == 0)
        return "";
    return " (" + std::to_string(plan.nPartialBytes) +
           (plan.nPartialBytes == 1 ? " byte" : " bytes") + " of a partial last frame left out)";
}

// What the repair did, in a line: where the chunk went, the sizes, the format
// written, and where the file told its parts.
std::string Describe(const RepairPlan& plan, const WavFormat& format, const std::string& sources)
{
    switch (plan.verdict)
    {
    case Verdict::Intact:
        return "already has a format chunk";
    case Verdict::NoBext:
        return "no bext chunk";
    case Verdict::NoData:
        return "no data chunk";
    case Verdict::NotRiff:
        return "not a RIFF file";
    case Verdict::NotWholeFrames: // the file's own format chunk counts no whole frames
        return "its sizes are unfinished, but its own format chunk counts no whole frames: "
               "copied as it is";
    case Verdict::SizesUnfinished:
        return plan.bDataSizeUnfinished
                   ? "unfinished sizes finished: " + std::to_string(plan.nDataSize) +
                         " bytes of audio" + PartialFrame(plan)
                   : "unfinished RIFF size finished";
    default:
        break;
    }
    const std::string damaged = "damaged format chunk at " + std::to_string(plan.nDamagedOffset);
    std::string words = plan.verdict == Verdict::FormatDamaged
                            ? damaged + (plan.bFieldsKept ? " mended" : " written over as chosen")
                        : plan.nRemainsLength > 0
                            ? "format chunk written over the remains of the lost one at " +
                                  std::to_string(plan.nRemainsOffset)
                        : plan.bBehindBext ? "format chunk inserted behind bext"
                                           : "format chunk inserted in front of the audio";
    if (plan.bDataSizeUnfinished)
        words += ", unfinished data size finished at " + std::to_string(plan.nDataSize) + " bytes" +
                 PartialFrame(plan);
    else if (plan.nPartialBytes > 0)
        words +=
            ", data size cut to " + std::to_string(plan.nDataSize) + " bytes" + PartialFrame(plan);
    return words + ": " + korva::DescribeFormat(format) +
           (sources.empty() ? "" : " (" + sources + ")");
}

// Why a read of the source failed: a source now shorter than when it was
// read was changed while it was copied.
std::string WhyReadFailed(int fd, uint64_t nLength, int nError)
{
    struct stat now;
    if (fstat(fd, &now) == 0 && static_cast<uint64_t>(now.st_size) < nLength)
        return "it became shorter while it was copied (is something else writing to it?)";
    return SystemErrorWords(nError);
}

Kind KindOf(Verdict verdict)
{
    switch (verdict)
    {
    case Verdict::FormatMissing:
    case Verdict::FormatDamaged:
        return Kind::Repaired;
    case Verdict::SizesUnfinished:
        return Kind::SizesRepaired;
    default:
        return Kind::Unchanged;
    }
}
} // namespace

// The source, open for reading, what its one walk found, and what becomes of it.
struct RepairJob::Source
{
    int fd = -1;
    struct stat info = {};
    RepairPlan plan;
    Preview preview;
    bool bFailureStopsBatch = false; // with Action::Fail
    fs::path target;

    ~Source()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

RepairJob::RepairJob(fs::path destination, FormatChoice choice, AskToOverwrite ask, Log log)
    : m_destination(std::move(destination)), m_choice(std::move(choice)), m_ask(std::move(ask)),
      m_log(std::move(log)), m_pBuffer(new (std::nothrow) uint8_t[riff::kBlockSize])
{
}

RepairJob::~RepairJob() = default;

FileOutcome RepairJob::Fail(FileOutcome outcome, const std::string& detail, bool bStopsBatch)
{
    m_log(outcome.sourcePath + ": " + detail);
    outcome.kind = Kind::Failed;
    outcome.detail = detail;
    m_bStopsBatch = bStopsBatch;
    return outcome;
}

RepairJob::Preview RepairJob::PreviewOf(const fs::path& source, const FormatChoice& choice,
                                        const FormatEvidence::CardTakeSource& cardTakes)
{
    Source read;
    Read(source, choice, cardTakes, 0, read);
    return read.preview;
}

// The checks and the one read of the source that decide what becomes of it,
// before anything is written or asked.
void RepairJob::Read(const fs::path& sourcePath, const FormatChoice& choice,
                     const FormatEvidence::CardTakeSource& cardTakes, uint64_t nShareBlock,
                     Source& source)
{
    using Action = Preview::Action;
    Preview& preview = source.preview;
    using Refusal = Preview::Refusal;
    const auto fail = [&](std::string detail, bool bStopsBatch, Refusal refusal)
    {
        preview.action = Action::Fail;
        preview.refusal = refusal;
        preview.detail = std::move(detail);
        source.bFailureStopsBatch = bStopsBatch;
    };
    // Opened without waiting, so that a FIFO cannot hold the batch. A source
    // that is gone or cannot be opened fails alone: the batch goes on.
    source.fd = ::open(sourcePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (source.fd < 0 || fstat(source.fd, &source.info) != 0)
        return fail("it could not be read: " + SystemErrorWords(errno), false, Refusal::Unreadable);
    if (!S_ISREG(source.info.st_mode))
        return fail("it is not a regular file", false, Refusal::Unreadable);
    const auto nLength = static_cast<uint64_t>(source.info.st_size);
    ChunkReader reader(source.fd, nLength, kHostIsIntel);
    const RiffLayout layout = RiffLayout::Read(reader);
    if (layout.form != RiffLayout::Form::Rf64 && nLength > riff::kMaxRiffLength)
        return fail("it is larger than the 4 GiB a RIFF file can hold", true, Refusal::TooLarge);
    const bool bNeedsFormat = RepairPlan::NeedsFormat(layout);
    bool bFrameSettled = false;
    if (bNeedsFormat)
    {
        // The audio is read only where the metadata leaves a part open, and
        // the card's other takes only where the audio does too.
        FormatEvidence evidence = FormatEvidence::Read(reader, layout, false, nullptr);
        if (!choice.SettledWithoutAudio(evidence))
            evidence = FormatEvidence::Read(reader, layout, true, cardTakes);
        const FormatChoice::Result chosen = choice.Apply(evidence);
        if (!chosen.format)
            return fail(chosen.problem, false, Refusal::Unsettled);
        preview.format = *chosen.format;
        preview.sources = chosen.sources;
        preview.warnings = chosen.warnings;
        bFrameSettled = chosen.bFrameSettled;
    }
    if (reader.Failed())
        return fail("it could not be read: " + SystemErrorWords(reader.Error()), false,
                    Refusal::Unreadable);
    // A partial last frame is left out only of audio whose frame is known for
    // certain: otherwise it says that the format is not the file's.
    preview.bLeaveOutPartialFrame = bFrameSettled && !choice.bStrict;
    const RepairPlan& plan = source.plan = RepairPlan::Make(
        layout, preview.format, kHostIsIntel, nShareBlock, preview.bLeaveOutPartialFrame);
    if (plan.verdict == Verdict::NotWholeFrames && bNeedsFormat)
        return fail("its " + std::to_string(plan.nDataDeclared) +
                        " bytes of audio are not whole frames of " +
                        std::to_string(plan.nBlockAlign) + " bytes (" +
                        korva::DescribeFormat(preview.format) + "): that cannot be its format",
                    false, Refusal::NotWholeFrames);
    if (plan.verdict == Verdict::TooLarge)
        return fail("repaired, it would pass the 4 GiB a RIFF file can hold", true,
                    Refusal::TooLarge);
    if (plan.nPartialBytes > 0 && !plan.bDataSizeUnfinished)
        preview.warnings.push_back("its data size of " + std::to_string(plan.nDataDeclared) +
                                   " bytes is no whole number of " +
                                   std::to_string(plan.nBlockAlign) +
                                   "-byte frames: its partial last frame is left out");
    const bool bLeftAlone = plan.verdict == Verdict::NotRiff || plan.verdict == Verdict::NoBext ||
                            plan.verdict == Verdict::NoData;
    preview.action = bNeedsFormat ? Action::WriteFormat
                     : bLeftAlone ? Action::LeaveAlone
                                  : Action::KeepFormat;
    if (bLeftAlone)
        preview.detail = Describe(plan, preview.format, preview.sources);
    const std::optional<WavFormat> audioFormat = bNeedsFormat ? preview.format : layout.format;
    if (!bLeftAlone && audioFormat && plan.nBlockAlign > 0)
        preview.audio = Preview::Audio{.nOffset = plan.nDataOffset + riff::kChunkHeaderSize,
                                       .nBytes = std::min(plan.nDataSize, plan.nDataPresent) /
                                                 plan.nBlockAlign * plan.nBlockAlign,
                                       .format = *audioFormat};
}

std::string RepairJob::Preview::Words() const
{
    using Action = Preview::Action;
    switch (action)
    {
    case Action::WriteFormat:
        return FormatChoice::WithWarnings(korva::DescribeFormat(format) +
                                              (sources.empty() ? "" : " (" + sources + ")"),
                                          warnings);
    case Action::KeepFormat:
        return "has its own format chunk";
    case Action::LeaveAlone:
        return detail + ": left as it is";
    case Action::Fail:
        break;
    }
    return detail;
}

std::optional<std::string> RepairJob::WhyUnreadable(const fs::path& source)
{
    std::error_code ec;
    const bool bThere = fs::is_regular_file(source, ec);
    if (bThere && access(source.c_str(), R_OK) == 0)
        return std::nullopt;
    return bThere ? "it cannot be read: " + SystemErrorWords(EACCES) : SystemErrorWords(ENOENT);
}

FileOutcome RepairJob::Run(const fs::path& sourcePath, const fs::path& relative,
                           const FormatEvidence::CardTakeSource& cardTakes)
{
    m_bStopsBatch = false;
    FileOutcome outcome;
    outcome.sourcePath = sourcePath.string();
    Source source;
    source.target = m_destination / relative;
    outcome.destinationPath = source.target.string();

    // The file classes' limit, for whatever opens the repaired copy by its path.
    if (source.target.native().size() >= CAudioFile::kPathCapacity)
        return Fail(outcome,
                    "its path in the destination is longer than " +
                        std::to_string(CAudioFile::kPathCapacity - 1) +
                        " bytes: choose a destination with a shorter path",
                    true);
    if (!m_pBuffer)
        return Fail(outcome, "there is not enough memory to copy it", true);
    if (!m_nShareBlock)
    {
        m_nShareBlock = file_copy::SharedBlockSize(m_destination);
        if (*m_nShareBlock > 0)
            m_log("The destination shares blocks of " + std::to_string(*m_nShareBlock) +
                  " bytes: a format chunk inserted comes with JUNK up to a whole block, and the "
                  "audio behind it is cloned");
    }
    Read(sourcePath, m_choice, cardTakes, *m_nShareBlock, source);
    if (source.preview.action == Preview::Action::Fail)
        return Fail(outcome, source.preview.detail, source.bFailureStopsBatch);
    outcome.warnings = source.preview.warnings;

    struct stat there;
    const bool bExists = lstat(source.target.c_str(), &there) == 0;
    if (bExists)
    {
        struct stat followed;
        if (stat(source.target.c_str(), &followed) == 0 && followed.st_dev == source.info.st_dev &&
            followed.st_ino == source.info.st_ino)
            return Fail(outcome, "it is the source file itself: choose another destination", true);
        if (S_ISDIR(there.st_mode))
            return Fail(outcome, "a folder of that name stands in the destination", true);
        if (m_published.count({there.st_dev, there.st_ino}))
            return Fail(outcome,
                        "another file of this batch was copied to that name (the destination "
                        "does not tell upper from lower case): copy this one on its own",
                        false);
        if (const std::optional<FileOutcome> kept = AskToReplace(source, outcome))
            return *kept;
    }
    std::error_code ec;
    // Most takes of a batch share a folder: it is made or found once.
    if (!m_folders.contains(source.target.parent_path()))
    {
        fs::create_directories(source.target.parent_path(), ec);
        if (ec)
            return Fail(outcome,
                        "its folder could not be made in the destination: " +
                            SystemErrorWords(ec.value()),
                        true);
        m_folders.insert(source.target.parent_path());
    }
    if (m_beforeCopy)
        m_beforeCopy(source.plan);
    return Copy(source, outcome, bExists);
}

std::string RepairJob::Question::Comparison() const
{
    return "In the destination: " + SizeAndDate(nExistingSize, nExistingTime) +
           "\nThe new copy: " + SizeAndDate(nNewSize, nNewTime);
}

std::optional<FileOutcome> RepairJob::AskToReplace(const Source& source, FileOutcome outcome)
{
    Question question;
    question.name = source.target.lexically_relative(m_destination).string();
    struct stat there;
    if (stat(source.target.c_str(), &there) == 0)
    {
        question.nExistingSize = static_cast<uint64_t>(there.st_size);
        question.nExistingTime = there.st_mtime;
    }
    // The copy keeps the source's times; a repair may make it longer.
    question.nNewSize = KindOf(source.plan.verdict) == Kind::Unchanged ? source.plan.nSourceLength
                                                                       : source.plan.nLength;
    question.nNewTime = source.info.st_mtime;
    const Answer answer = m_bReplaceAll ? Answer::YesToAll : m_ask(question);
    m_bReplaceAll = answer == Answer::YesToAll;
    if (answer == Answer::Skip || answer == Answer::No)
    {
        outcome.kind = answer == Answer::Skip ? Kind::Skipped : Kind::NotProcessed;
        outcome.detail = "the file already in the destination was kept";
        m_bStopsBatch = answer == Answer::No;
        return outcome;
    }
    m_log("Deleting " + outcome.destinationPath);
    return std::nullopt;
}

FileOutcome RepairJob::Copy(const Source& source, FileOutcome outcome, bool bReplace)
{
    const RepairPlan& plan = source.plan;
    std::error_code ec;
    TemporaryCopy copy(m_destination, source.info.st_mode, ec);
    if (ec)
        return Fail(outcome,
                    "no copy can be made in the destination: " + SystemErrorWords(ec.value()),
                    true);
    const bool bRepair = KindOf(plan.verdict) != Kind::Unchanged;
    const riff::Moved moved = CopyShaped(source.fd, plan.nSourceLength, copy,
                                         bRepair ? plan.edits : std::vector<RepairPlan::Edit>{},
                                         m_pBuffer.get(), m_progress);
    // A source that fails under the copy fails alone; a destination that
    // cannot take the bytes would fail every file behind it too.
    if (moved == riff::Moved::ReadFailed)
        return Fail(outcome,
                    "the source could not be read: " +
                        WhyReadFailed(source.fd, plan.nSourceLength, errno),
                    false);
    if (moved == riff::Moved::WriteFailed ||
        (bRepair && !KorvaWavFile::WriteRepair(copy.fd(), plan)))
        return Fail(outcome, "it could not be copied: " + SystemErrorWords(errno), true);
    if (bRepair)
    {
        // Walked once more: a copy that is not what a repaired file must be
        // never takes the file's name.
        ChunkReader check(copy.fd(), plan.nLength, kHostIsIntel);
        const std::string problem = RepairPlan::Check(RiffLayout::Read(check));
        if (check.Failed())
            return Fail(outcome, "it could not be copied: " + SystemErrorWords(check.Error()),
                        true);
        if (!problem.empty())
            return Fail(outcome,
                        "the repaired copy did not check out (" + problem + "), so it was not kept",
                        false);
    }
#ifdef __APPLE__
    const timespec times[2] = {source.info.st_atimespec, source.info.st_mtimespec};
#else
    const timespec times[2] = {source.info.st_atim, source.info.st_mtim};
#endif
    if (futimens(copy.fd(), times) != 0)
        return Fail(outcome, "the copy's times could not be set: " + SystemErrorWords(errno), true);
    bool bNamed = copy.Publish(source.target, bReplace, ec);
    if (!bNamed && !bReplace && ec == std::errc::file_exists)
    {
        // Another run made a file of that name since the job looked: it is
        // asked about now, as one found then would have been.
        if (const std::optional<FileOutcome> kept = AskToReplace(source, outcome))
            return *kept;
        bReplace = true;
        bNamed = copy.Publish(source.target, bReplace, ec);
    }
    if (!bNamed)
        return Fail(outcome,
                    "the copy could not take its name: " + SystemErrorWords(ec.value()) +
                        (bReplace ? "; the file already there was kept" : ""),
                    true);
    m_published.insert({copy.device(), copy.inode()});
    outcome.kind = KindOf(plan.verdict);
    outcome.detail = Describe(plan, source.preview.format, source.preview.sources);
    if (outcome.kind == Kind::Repaired)
    {
        outcome.format = source.preview.format;
        outcome.formatSources = source.preview.sources;
        outcome.seconds = korva::SecondsOf(plan.nDataSize, source.preview.format);
        if (!outcome.warnings.empty())
            outcome.kind = Kind::RepairedWithWarnings;
    }
    return outcome;
}

std::optional<std::string> RepairJob::FlushDestination() const
{
    return TemporaryCopy::FlushFileSystemOf(m_destination);
}
