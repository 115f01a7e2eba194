#include "RepairCommand.h"

#include "FileCommands.h"
#include "RepairJob.h"
#include "StopSignal.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <map>

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

RepairCommand::RepairCommand(CLI::App& app)
{
    m_command = app.add_subcommand("repair", "Copy each file into DIR and repair the copy: a PCM "
                                             "fmt chunk where the lost one stood");
    m_destination.addOptions(*m_command, "Folder for the repaired copies");
    m_command
        ->add_option("-r,--rate", m_rate,
                     "Sample rate written into the fmt chunk, 1000 to 768000 (or in kHz: 48k, "
                     "44.1k), or auto: the file's")
        ->type_name("HZ")
        ->transform(rateOrAuto());
    m_command
        ->add_option("-b,--bits", m_bits,
                     "Bits per sample: 8, 16, 24 or 32; 32 or 64 with --float; or auto: the file's")
        ->type_name("N")
        ->check(numberOrAuto("8, 16, 24, 32 or 64 bits", 8, 64));
    m_command->add_option("-c,--channels", m_channels, "Channels, 1 to 64 (default 1), or auto")
        ->type_name("N")
        ->check(numberOrAuto("a number of channels", 1, 64));
    m_command->add_flag("--float", m_bFloat, "IEEE float samples instead of integer PCM");
    m_command->add_flag("--auto", m_bAuto,
                        "Rate, bits and channels from each file's own evidence (iXML, "
                        "CodingHistory, time reference, the audio)");
    m_command->add_flag("--strict", m_bStrict,
                        "Fail a file whose metadata contradicts the chosen format");
    m_existing.emplace(*m_command);
    m_command->add_flag("--json", m_bJson, "One JSON object per file instead of a line");
    auto* quiet = m_command->add_flag("--quiet", m_bQuiet,
                                      "Print only the files that failed, and no summary");
    m_command->add_flag("--verbose", m_bVerbose, "Also print what the job does, on standard error")
        ->excludes(quiet);
    m_command
        ->add_option("FILE", m_files,
                     "Files to repair (only .wav files are listed), or folders: a card's "
                     "takes, found by their content through every subfolder")
        ->required();
}

TakeList RepairCommand::listedTakes() const
{
    TakeList list = TakeList::Of(std::vector<fs::path>(m_files.begin(), m_files.end()),
                                 TakeList::Named::WavOnly);
    for (const TakeList::PassedOver& file : list.passedOver)
        if (file.bNamed)
            std::cerr << "korva-cli: skipped, " << file.why << ": " << file.path.string() << '\n';
        else if (m_bVerbose)
            std::cerr << "korva-cli: passed over, " << file.why << ": " << file.path.string()
                      << '\n';
    return list;
}

void RepairCommand::print(const FileOutcome& outcome) const
{
    if (m_bQuiet && outcome.kind != Kind::Failed)
        return;
    file_commands::Print(outcome, m_bJson);
    for (const std::string& warning : outcome.warnings)
        std::cerr << "korva-cli: " << fs::path(outcome.sourcePath).filename().string() << ": "
                  << warning << '\n';
}

FormatChoice WithOptionHints(FormatChoice choice)
{
    choice.rateHint = "pass --rate";
    choice.depthHint = "pass --bits (and --float for float samples)";
    choice.channelsHint = "pass --channels";
    return choice;
}

// The format as the options give it; nothing, after a message, when they
// leave a part open or ask for a depth that cannot be.
std::optional<FormatChoice> RepairCommand::formatChoice() const
{
    FormatChoice choice;
    const auto part = [this](const std::string& value) -> std::optional<uint32_t>
    { return m_bAuto || value == "auto" ? std::nullopt : std::optional(std::stoul(value)); };
    for (const auto& [value, option] : {std::pair{m_rate, "--rate"}, {m_bits, "--bits"}})
        if (value.empty() && !m_bAuto)
        {
            std::cerr << "korva-cli: " << option << " is needed, or --auto\n";
            return std::nullopt;
        }
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
        choice.bFloat = m_bFloat;
    }
    if (const auto channels = part(m_channels))
        choice.nChannels = static_cast<uint16_t>(*channels);
    choice.bStrict = m_bStrict;
    return WithOptionHints(choice);
}

int RepairCommand::run()
{
    const TakeList list = listedTakes();
    if (list.takes.empty())
        return file_commands::UsageError(list.folders.empty()
                                             ? "no .wav file among the files"
                                             : "no WAVE file among the files and folders");
    if (const std::string refusal = file_commands::FolderRefusal(m_destination, list);
        !refusal.empty())
        return file_commands::UsageError(refusal);
    file_commands::RemoveLeftovers(m_destination.folder);

    const std::optional<FormatChoice> choice = formatChoice();
    if (!choice)
        return file_commands::kUsageError;

    // Ctrl-C is the window's Cancel: the batch stops after the current file.
    // SIGTERM (a shutdown) and SIGHUP (the terminal closed) do the same.
    const StopSignal stop;
    const OverwritePrompt prompt(stop.wakeFd());
    RepairJob job(
        m_destination.folder, *choice,
        [&](const RepairJob::Question& question)
        { return m_existing->answer(question.name, prompt); },
        [this](const std::string& line)
        {
            if (m_bVerbose)
                std::cerr << "korva-cli: " + line + '\n';
        });

    std::map<Kind, int> counts;
    int nStatus = 0;
    bool bStopped = false;
    for (const TakeList::Take& take : list.takes)
    {
        FileOutcome outcome;
        if (bStopped || stop.requested())
        {
            outcome.sourcePath = take.source.string();
            outcome.destinationPath = (fs::path(m_destination.folder) / take.relative).string();
            outcome.detail = "the batch stopped before it";
        }
        else
        {
            outcome = job.Run(take.source, take.relative);
            bStopped = job.StopsBatch();
        }
        ++counts[outcome.kind];
        nStatus = std::max(nStatus, file_commands::StatusOf(outcome.kind));
        print(outcome);
    }

    // The copies are on the destination's disk before the batch is called done.
    if (const std::optional<std::string> problem = job.FlushDestination())
    {
        std::cerr << "korva-cli: " << *problem << '\n';
        nStatus = std::max(nStatus, int{file_commands::kNotAllDone});
    }
    if (!m_bQuiet)
    {
        std::string summary;
        for (const auto& [kind, n] : counts)
            summary +=
                (summary.empty() ? "" : ", ") + std::to_string(n) + " " + korva::KindWord(kind);
        if (const std::size_t nFound = file_commands::PassedOverInFolders(list))
            summary += ", " + std::to_string(nFound) + " passed over (not takes: --verbose " +
                       "lists them)";
        std::cerr << "korva-cli: " << summary << '\n';
    }
    return stop.requested() ? stop.exitStatus() : nStatus;
}
