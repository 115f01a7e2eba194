#include "RepairCommand.h"

#include "FileCommands.h"
#include "RepairJob.h"
#include "StopSignal.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <map>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;
using korva::FileOutcome;
using Kind = FileOutcome::Kind;

RepairCommand::RepairCommand(CLI::App& app)
{
    m_command = app.add_subcommand("repair", "Copy each file into DIR and repair the copy: a PCM "
                                             "fmt chunk where the lost one stood");
    m_destination.addOptions(*m_command, "Folder for the repaired copies");
    m_format.emplace(*m_command);
    m_existing.emplace(*m_command);
    m_command->add_flag("--json", m_bJson, "One JSON object per file instead of a line");
    m_report.addOption(*m_command);
    auto* quiet = m_command->add_flag(
        "--quiet", m_bQuiet, "Print only the files that failed or have warnings, and no summary");
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
    if (m_bQuiet && outcome.kind != Kind::Failed && outcome.warnings.empty())
        return;
    file_commands::Print(outcome, m_bJson);
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

    const std::optional<FormatChoice> choice = m_format->choice();
    if (!choice)
        return file_commands::kUsageError;

    // Ctrl-C is the window's Cancel: the batch stops after the current file.
    // SIGTERM (a shutdown) and SIGHUP (the terminal closed) do the same.
    const StopSignal stop;
    const OverwritePrompt prompt(stop.wakeFd());
    RepairJob job(
        m_destination.folder, *choice,
        [&](const RepairJob::Question& question)
        { return m_existing->answer(question.name, prompt, question.Comparison()); },
        [this](const std::string& line)
        {
            if (m_bVerbose)
                std::cerr << "korva-cli: " + line + '\n';
        });

    // On a terminal, a large file's copy shows how far it is, cleared before the file's result.
    const TakeList::Take* current = nullptr;
    file_commands::ProgressLine progress;
    if (progress.atTerminal())
        job.SetProgress(
            [&](uint64_t nDone, uint64_t nTotal) {
                progress.show("Copying " + file_commands::Escaped(current->relative.string()),
                              nDone, nTotal);
            });

    std::map<Kind, int> counts;
    BatchReport report;
    int nStatus = 0;
    bool bStopped = false;
    for (const TakeList::Take& take : list.takes)
    {
        current = &take;
        FileOutcome outcome;
        if (bStopped || stop.requested())
        {
            outcome.sourcePath = take.source.string();
            outcome.destinationPath = (fs::path(m_destination.folder) / take.relative).string();
            outcome.detail = "the batch stopped before it";
        }
        else
        {
            outcome = job.Run(take.source, take.relative, list.CardTakes(take));
            bStopped = job.StopsBatch();
        }
        progress.clear();
        ++counts[outcome.kind];
        nStatus = std::max(nStatus, file_commands::StatusOf(outcome.kind));
        print(outcome);
        report.Add(outcome);
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
    nStatus = m_report.write(report, nStatus);
    return stop.requested() ? stop.exitStatus() : nStatus;
}
