#include "FileReportCommand.h"

#include "FileCommands.h"
#include "TakeList.h"

#include "FileOutcome.h"
#include "WavReport.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <iomanip>
#include <iostream>
#include <sstream>

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

const char* yesNo(const void* p)
{
    return p != nullptr ? "yes" : "no";
}
} // namespace

FileReportCommand::FileReportCommand(CLI::App& app)
{
    m_command = app.add_subcommand("inspect", "Show the chunks and properties of each file and "
                                              "whether it can be repaired");
    m_command->add_flag("--json", m_bJson, "One JSON object per file, one per line");
    m_command
        ->add_option("FILE", m_files,
                     "Files to inspect, or folders: a card's takes, found by their content "
                     "through every subfolder")
        ->required();
}

int FileReportCommand::run() const
{
    int nStatus = 0;
    const TakeList list = TakeList::Of(
        std::vector<std::filesystem::path>(m_files.begin(), m_files.end()), TakeList::Named::Any);
    for (const TakeList::Take& take : list.takes)
    {
        const std::string path = take.source.string();
        const WavReport report = WavReport::Of(path);
        if (!report.error.empty())
        {
            std::cerr << "korva-cli: " << path << ": " << report.error << '\n';
            nStatus = 1;
        }
        if (m_bJson)
            file_commands::Write(jsonOf(report));
        else if (report.error.empty())
            file_commands::Write(textOf(report));
    }
    return nStatus;
}

namespace
{
const char* formName(RiffLayout::Form form)
{
    switch (form)
    {
    case RiffLayout::Form::Riff:
        return "RIFF";
    case RiffLayout::Form::Rf64:
        return "RF64";
    case RiffLayout::Form::NotRiff:
        break;
    }
    return "not RIFF";
}

using Quantity = FormatEvidence::Quantity;

const char* quantityName(Quantity quantity)
{
    switch (quantity)
    {
    case Quantity::SampleRate:
        return "sample rate";
    case Quantity::BitsPerSample:
        return "bit depth";
    case Quantity::IsFloat:
        return "float";
    case Quantity::Channels:
        break;
    }
    return "channels";
}

const char* verdictName(FormatEvidence::Verdict verdict)
{
    switch (verdict)
    {
    case FormatEvidence::Verdict::Agreed:
        return "agreed";
    case FormatEvidence::Verdict::Conflict:
        return "conflict";
    case FormatEvidence::Verdict::Absent:
        break;
    }
    return "absent";
}

// "48000 (iXML: <FILE_SAMPLE_RATE>48000</FILE_SAMPLE_RATE>; CodingHistory: F=48000)".
std::string fieldWords(const FormatEvidence::Field& field)
{
    std::string words = field.verdict == FormatEvidence::Verdict::Agreed
                            ? std::to_string(field.nValue)
                            : verdictName(field.verdict);
    std::string sources;
    for (const auto& finding : field.findings)
        sources += (sources.empty() ? "" : "; ") +
                   std::string(FormatEvidence::SourceName(finding.source)) +
                   (finding.bRulesOut ? " rules out " : ": ") +
                   (finding.bRulesOut ? std::to_string(finding.nValue) : finding.text);
    return sources.empty() ? words : words + " (" + sources + ")";
}

uint64_t wholeFrames(const WavReport& report)
{
    const auto* data = report.layout.Find("data");
    return data == nullptr || !report.format || report.format->nBlockAlign == 0
               ? 0
               : data->nPayload / report.format->nBlockAlign;
}
} // namespace

std::string FileReportCommand::textOf(const WavReport& report)
{
    std::ostringstream out;
    out << file_commands::Escaped(report.path) << '\n';
    out << "  form:            " << formName(report.layout.form) << '\n';
    out << "  length:          " << report.layout.nLength << " bytes\n";
    out << "  chunks:\n";
    for (const auto& entry : report.layout.entries)
    {
        if (entry.bHole)
            out << "    (hole)  offset " << entry.nOffset << "  length " << entry.nSize
                << "  starting " << readableId(entry.id) << '\n';
        else
            out << "    " << readableId(entry.id) << "  offset " << entry.nOffset << "  size "
                << entry.nSize
                << (entry.bUnfinished
                        ? "  (unfinished: " + std::to_string(entry.nPayload) + " bytes follow)"
                        : "")
                << (entry.bPad ? "  (pad byte)" : "")
                << (entry.bDamagedFormat
                        ? "  (damaged: a " + std::to_string(entry.nPayload) + "-byte body)"
                        : "")
                << '\n';
    }
    if (const auto& f = report.format)
        out << "  format:          " << (f->bDamaged ? "damaged fmt chunk: " : "") << "tag "
            << f->nFormatTag << ", " << f->nChannels << " channel(s), " << f->nSampleRate << " Hz, "
            << f->nBitsPerSample << " bit" << (f->bBitsMissing ? " (from the block align)" : "")
            << ", block align " << f->nBlockAlign << ", " << f->nBytesPerSec << " bytes/s\n";
    else
        out << "  format:          no fmt chunk\n";
    if (const auto* data = report.layout.Find("data"))
        out << "  data:            offset " << data->nOffset << ", " << data->nPayload << " bytes, "
            << wholeFrames(report) << " whole frames\n";
    else
        out << "  data:            no data chunk\n";
    if (report.timeReference)
        out << "  time reference:  " << *report.timeReference << '\n';
    else
        out << "  time reference:  "
            << (report.bHasBext ? "none (bext too short)" : "no bext chunk") << '\n';
    if (const auto& bext = report.bextText)
    {
        out << "  description:     " << bext->description << '\n';
        out << "  originator:      " << bext->originator << '\n';
        out << "  origination:     " << bext->originationDate << ' ' << bext->originationTime
            << '\n';
        out << "  coding history:  " << bext->codingHistory << '\n';
    }
    out << "  evidence:\n";
    for (const Quantity quantity : FormatEvidence::kQuantities)
        out << "    " << std::left << std::setw(13) << (quantityName(quantity) + std::string(":"))
            << fieldWords(report.evidence->Get(quantity)) << '\n';
    out << "  auto format:     "
        << (report.autoFormat.format ? korva::DescribeFormat(*report.autoFormat.format) + " (" +
                                           report.autoFormat.sources + ")"
                                     : report.autoFormat.problem)
        << '\n';
    out << "  regions:         " << report.nRegions << '\n';
    out << "  cue:             " << yesNo(report.layout.Find("cue ")) << '\n';
    out << "  AFJx:            " << yesNo(report.layout.Find("AFJx")) << '\n';
    out << "  action:          " << report.action() << '\n';
    out << "  verdict:         " << report.verdict() << '\n';
    return out.str();
}

