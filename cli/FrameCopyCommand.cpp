#include "FrameCopyCommand.h"

#include "FileCommands.h"
#include "RepairJob.h"
#include "WavFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <tuple>

namespace fs = std::filesystem;
using Copy = CWavFile::Copy;
using Kind = korva::FileOutcome::Kind;

namespace
{
// A frame number as the library takes it: a whole number of 32 bits.
uint32_t FrameNumber(const std::string& option, const std::string& text)
{
    const bool bDigits =
        !text.empty() &&
        std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
    if (bDigits && text.size() <= 10 && std::stoull(text) <= UINT32_MAX)
        return static_cast<uint32_t>(std::stoull(text));
    throw CLI::ValidationError(option + " takes a whole number of frames" +
                               (bDigits ? " up to 4294967295" : "") + ", not '" + text + "'");
}

// The fields that make a frame, as "sample rate 44100 in a.wav, 48000 in b.wav; ...";
// "" when they agree. Bytes per second follows from them and is not compared.
std::string FormatDifferences(const CWavFile& a, const std::string& aName, const CWavFile& b,
                              const std::string& bName)
{
    const std::pair<const char*, std::pair<uint32_t, uint32_t>> fields[] = {
        {"format tag", {a.m_nFormatTag, b.m_nFormatTag}},
        {"channels", {a.m_nChannels, b.m_nChannels}},
        {"sample rate", {a.m_nSampleRate, b.m_nSampleRate}},
        {"bits per sample", {a.m_nBitsPerSample, b.m_nBitsPerSample}},
        {"block align", {a.m_nBlockAlign, b.m_nBlockAlign}},
    };
    std::string differences;
    for (const auto& [name, values] : fields)
        if (values.first != values.second)
            differences += (differences.empty() ? "" : "; ") + std::string(name) + " " +
                           std::to_string(values.first) + " in " + aName + ", " +
                           std::to_string(values.second) + " in " + bName;
    return differences;
}
} // namespace

FrameCopyCommand::FrameCopyCommand(CLI::App& app, Mode mode) : m_mode(mode)
{
    const bool bExtract = mode == Mode::Extract;
    m_command = bExtract ? app.add_subcommand("extract", "Write frames of SOURCE into a new WAV "
                                                         "file DEST with SOURCE's fmt chunk")
                         : app.add_subcommand("append", "Append frames of SOURCE to the existing "
                                                        "WAV file DEST, of the same format");
    const std::tuple<const char*, uint32_t*, const char*> frames[] = {
        {"--from", &m_nFrom, "The first frame, counted from 0 at the start of the data chunk"},
        {"--to", &m_nTo, "One past the last frame (at most the whole frames of the data chunk)"},
    };
    for (const auto& [option, pFrame, help] : frames)
        m_command
            ->add_option_function<std::string>(
                option,
                [option = option, pFrame = pFrame](const std::string& text)
                { *pFrame = FrameNumber(option, text); },
                help)
            ->type_name("FRAME")
            ->required();
    if (bExtract)
        m_existing.emplace(*m_command);
    m_command->add_flag("--json", m_bJson, "A JSON object instead of a line");
    m_command->add_option("SOURCE", m_source, "The WAV file the frames come from; only read")
        ->required();
    m_command
        ->add_option("DEST", m_destination,
                     bExtract ? "The new WAV file" : "The WAV file whose data chunk ends it")
        ->required();
}

int FrameCopyCommand::run()
{
    std::error_code ec;
    if (fs::equivalent(m_source, m_destination, ec))
        return file_commands::UsageError(m_destination + " is the source file itself: a source is "
                                                         "only read; name another DEST");
    if (fs::is_directory(m_destination, ec))
        return file_commands::UsageError(m_destination + " is a folder: name the file to write");
    if (const auto why = RepairJob::WhyUnreadable(m_source))
        return print(Kind::Failed, m_source + ": " + *why);
    if (m_existing && fs::exists(m_destination, ec))
    {
        const OverwritePrompt prompt(-1);
        const auto answer = m_existing->answer(fs::path(m_destination).filename(), prompt);
        if (answer == RepairJob::Answer::Skip || answer == RepairJob::Answer::No)
            return print(answer == RepairJob::Answer::Skip ? Kind::Skipped : Kind::NotProcessed,
                         "the file already there was kept");
    }

    CWavFile source(m_source.c_str());
    if (const std::string mismatch = formatMismatch(source); !mismatch.empty())
        return print(Kind::Failed, mismatch);
    const char* pszDest = m_destination.c_str();
    const bool bCopied = m_mode == Mode::Extract ? source.CreateNewFile(pszDest, m_nFrom, m_nTo)
                                                 : source.AppendToFile(pszDest, m_nFrom, m_nTo);
    if (!bCopied)
        return print(Kind::Failed, copyFailure(source));
    return print(m_mode == Mode::Extract ? Kind::Extracted : Kind::Appended, copied(source));
}

