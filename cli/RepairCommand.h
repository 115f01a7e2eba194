#pragma once

#include "ExistingFilePolicy.h"
#include "FileOutcome.h"
#include "FormatChoice.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// korva-cli repair: copies each listed .wav file into the destination folder
// and repairs the copy, one after the other, with the same RepairJob as the
// window.
//
// Standard output: one line per listed file, tab-separated: what became of it
// ("repaired", "repaired with warnings", "sizes repaired", "unchanged",
// "failed", "skipped", "not processed"), the destination path, the detail
// and its warnings; or with --json one object per file. Standard error:
// questions, notices and the summary. Exit status: 0 when every file was
// repaired (with warnings or not), left unchanged or skipped; 1 when a file
// failed or was not processed; 2 for a usage error; 130 when stopped by Ctrl-C.
// How korva-cli's user settles what a file cannot tell: the options to pass.
FormatChoice WithOptionHints(FormatChoice choice);

class RepairCommand
{
public:
    // Adds the "repair" subcommand and its options to app.
    explicit RepairCommand(CLI::App& app);

    bool chosen() const { return m_command->parsed(); }
    int run();

private:
    std::vector<std::filesystem::path> listedSources() const;
    std::optional<FormatChoice> formatChoice() const;
    void print(const korva::FileOutcome& outcome) const;

    CLI::App* m_command;
    std::vector<std::string> m_files;
    std::string m_destination;
    std::string m_rate;     // a number, or "auto" (also when not given)
    std::string m_bits;     // a number, or "auto" (also when not given)
    std::string m_channels; // a number, or "auto" (also when not given)
    bool m_bFloat = false;
    bool m_bStrict = false;
    std::optional<ExistingFilePolicy> m_existing;
    bool m_bJson = false;
    bool m_bQuiet = false;
    bool m_bVerbose = false;
};