std::string FileReportCommand::jsonOf(const WavReport& report)
{
    nlohmann::ordered_json json;
    json["path"] = file_commands::Escaped(report.path);
    if (!report.error.empty())
    {
        json["error"] = report.error;
        return json.dump() + '\n';
    }
    json["form"] = formName(report.layout.form);
    json["riff"] = report.layout.form != RiffLayout::Form::NotRiff;
    json["length"] = report.layout.nLength;
    json["chunks"] = nlohmann::ordered_json::array();
    for (const auto& entry : report.layout.entries)
    {
        nlohmann::ordered_json chunk = {{"id", readableId(entry.id)},
                                        {"offset", entry.nOffset},
                                        {"size", entry.nSize},
                                        {"hole", entry.bHole}};
        if (entry.bUnfinished || entry.bDamagedFormat)
            chunk["present"] = entry.nPayload;
        if (entry.bDamagedFormat)
            chunk["damaged"] = true;
        json["chunks"].push_back(chunk);
    }
    json["format"] = nullptr;
    if (const auto& f = report.format)
        json["format"] = {{"format_tag", f->nFormatTag},   {"channels", f->nChannels},
                          {"sample_rate", f->nSampleRate}, {"bytes_per_second", f->nBytesPerSec},
                          {"block_align", f->nBlockAlign}, {"bits_per_sample", f->nBitsPerSample}};
    if (report.format && report.format->bDamaged)
        json["format"]["damaged"] = true;
    json["data"] = nullptr;
    if (const auto* data = report.layout.Find("data"))
        json["data"] = {
            {"offset", data->nOffset}, {"length", data->nPayload}, {"frames", wholeFrames(report)}};
    json["bext"] = nullptr;
    if (const auto& bext = report.bextText)
        json["bext"] = {{"description", bext->description},
                        {"originator", bext->originator},
                        {"origination_date", bext->originationDate},
                        {"origination_time", bext->originationTime},
                        {"coding_history", bext->codingHistory}};
    json["evidence"] = nlohmann::ordered_json::object();
    for (const Quantity quantity : FormatEvidence::kQuantities)
    {
        const FormatEvidence::Field& field = report.evidence->Get(quantity);
        nlohmann::ordered_json findings = nlohmann::ordered_json::array();
        for (const auto& finding : field.findings)
            findings.push_back({{"source", FormatEvidence::SourceName(finding.source)},
                                {"value", finding.nValue},
                                {"text", finding.text},
                                {"rules_out", finding.bRulesOut}});
        json["evidence"][quantityName(quantity)] = {{"verdict", verdictName(field.verdict)},
                                                    {"value", field.nValue},
                                                    {"findings", findings}};
    }
    if (const auto& f = report.autoFormat.format)
        json["auto_format"] = {{"format_tag", f->nFormatTag},
                               {"channels", f->nChannels},
                               {"sample_rate", f->nSampleRate},
                               {"bits_per_sample", f->nBitsPerSample},
                               {"sources", report.autoFormat.sources}};
    else
        json["auto_format"] = {{"problem", report.autoFormat.problem}};
    json["time_reference"] = nullptr;
    if (report.timeReference)
        json["time_reference"] = *report.timeReference;
    json["regions"] = report.nRegions;
    json["cue"] = report.layout.Find("cue ") != nullptr;
    json["afjx"] = report.layout.Find("AFJx") != nullptr;
    json["action"] = report.action();
    json["verdict"] = report.verdict();
    // The path is escaped; the file's own texts need not be UTF-8 either:
    // replace what is not rather than fail.
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + '\n';
}
