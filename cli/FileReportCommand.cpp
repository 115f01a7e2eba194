#include "FileReportCommand.h"

#include "Trace.h"
#include "WavReport.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>

namespace
{
// A chunk identifier as four readable characters: a byte outside printable
// ASCII (or a backslash) is shown as \xNN, so damaged headers stay visible.
std::string readableId(const std::string& id)
{
    std::string text;
    for (const unsigned char c : id)
    {
        if (c >= 0x20 && c < 0x7F && c != '\\')
        {
            text += static_cast<char>(c);
            continue;
        }
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
        text += escaped;
    }
    return text;
}

const char* yesNo(bool b)
{
    return b ? "yes" : "no";
}
} // namespace

FileReportCommand::FileReportCommand(CLI::App& app)
{
    m_command = app.add_subcommand("inspect", "Show the chunks and properties of each file and "
                                              "whether it can be repaired");
    m_command->add_flag("--json", m_bJson, "One JSON object per file, one per line");
    m_command->add_option("FILE", m_files, "Files to inspect")->required();
}

int FileReportCommand::run() const
{
    // The walks' trace would mix with the report.
    CTrace::SetStream(nullptr);
    int nStatus = 0;
    for (const std::string& path : m_files)
    {
        const WavReport report = WavReport::Of(path);
        if (!report.error.empty())
        {
            std::cerr << "korva-cli: " << path << ": " << report.error << '\n';
            nStatus = 1;
        }
        if (m_bJson)
            printJson(report);
        else if (report.error.empty())
            printText(report);
    }
    return nStatus;
}

void FileReportCommand::printText(const WavReport& report)
{
    std::cout << report.path << '\n';
    std::cout << "  RIFF:            " << yesNo(report.bRiff) << '\n';
    std::cout << "  length:          " << report.nLength << " bytes\n";
    std::cout << "  chunks:\n";
    for (const auto& entry : report.chunks)
        std::cout << "    " << readableId(entry.id) << "  offset " << entry.nOffset << "  size "
                  << entry.nSize << (entry.bCutOff ? "  (cut off by the end of the file)" : "")
                  << '\n';
    if (report.bHasFormat)
        std::cout << "  format:          tag " << report.nFormatTag << ", " << report.nChannels
                  << " channel(s), " << report.nSampleRate << " Hz, " << report.nBitsPerSample
                  << " bit, block align " << report.nBlockAlign << ", " << report.nBytesPerSec
                  << " bytes/s\n";
    else
        std::cout << "  format:          no fmt chunk\n";
    if (report.bHasData)
        std::cout << "  data:            offset " << report.nDataOffset << ", length "
                  << report.nDataLength << " bytes, " << report.nFrames << " whole frames\n";
    else
        std::cout << "  data:            no data chunk\n";
    if (report.bHasBext)
        std::cout << "  time reference:  " << report.nTimeReference << '\n';
    else
        std::cout << "  time reference:  no bext chunk\n";
    std::cout << "  regions:         " << report.nRegions << '\n';
    std::cout << "  cue:             " << yesNo(report.bHasCue) << '\n';
    std::cout << "  AFJx:            " << yesNo(report.bHasAfjx) << '\n';
    std::cout << "  verdict:         " << report.verdict() << '\n';
}

void FileReportCommand::printJson(const WavReport& report)
{
    nlohmann::ordered_json json;
    json["path"] = report.path;
    if (!report.error.empty())
    {
        json["error"] = report.error;
        std::cout << json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return;
    }
    json["riff"] = report.bRiff;
    json["length"] = report.nLength;
    json["chunks"] = nlohmann::ordered_json::array();
    for (const auto& entry : report.chunks)
        json["chunks"].push_back({{"id", readableId(entry.id)},
                                  {"offset", entry.nOffset},
                                  {"size", entry.nSize},
                                  {"cut_off", entry.bCutOff}});
    json["format"] = nullptr;
    if (report.bHasFormat)
        json["format"] = {
            {"format_tag", report.nFormatTag},   {"channels", report.nChannels},
            {"sample_rate", report.nSampleRate}, {"bytes_per_second", report.nBytesPerSec},
            {"block_align", report.nBlockAlign}, {"bits_per_sample", report.nBitsPerSample}};
    json["data"] = nullptr;
    if (report.bHasData)
        json["data"] = {{"offset", report.nDataOffset},
                        {"length", report.nDataLength},
                        {"frames", report.nFrames}};
    json["time_reference"] = nullptr;
    if (report.bHasBext)
        json["time_reference"] = report.nTimeReference;
    json["regions"] = report.nRegions;
    json["cue"] = report.bHasCue;
    json["afjx"] = report.bHasAfjx;
    json["verdict"] = report.verdict();
    // Paths need not be UTF-8: replace what is not rather than fail.
    std::cout << json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}
