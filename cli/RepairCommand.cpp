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
    m_destination.addOptions(*m_command, "Folder for the repaired copies");
    m_format.emplace(*m_command, false);
    m_existing.emplace(*m_command);
    m_command->add_flag("--json", m_bJson, "One JSON object per file instead of a line");
    auto* quiet = m_command->add_flag("--quiet", m_bQuiet,
                                      "Print only the files that failed, and no summary");
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
    if (m_bQuiet && outcome.kind != Kind::Failed)
        return;
    file_commands::Print(outcome, m_bJson);
    for (const std::string& warning : outcome.warnings)
        std::cerr << "korva-cli: " << fs::path(outcome.sourcePath).filename().string() << ": "
                  << warning << '\n';
}

int RepairCommand::run()
{
    const std::vector<fs::path> sources = listedSources();
    if (sources.empty())
        return file_commands::UsageError("no .wav file among the files");
    if (const std::string refusal = file_commands::FolderRefusal(m_destination, sources);
        !refusal.empty())
        return file_commands::UsageError(refusal);
    file_commands::RemoveLeftovers(m_destination.folder);

    const std::optional<FormatChoice> choice = m_format->choice();
    if (!choice)
        return file_commands::kUsageError;

    // Ctrl-C is the window's Cancel: the batch stops after the current file.
    // SIGTERM (a shutdown) and SIGHUP (the terminal closed) do the same.
    const StopSignal stop;
    const OverwritePrompt prompt(stop.wakeFd());
    RepairJob job(
        m_destination.folder, *choice,
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
            outcome.destinationPath = (fs::path(m_destination.folder) / source.filename()).string();
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
        std::cerr << "korva-cli: " << summary << '\n';
    }
    return stop.requested() ? stop.exitStatus() : nStatus;
}
