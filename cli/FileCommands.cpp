#include "FileCommands.h"

#include "FormatChoice.h"
#include "TemporaryCopy.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

namespace
{
int g_nOutputError = 0; // the first write to standard output that failed
} // namespace

namespace file_commands
{
void Write(std::string_view text)
{
    while (!text.empty() && g_nOutputError == 0)
    {
        const ssize_t nWritten = ::write(STDOUT_FILENO, text.data(), text.size());
        if (nWritten > 0)
            text.remove_prefix(static_cast<std::size_t>(nWritten));
        else if (nWritten == 0 || errno != EINTR)
        {
            g_nOutputError = nWritten == 0 ? EIO : errno;
            std::cerr << "korva-cli: the results could not be written to standard output ("
                      << std::strerror(g_nOutputError)
                      << "): those from here on are lost, and the exit status is 1\n";
        }
    }
}

int OutputStatus(int nStatus)
{
    return nStatus == 0 && g_nOutputError != 0 ? kNotAllDone : nStatus;
}

int UsageError(const std::string& what)
{
    std::cerr << "korva-cli: " << what << '\n';
    return kUsageError;
}

void Destination::addOptions(CLI::App& command, const std::string& help)
{
    command.add_option("-d,--dest", folder, help)->required()->type_name("DIR");
    command.add_flag("--parents", bCreate,
                     "Create DIR, and the folders above it, when it does not exist");
}

void ReportFile::addOption(CLI::App& command)
{
    command
        .add_option("--report", path,
                    "Also write a report of every file to FILE: CSV (UTF-8, a header row, one "
                    "row per file), or text to read for a name ending in .txt")
        ->type_name("FILE");
}

int ReportFile::write(const BatchReport& report, int nStatus) const
{
    if (path.empty())
        return nStatus;
    const std::optional<std::string> problem = report.Write(path);
    if (!problem)
        return nStatus;
    std::cerr << "korva-cli: " << Escaped(*problem) << '\n';
    return std::max(nStatus, int{kNotAllDone});
}

std::string FolderRefusal(const Destination& destination, const TakeList& takes)
{
    const fs::path folder = destination.folder;
    std::error_code ec;
    if (fs::symlink_status(folder, ec).type() == fs::file_type::not_found)
    {
        if (!destination.bCreate)
            return "the destination folder does not exist: " + folder.string() +
                   "; create it, or pass --parents to have it created";
        if (fs::create_directories(folder, ec); ec)
            return "the destination folder could not be created: " + folder.string() + ": " +
                   korva::SystemErrorWords(ec.value());
    }
    if (!fs::is_directory(folder, ec))
        return "the destination is not a folder: " + folder.string();
    return takes.DestinationRefusal(folder);
}

std::size_t PassedOverInFolders(const TakeList& takes)
{
    return static_cast<std::size_t>(std::count_if(takes.passedOver.begin(), takes.passedOver.end(),
                                                  [](const TakeList::PassedOver& file)
                                                  { return !file.bNamed; }));
}

void RemoveLeftovers(const fs::path& folder)
{
    if (const auto leftovers = TemporaryCopy::RemoveLeftovers(folder); !leftovers.empty())
        std::cerr << "korva-cli: removed " << leftovers.size()
                  << " unfinished temporary file(s) that an interrupted run left in "
                  << folder.string() << '\n';
}

void Print(const korva::FileOutcome& outcome, bool bJson)
{
    std::string line;
    if (bJson)
    {
        nlohmann::ordered_json warnings = nlohmann::ordered_json::array();
        for (const std::string& warning : outcome.warnings)
            warnings.push_back(Escaped(warning));
        nlohmann::ordered_json json = {{"source", Escaped(outcome.sourcePath)},
                                       {"destination", Escaped(outcome.destinationPath)},
                                       {"kind", korva::KindWord(outcome.kind)},
                                       {"detail", Escaped(outcome.detail)},
                                       {"format", nullptr},
                                       {"warnings", warnings}};
        if (const auto& f = outcome.format)
            json["format"] = {{"format_tag", f->nFormatTag},
                              {"channels", f->nChannels},
                              {"sample_rate", f->nSampleRate},
                              {"bits_per_sample", f->nBitsPerSample},
                              {"block_align", f->BlockAlign()}};
        line = json.dump();
    }
    else
        line = std::string(korva::KindWord(outcome.kind)) + '\t' +
               Escaped(outcome.destinationPath) + '\t' +
               Escaped(FormatChoice::WithWarnings(outcome.detail, outcome.warnings));
    Write(line + '\n');
}

int StatusOf(korva::FileOutcome::Kind kind)
{
    using Kind = korva::FileOutcome::Kind;
    return kind == Kind::Failed || kind == Kind::NotProcessed ? kNotAllDone : 0;
}
ProgressLine::ProgressLine() : m_bTerminal(isatty(STDERR_FILENO) == 1) {}

void ProgressLine::show(const std::string& what, uint64_t nDone, uint64_t nTotal)
{
    std::cerr << "\r\033[K" << what << ": " << korva::DescribeProgress(nDone, nTotal) << std::flush;
    m_bShown = true;
}

void ProgressLine::clear()
{
    if (std::exchange(m_bShown, false))
        std::cerr << "\r\033[K" << std::flush;
}
} // namespace file_commands
