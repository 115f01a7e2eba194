#pragma once

#include "FileOutcome.h"

#include <filesystem>
#include <string>
#include <vector>

// What korva-cli's commands that read files and write others share: the exit
// statuses, the checks made before anything is written, and a file's line.
namespace file_commands
{
constexpr int kNotAllDone = 1; // a file failed or was not processed
constexpr int kUsageError = 2;

// "korva-cli: what" on standard error; kUsageError.
int UsageError(const std::string& what);

// Why copies of sources cannot go into folder, as a usage error: it is no
// folder, or a folder a source comes from (by the folders themselves, so that
// "." and a link to one count too). "" when they can.
std::string FolderRefusal(const std::filesystem::path& folder,
                          const std::vector<std::filesystem::path>& sources);

// Removes the temporary files that runs no longer going left in folder (a
// second Ctrl-C, a crash), and says so on standard error.
void RemoveLeftovers(const std::filesystem::path& folder);

// One file's outcome on standard output in one write, so that a script reading
// the pipe sees each file as soon as it is done: "KIND\tDESTINATION\tDETAIL"
// (the detail followed by " — warning: " and each warning),
// or with bJson an object on a line: source, destination, kind, detail, the
// format written (or null) and the warnings (bytes of a path that are not
// UTF-8 replaced).
void Print(const korva::FileOutcome& outcome, bool bJson);
// The exit status a file's outcome makes: kNotAllDone for "failed" and "not
// processed", 0 for the rest.
int StatusOf(korva::FileOutcome::Kind kind);
} // namespace file_commands
