#include "FileCommands.h"

#include "FormatChoice.h"
#include "TemporaryCopy.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{
int g_nOutputError = 0; // the first write to standard output that failed

// The length of the UTF-8 sequence at text's start, or 0 when it holds none:
// no overlong forms, surrogates or code points past U+10FFFF.
std::size_t utf8Length(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    const std::size_t nLength = lead < 0x80   ? 1
                                : lead < 0xC2 ? 0
                                : lead < 0xE0 ? 2
                                : lead < 0xF0 ? 3
                                : lead < 0xF5 ? 4
                                              : 0;
    if (nLength == 0 || nLength > text.size())
        return 0;
    // The second byte's range narrows after E0, ED, F0 and F4.
    const unsigned char lo = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char hi = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    for (std::size_t i = 1; i < nLength; ++i)
        if (byte(i) < (i == 1 ? lo : 0x80) || byte(i) > (i == 1 ? hi : 0xBF))
            return 0;
    return nLength;
}
} // namespace

namespace file_commands
{
std::string Escaped(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    while (!text.empty())
    {
        const auto c = static_cast<unsigned char>(text.front());
        const std::size_t nLength = utf8Length(text);
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\t')
            escaped += "\\t";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else if (c < 0x20 || c == 0x7F || nLength == 0)
        {
            constexpr char kHex[] = "0123456789ABCDEF";
            escaped += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
        }
        else
            escaped += text.substr(0, nLength);
        text.remove_prefix(std::max<std::size_t>(nLength, 1));
    }
    return escaped;
}

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
} // namespace file_commands
