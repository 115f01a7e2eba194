#include "RescueCommand.h"

#include "FileCommands.h"
#include "RescueJob.h"
#include "StopSignal.h"

#include <iostream>
#include <map>

namespace fs = std::filesystem;
using korva::FileOutcome;
using Kind = FileOutcome::Kind;

RescueCommand::RescueCommand(CLI::App& app)
{
    m_command = app.add_subcommand(
        "rescue", "Find the takes a power cut left unfinished on a card (an image or the card's "
                  "device) and write each one, finished, into DIR");
    m_command
        ->add_option("-d,--dest", m_destination, "Folder for the rescued takes, not on the card")
        ->required()
        ->type_name("DIR");
    m_command->add_flag("--all", m_bAll, "Also copy the takes the card still holds whole");
    m_command->add_flag("--json", m_bJson, "One JSON object per take instead of a line");
    m_report.addOption(*m_command);
    m_command->add_flag("--quiet", m_bQuiet, "Print only the takes that failed, and no summary");
    m_command->add_option("SOURCE", m_source, "The card's image file or block device")->required();
}

int RescueCommand::run()
{
    std::error_code ec;
    if (!fs::is_directory(m_destination, ec))
        return file_commands::UsageError("the destination is not a folder: " + m_destination);
    if (const std::string refusal = RescueJob::WhyNotInto(m_source, m_destination);
        !refusal.empty())
        return file_commands::UsageError(refusal);

    RescueJob job(m_source, m_destination, m_bAll);
    // On a terminal, a large card's reading shows how far it is.
    file_commands::ProgressLine progress;
    if (progress.atTerminal())
        job.SetProgress(
            [&](uint64_t nDone, uint64_t nTotal)
            { progress.show("Reading " + file_commands::Escaped(m_source), nDone, nTotal); });
    std::string why;
    const bool bFound = job.Find(why);
    progress.clear();
    if (!bFound)
        return file_commands::UsageError(m_source + ": " + why + "; nothing was written");
    if (!m_bQuiet)
        std::cerr << "korva-cli: " << m_source << ": " << job.FileSystemName() << ", "
                  << job.Takes().size() << (job.Takes().size() == 1 ? " take" : " takes")
                  << " found\n";

    // Ctrl-C, SIGTERM and SIGHUP stop the rescue after the current take.
    const StopSignal stop;
    std::map<Kind, int> counts;
    BatchReport report;
    int nStatus = 0;
    bool bStopped = false;
    for (const TakeFinder::Take& take : job.Takes())
    {
        FileOutcome outcome;
        if (bStopped || stop.requested())
        {
            outcome.sourcePath = take.path;
            outcome.destinationPath = job.TargetOf(take).string();
            outcome.detail = "the rescue stopped before it";
        }
        else
        {
            outcome = job.Run(take);
            bStopped = job.StopsBatch();
        }
        ++counts[outcome.kind];
        nStatus = std::max(nStatus, file_commands::StatusOf(outcome.kind));
        if (!m_bQuiet || outcome.kind == Kind::Failed)
            file_commands::Print(outcome, m_bJson);
        report.Add(outcome);
    }
    // The takes are on the destination's disk before the rescue is called done.
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
        std::cerr << "korva-cli: " << (summary.empty() ? "no take found" : summary) << '\n';
    }
    nStatus = m_report.write(report, nStatus);
    return stop.requested() ? stop.exitStatus() : nStatus;
}
