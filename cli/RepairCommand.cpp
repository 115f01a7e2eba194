#include "RepairCommand.h"

#include "FileCommands.h"
#include "RepairJob.h"
#include "StopSignal.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <map>
#include <unistd.h>

namespace fs = std::filesystem;
using korva::FileOutcome;
using Kind = FileOutcome::Kind;

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

bool hasWavExtension(const fs::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".wav";
}

} // namespace

RepairCommand::RepairCommand(CLI::App& app)
{
    m_command = app.add_subcommand("repair", "Copy each file into DIR and repair the copy: a PCM "
                                             "fmt chunk where the lost one stood");
    m_command->add_option("--dest", m_destination, "Folder for the repaired copies")
        ->required()
        ->type_name("DIR");
    m_command
        ->add_option("--rate", m_rate,
                     "Sample rate written into the fmt chunk, 1000 to 768000; default (auto): "
                     "the file's")
        ->type_name("HZ")
        ->check(numberOrAuto("a whole number of hertz", 1000, 768000));
    m_command
        ->add_option("--bits", m_bits,
                     "Bits per sample: 8, 16, 24 or 32; 32 or 64 with --float; default (auto): "
                     "the file's")
        ->type_name("N")
        ->check(numberOrAuto("8, 16, 24, 32 or 64 bits", 8, 64));
    m_command->add_option("--channels", m_channels, "Channels, 1 to 64; default (auto): the file's")
        ->type_name("N")
        ->check(numberOrAuto("a number of channels", 1, 64));
    m_command->add_flag("--float", m_bFloat,
                        "IEEE float samples instead of integer PCM; without --bits, at the "
                        "file's depth (32 or 64)");
    m_command->add_flag("--auto")->description(
        "What the default does: each part no option gives from the file's own evidence (iXML, "
        "CodingHistory, time reference, the audio)");
    m_command->add_flag("--strict", m_bStrict,
                        "Fail a file whose metadata contradicts the chosen format");
    m_existing.emplace(*m_command);
    m_command->add_flag("--json", m_bJson, "One JSON object per file instead of a line");
    auto* quiet = m_command->add_flag(
        "--quiet", m_bQuiet, "Print only the files that failed or have warnings, and no summary");
    m_command->add_flag("--verbose", m_bVerbose, "Also print what the job does, on standard error")
        ->excludes(quiet);
    m_command->add_option("FILE", m_files, "Files to repair; only .wav files are listed")
        ->required();
}

std::vector<fs::path> RepairCommand::listedSources() const
{
    std::vector<fs::path> sources;
    for (const std::string& argument : m_files)
    {
        if (hasWavExtension(argument))
            sources.emplace_back(argument);
        else
            std::cerr << "korva-cli: skipped, not a .wav file: " << argument << '\n';
    }
    return sources;
}

void RepairCommand::print(const FileOutcome& outcome) const
{
    if (m_bQuiet && outcome.kind != Kind::Failed && outcome.warnings.empty())
        return;
    file_commands::Print(outcome, m_bJson);
}

FormatChoice WithOptionHints(FormatChoice choice)
{
    choice.rateHint = "pass --rate";
    choice.depthHint = "pass --bits (and --float for float samples)";
    choice.channelsHint = "pass --channels";
    return choice;
}

// The format as the options give it, each part they leave open to the file;
// nothing, after a message, when they ask for a depth that cannot be.
std::optional<FormatChoice> RepairCommand::formatChoice() const
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

int RepairCommand::run()
{
    const std::vector<fs::path> sources = listedSources();
    if (sources.empty())
        return file_commands::UsageError("no .wav file among the files");
    if (const std::string refusal = file_commands::FolderRefusal(m_destination, sources);
        !refusal.empty())
        return file_commands::UsageError(refusal);
    file_commands::RemoveLeftovers(m_destination);

    const std::optional<FormatChoice> choice = formatChoice();
    if (!choice)
        return file_commands::kUsageError;

    // Ctrl-C is the window's Cancel: the batch stops after the current file.
    StopSignal stop(
        []
        {
            // Straight to the descriptor: std::cerr first flushes std::cout,
            // which may be the very thing waiting on a full pipe.
            constexpr std::string_view kStopping =
                "korva-cli: stopping after the current file; Ctrl-C again ends at once\n";
            [[maybe_unused]] const auto nWritten =
                write(STDERR_FILENO, kStopping.data(), kStopping.size());
        });
    const OverwritePrompt prompt(stop.wakeFd());
    RepairJob job(
        m_destination, *choice,
        [&](const std::string& name) { return m_existing->answer(name, prompt); },
        [this](const std::string& line)
        {
            if (m_bVerbose)
                std::cerr << "korva-cli: " + line + '\n';
        });

    std::map<Kind, int> counts;
    int nStatus = 0;
    bool bStopped = false;
    for (const fs::path& source : sources)
    {
        FileOutcome outcome;
        if (bStopped || stop.requested())
        {
            outcome.sourcePath = source.string();
            outcome.destinationPath = (fs::path(m_destination) / source.filename()).string();
            outcome.detail = "the batch stopped before it";
        }
        else
        {
            outcome = job.Run(source);
            bStopped = job.StopsBatch();
        }
        ++counts[outcome.kind];
        nStatus = std::max(nStatus, file_commands::StatusOf(outcome.kind));
        print(outcome);
    }

    if (!m_bQuiet)
    {
        std::string summary;
        for (const auto& [kind, n] : counts)
            summary +=
                (summary.empty() ? "" : ", ") + std::to_string(n) + " " + korva::KindWord(kind);
        std::cerr << "korva-cli: " << summary << '\n';
    }
    if (stop.requested())
        return StopSignal::kExitStatus;
    return nStatus;
}
