#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
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

// What the system's error number means, in words; for 0 (a read that came up
// short) "the file ended early".
std::string Reason(int nError);

// Why a listed file cannot be read ("it is no longer there (...)", "it cannot
// be read: permission denied"); nothing when it can.
std::optional<std::string> WhyUnreadable(const std::filesystem::path& source);

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
// from the object's fields of those names, or with bJson the whole object on
// a line (bytes of a path that are not UTF-8 replaced).
void Print(const nlohmann::ordered_json& outcome, bool bJson);
// The exit status a file's outcome makes: kNotAllDone for "failed" and "not
// processed", 0 for the rest.
int StatusOf(const std::string& kind);
} // namespace file_commands