// Frames of one format appended to a file of another would be noise. Only
// where both state a format with frames: the copy itself says what else is
// wrong with either file.
std::string FrameCopyCommand::formatMismatch(const CWavFile& source) const
{
    if (m_mode != Mode::Append || source.m_nBlockAlign == 0)
        return "";
    const CWavFile dest(m_destination.c_str());
    if (dest.m_nDataOffset == 0)
        return "";
    if (dest.m_nBlockAlign == 0)
        return m_destination + " states no format with frames (no fmt chunk, or a block align of "
                               "0), so nothing can be appended to it safely: repair it first";
    const std::string differences = FormatDifferences(source, m_source, dest, m_destination);
    return differences.empty()
               ? ""
               : m_destination + " is not of " + m_source + "'s format (" + differences +
                     "): frames of one format cannot join a file of another; extract them "
                     "into a new file instead";
}

std::string FrameCopyCommand::range() const
{
    return "frames " + std::to_string(m_nFrom) + " to " + std::to_string(m_nTo);
}

std::string FrameCopyCommand::copyFailure(const CWavFile& source) const
{
    const std::string& s = m_source;
    const std::string& d = m_destination;
    const std::string reason = korva::SystemErrorWords(source.GetSystemError());
    const uint64_t nBytes = uint64_t{m_nTo - std::min(m_nFrom, m_nTo)} * source.m_nBlockAlign;
    const std::string fixFormat = "remove it from a copy (korva-cli remove-chunk 'fmt ') and "
                                  "repair the copy";
    switch (source.GetCopy())
    {
    case Copy::SourceUnopened:
        return s + " could not be opened for reading: " + reason;
    case Copy::NoFormat:
        return s + " has no fmt chunk, so its frames cannot be counted: repair it into a copy "
                   "(korva-cli repair) and take the frames from the copy";
    case Copy::BlockAlignZero:
        return s + "'s fmt chunk states a block align of 0, so its frames cannot be counted: " +
               fixFormat;
    case Copy::FormatTooLarge:
        return s + "'s fmt chunk is too large to be a format chunk: " + fixFormat;
    case Copy::NoData:
        return s + " has no data chunk, so it has no frames to copy";
    case Copy::StartAfterEnd:
        return "--from " + std::to_string(m_nFrom) + " is past --to " + std::to_string(m_nTo) +
               ": --to is one past the last frame, so it cannot be less than --from";
    case Copy::PastTheFrames:
        return range() + " run past the audio of " + s + ": its data chunk holds " +
               std::to_string(source.GetFullFileRegionEnd()) + " whole frames; choose --to " +
               std::to_string(source.GetFullFileRegionEnd()) + " or less";
    case Copy::FramesCutOff:
        return range() + " are not all in " + s + ": its data chunk states " +
               std::to_string(source.m_nDataLength) + " bytes, but the file ends " +
               std::to_string(source.GetLength() - source.m_nDataOffset - 8) +
               " bytes into it; choose a smaller --to, or repair a copy (korva-cli repair "
               "finishes the sizes) and take the frames from it";
    case Copy::TooLarge:
        return range() + " of " + s + " are " + std::to_string(nBytes) +
               " bytes, more than a WAV file can hold (4 GiB): choose a shorter range";
    case Copy::DestinationUnopened:
        if (m_mode == Mode::Extract)
            return d + " could not be created: " + reason;
        if (source.GetSystemError() == ENOENT)
            return d + " does not exist: append adds to an existing WAV file; extract makes a "
                       "new one";
        return d + " could not be opened for writing: " + reason;
    case Copy::DestinationNotWav:
        return d + " is not a RIFF WAV file with a data chunk: append adds to one; extract "
                   "makes a new file";
    case Copy::DestinationRf64:
        return d + " is an RF64 file, whose sizes korva-cli cannot update: append to a RIFF "
                   "WAV file, or extract into a new one";
    case Copy::DataNotLast:
        return d + "'s data chunk does not end the file (a chunk or a pad byte follows it), so "
                   "frames added at its end would fall outside it: remove what follows from a "
                   "copy (korva-cli remove-chunk) and append to the copy";
    case Copy::DestinationFull:
        return d + " would pass the 4 GiB a WAV file can hold with " + std::to_string(nBytes) +
               " more bytes: extract the frames into a new file instead";
    case Copy::IoFailed:
    case Copy::NotRun:
    case Copy::Copied:
        break;
    }
    return "the copy failed: " + reason +
           (m_mode == Mode::Extract ? "; no file was left at " + d : "; " + d + " is as it was");
}

std::string FrameCopyCommand::copied(const CWavFile& source) const
{
    const std::string frames =
        range() + " of " + m_source + ": " + std::to_string(m_nTo - m_nFrom) + " frames";
    if (m_mode == Mode::Extract)
        return frames + ", " + std::to_string(uint64_t{m_nTo - m_nFrom} * source.m_nBlockAlign) +
               " bytes";
    return frames + "; its data chunk now holds " +
           std::to_string(CWavFile(m_destination.c_str()).GetFullFileRegionEnd()) + " whole frames";
}

int FrameCopyCommand::print(Kind kind, const std::string& detail) const
{
    korva::FileOutcome outcome;
    outcome.sourcePath = m_source;
    outcome.destinationPath = m_destination;
    outcome.kind = kind;
    outcome.detail = detail;
    file_commands::Print(outcome, m_bJson);
    return file_commands::StatusOf(kind);
}
