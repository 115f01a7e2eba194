#include "FileCommands.h"

#include "FormatChoice.h"
#include "TemporaryCopy.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <iostream>
#include <set>

namespace fs = std::filesystem;

namespace file_commands
{
int UsageError(const std::string& what)
{
    std::cerr << "korva-cli: " << what << '\n';
    return kUsageError;
}

std::string FolderRefusal(const fs::path& folder, const std::vector<fs::path>& sources)
{
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return "the destination is not a folder: " + folder.string();
    std::set<fs::path> folders; // each once: most files share one
    for (const fs::path& source : sources)
        folders.insert(source.parent_path().empty() ? "." : source.parent_path());
    const bool bSourceFolder = std::any_of(folders.begin(), folders.end(),
                                           [&](const fs::path& sourceFolder)
                                           { return fs::equivalent(sourceFolder, folder, ec); });
    return bSourceFolder ? "the destination is a folder the files come from: " + folder.string()
                         : "";
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
        nlohmann::ordered_json json = {{"source", outcome.sourcePath},
                                       {"destination", outcome.destinationPath},
                                       {"kind", korva::KindWord(outcome.kind)},
                                       {"detail", outcome.detail},
                                       {"format", nullptr},
                                       {"warnings", outcome.warnings}};
        if (const auto& f = outcome.format)
            json["format"] = {{"format_tag", f->nFormatTag},
                              {"channels", f->nChannels},
                              {"sample_rate", f->nSampleRate},
                              {"bits_per_sample", f->nBitsPerSample},
                              {"block_align", f->BlockAlign()}};
        line = json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    else
        line = std::string(korva::KindWord(outcome.kind)) + '\t' + outcome.destinationPath + '\t' +
               FormatChoice::WithWarnings(outcome.detail, outcome.warnings);
    std::cout << line << std::endl;
}

int StatusOf(korva::FileOutcome::Kind kind)
{
    using Kind = korva::FileOutcome::Kind;
    return kind == Kind::Failed || kind == Kind::NotProcessed ? kNotAllDone : 0;
}
} // namespace file_commands
