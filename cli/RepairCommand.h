#pragma once

#include "ExistingFilePolicy.h"
#include "FileCommands.h"
#include "FileOutcome.h"
#include "FormatOptions.h"
#include "TakeList.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// korva-cli repair: copies each listed .wav file, and each take in the folders
// listed, into the destination folder (a take found in a folder at its path
// under the folder given) and repairs the copy, one after the other, with the
// same RepairJob as the window.
//
// Standard output: one line per listed file, tab-separated: what became of it
// ("repaired", "repaired with warnings", "sizes repaired", "unchanged",
// "failed", "skipped", "not processed"), the destination path, the detail and
// its warnings, escaped; or with --json one object per file. Standard error:
// questions, notices and the summary. Exit status: 0 when every file was
// repaired (with warnings or not), left unchanged or skipped; 1 when a file
// failed or was not processed, or standard output could not be written; 2 for
// a usage error; 130 when stopped by Ctrl-C, 143 by SIGTERM, 129 by SIGHUP.
class RepairCommand
{
public:
    // Adds the "repair" subcommand and its options to app.
    explicit RepairCommand(CLI::App& app);

    bool chosen() const { return m_command->parsed(); }
    int run();

private:
    TakeList listedTakes() const;
    void print(const korva::FileOutcome& outcome) const;

    CLI::App* m_command;
    std::vector<std::string> m_files;
    file_commands::Destination m_destination;
    std::optional<FormatOptions> m_format;
    std::optional<ExistingFilePolicy> m_existing;
    file_commands::ReportFile m_report;
    bool m_bJson = false;
    bool m_bQuiet = false;
    bool m_bVerbose = false;
};
