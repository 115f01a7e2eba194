#pragma once

#include "FileCommands.h"

#include <CLI/CLI.hpp>

#include <string>

// korva-cli rescue: reads a card (its image or its block device) through its
// file system, finds the takes a power cut left unfinished, and writes each
// one into the destination folder as its recorder would have closed it, with
// the same RescueJob the window is to run.
//
// Standard output: one line per take, tab-separated: what became of it
// ("rescued", "intact", "listed", "failed"), the destination path, the detail
// (format, duration, frames, clusters, why it ended); or with --json one
// object per take. Standard error: notices and the summary. Exit status as
// repair's: 0 when every take was rescued, intact or listed; 1 when one
// failed or was not reached; 2 for a usage error or a card that cannot be
// read; 130, 143 or 129 when stopped by Ctrl-C, SIGTERM or SIGHUP.
class RescueCommand
{
public:
    // Adds the "rescue" subcommand and its options to app.
    explicit RescueCommand(CLI::App& app);

    bool chosen() const { return m_command->parsed(); }
    int run();

private:
    CLI::App* m_command;
    std::string m_source;
    std::string m_destination;
    bool m_bAll = false;
    bool m_bJson = false;
    bool m_bQuiet = false;
    file_commands::ReportFile m_report;
};
