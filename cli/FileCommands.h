#pragma once

#include "BatchReport.h"
#include "FileOutcome.h"
#include "TakeList.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// What korva-cli's commands that read files and write others share: the exit
// statuses, the checks made before anything is written, and a file's line.
namespace file_commands
{
constexpr int kNotAllDone = 1; // a file failed or was not processed
constexpr int kUsageError = 2;

// "korva-cli: what" on standard error; kUsageError.
int UsageError(const std::string& what);

// The destination folder's options: -d/--dest DIR (required) and --parents.
struct Destination
{
    std::string folder;
    bool bCreate = false; // --parents: make it, and the folders above it

    void addOptions(CLI::App& command, const std::string& help);
};

// The --report FILE option: a record of every file of the run, as CSV or,
// for a name ending in .txt, as text (see BatchReport).
struct ReportFile
{
    std::string path; // "": no report asked for

    void addOption(CLI::App& command);
    // Writes report to the file when one was asked for. nStatus, or
    // kNotAllDone at least when it could not be written, which standard
    // error says with the reason.
    int write(const BatchReport& report, int nStatus) const;
};

// Why copies of the takes cannot go into the destination, as a usage error: it
// does not exist (and was not to be made, or could not be), it is no folder,
// a folder a take comes from (by the folders themselves, so that "." and a
// link to one count too), or one inside a folder given. "" when they can.
std::string FolderRefusal(const Destination& destination, const TakeList& takes);

// How many files the walk of the folders given passed over.
std::size_t PassedOverInFolders(const TakeList& takes);

// Removes the temporary files that runs no longer going left in folder (a
// second Ctrl-C, a crash), and says so on standard error.
void RemoveLeftovers(const std::filesystem::path& folder);

// Paths and details as korva-cli prints them: see korva::Escaped.
using korva::Escaped;

// text on standard output whole, at once. The first write that fails (a full
// disk, /dev/full) is said on standard error, and OutputStatus makes the exit
// status 1 at least; what follows it is not written.
void Write(std::string_view text);
// nStatus, or kNotAllDone when it is 0 and standard output could not be written.
int OutputStatus(int nStatus);

// One file's outcome on standard output in one write, so that a script reading
// the pipe sees each file as soon as it is done: "KIND\tDESTINATION\tDETAIL"
// (the detail followed by " — warning: " and each warning),
// or with bJson an object on a line: source, destination, kind, detail, the
// format written (or null) and the warnings. Paths, detail and warnings are
// Escaped in both forms.
void Print(const korva::FileOutcome& outcome, bool bJson);
// On a terminal, how far a long step is (a large file's copy, a card's
// reading) on one line of standard error, rewritten as it goes and cleared
// before the next line; nothing anywhere else.
class ProgressLine
{
public:
    ProgressLine();
    bool atTerminal() const { return m_bTerminal; }
    // "What: 8.4 of 21.0 MB".
    void show(const std::string& what, uint64_t nDone, uint64_t nTotal);
    // Clears the line when one is shown.
    void clear();

private:
    bool m_bTerminal;
    bool m_bShown = false;
};

// The exit status a file's outcome makes: kNotAllDone for "failed" and "not
// processed", 0 for the rest.
int StatusOf(korva::FileOutcome::Kind kind);
} // namespace file_commands
