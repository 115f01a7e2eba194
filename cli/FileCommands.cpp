#include "FileCommands.h"

#include "TemporaryCopy.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <set>
#include <unistd.h>

namespace fs = std::filesystem;

namespace file_commands
{
int UsageError(const std::string& what)
{
    std::cerr << "korva-cli: " << what << '\n';
    return kUsageError;
}

std::string Reason(int nError)
{
    return nError == 0 ? "the file ended early" : std::strerror(nError);
}

std::optional<std::string> WhyUnreadable(const fs::path& source)
{
    std::error_code ec;
    const bool bThere = fs::is_regular_file(source, ec);
    if (bThere && access(source.c_str(), R_OK) == 0)
        return std::nullopt;
    return bThere ? "it cannot be read: permission denied"
                  : "it is no longer there (moved, renamed, or its card removed?)";
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

void Print(const nlohmann::ordered_json& outcome, bool bJson)
{
    const std::string line =
        bJson ? outcome.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
              : outcome["kind"].get<std::string>() + '\t' +
                    outcome["destination"].get<std::string>() + '\t' +
                    outcome["detail"].get<std::string>();
    std::cout << line << std::endl;
}

int StatusOf(const std::string& kind)
{
    return kind == "failed" || kind == "not processed" ? kNotAllDone : 0;
}
} // namespace file_commands
