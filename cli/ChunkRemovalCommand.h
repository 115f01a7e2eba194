#pragma once

#include "ExistingFilePolicy.h"
#include "FileCommands.h"
#include "FileOutcome.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// korva-cli remove-chunk: for each listed file, a copy in the destination
// folder without the first chunk named ID (with its pad byte), the RIFF size
// rewritten. Each source is checked first and only read; its copy is made
// under a temporary name in the folder, the chunk removed from it there, and
// the copy then takes the source's name, replacing a file of that name only
// as --existing says. A file the library refuses (not RIFF, RF64, larger than
// a RIFF size can state, no such chunk, a chunk cut off by the end of the
// file) gets no copy. ID is exactly four printable characters.
//
// Standard output: one line per file, tab-separated: "removed", "failed",
// "skipped" or "not processed"; the copy's path; the detail; with --json one
// object per file. Exit status: 0 when every file was done or skipped, 1 when
// one failed or was not processed (--existing stop ends the batch there), 2
// for a usage error; Ctrl-C, SIGTERM and SIGHUP end it after the current file
// with 130, 143 and 129.
class ChunkRemovalCommand
{
public:
    // Adds the "remove-chunk" command and its options to app.
    explicit ChunkRemovalCommand(CLI::App& app);

    bool chosen() const { return m_command->parsed(); }
    int run();

private:
    // Each gives the outcome's kind and detail; run() adds the paths.
    korva::FileOutcome remove(const std::filesystem::path& source,
                              const std::filesystem::path& relative, const OverwritePrompt& prompt);
    korva::FileOutcome copyWithout(const std::filesystem::path& source,
                                   const std::filesystem::path& target, bool bReplace);

    CLI::App* m_command;
    std::string m_id;
    file_commands::Destination m_destination;
    std::vector<std::string> m_files;
    bool m_bJson = false;
    std::optional<ExistingFilePolicy> m_existing;
    std::vector<uint8_t> m_buffer; // the copies' buffer, for every file of the batch
    bool m_bStopped = false;       // the user answered No: the rest are not processed
};
