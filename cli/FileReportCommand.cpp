#include "FileReportCommand.h"

#include "FileCommands.h"
#include "TakeList.h"

#include "FileOutcome.h"
#include "WavReport.h"
#include "WaveformPng.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <sstream>

namespace
{
// Text from a file on one line: a control byte (CR, LF, tab and the others)
// and a backslash are escaped, so that every field keeps its line. With
// bAsciiOnly, as for chunk identifiers, any byte outside printable ASCII too,
// so that damaged headers stay visible.
std::string escaped(const std::string& text, bool bAsciiOnly)
{
    std::string line;
    for (const unsigned char c : text)
    {
        const char* named = c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : nullptr;
        if (named != nullptr && !bAsciiOnly)
            line += named;
        else if ((c >= 0x20 && c < 0x7F && c != '\\') || (c >= 0x80 && !bAsciiOnly))
            line += static_cast<char>(c);
        else if (c == '\\' && !bAsciiOnly)
            line += "\\\\";
        else
        {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            line += hex;
        }
    }
    return line;
}

std::string readableId(const std::string& id)
{
    return escaped(id, true);
}

const char* yesNo(const void* p)
{
    return p != nullptr ? "yes" : "no";
}
} // namespace

FileReportCommand::FileReportCommand(CLI::App& app)
{
    m_command = app.add_subcommand("inspect", "Show the chunks and properties of each file and "
                                              "what the repair would make of it");
    m_format.emplace(*m_command);
    auto* json = m_command->add_flag("--json", m_bJson, "One JSON object per file, one per line");
    m_command
        ->add_flag("--brief", m_bBrief,
                   "One line per file: its path, status, format (or what is missing) and "
                   "duration, tab-separated")
        ->excludes(json);
    m_command
        ->add_option("--waveform", m_waveform,
                     "Draw the take's waveform as a PNG: 1000 pixels wide, each channel a lane "
                     "100 pixels high (one take only)")
        ->type_name("PNG");
    m_report.addOption(*m_command);
    m_command
        ->add_option("FILE", m_files,
                     "Files to inspect, or folders: a card's takes, found by their content "
                     "through every subfolder")
        ->required();
}

int FileReportCommand::run() const
{
    const std::optional<FormatChoice> choice = m_format->choice();
    if (!choice)
        return file_commands::kUsageError;
    int nStatus = 0;
    BatchReport batch;
    const TakeList list = TakeList::Of(
        std::vector<std::filesystem::path>(m_files.begin(), m_files.end()), TakeList::Named::Any);
    const std::size_t nGiven = std::max(m_files.size(), list.takes.size());
    if (!m_waveform.empty() && nGiven > 1)
        return file_commands::UsageError("--waveform draws one take, and " +
                                         std::to_string(nGiven) + " were given: name one file");
    std::error_code error;
    if (!m_waveform.empty() && !list.takes.empty() &&
        std::filesystem::equivalent(m_waveform, list.takes[0].source, error))
        return file_commands::UsageError("--waveform " + m_waveform +
                                         " is the take itself: name a new file for the picture");
    for (const TakeList::Take& take : list.takes)
    {
        const std::string path = take.source.string();
        const WavReport report =
            WavReport::Of(path, *choice, list.CardTakes(take),
                          m_waveform.empty() ? std::size_t{1} : waveform_png::kColumns);
        if (!report.error.empty())
        {
            std::cerr << "korva-cli: " << path << ": " << report.error << '\n';
            nStatus = 1;
        }
        if (m_bJson)
            file_commands::Write(jsonOf(report));
        else if (m_bBrief)
            file_commands::Write(briefOf(report));
        else if (report.error.empty())
            file_commands::Write(textOf(report));
        batch.Add(outcomeOf(report));
        if (!m_waveform.empty() && report.error.empty() && !drawWaveform(report))
            nStatus = 1;
    }
    return m_report.write(batch, nStatus);
}

bool FileReportCommand::drawWaveform(const WavReport& report) const
{
    const std::string why = report.overview ? waveform_png::Write(m_waveform, *report.overview)
                                            : "there is no audio to draw: " + report.noOverview;
    if (!why.empty())
        std::cerr << "korva-cli: " << file_commands::Escaped(m_waveform)
                  << ": no waveform written: " << why << '\n';
    return why.empty();
}

korva::FileOutcome FileReportCommand::outcomeOf(const WavReport& report)
{
    korva::FileOutcome outcome;
    outcome.sourcePath = report.path;
    outcome.kind =
        report.error.empty() ? korva::FileOutcome::Kind::Listed : korva::FileOutcome::Kind::Failed;
    outcome.detail = report.error.empty() ? report.verdict() : report.error;
    if (report.preview.action == RepairJob::Preview::Action::WriteFormat)
    {
        outcome.format = report.preview.format;
        outcome.formatSources = report.preview.sources;
    }
    outcome.warnings = report.preview.warnings;
    if (const auto frames = report.frames())
        outcome.seconds = frames->Seconds();
    return outcome;
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

const char* quantityKey(Quantity quantity)
{
    switch (quantity)
    {
    case Quantity::SampleRate:
        return "sample_rate";
    case Quantity::BitsPerSample:
        return "bit_depth";
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

// What a finding says: the text it was read from ("F=48000"), or for the
// audio what its samples read best as ("reads best as 24-bit samples").
std::string findingText(Quantity quantity, const FormatEvidence::Finding& finding)
{
    if (finding.source != FormatEvidence::Source::Audio)
        return finding.text;
    const std::string n = std::to_string(finding.nValue);
    switch (quantity)
    {
    case Quantity::BitsPerSample:
        return "reads best as " + n + "-bit samples";
    case Quantity::IsFloat:
        return finding.nValue ? "reads best as float samples" : "reads best as integer samples";
    case Quantity::Channels:
        return "reads best as " + (finding.nValue == 1 ? "one channel" : n + " channels");
    case Quantity::SampleRate:
        break;
    }
    return "reads best at " + n + " Hz";
}

// "48000 (iXML: <FILE_SAMPLE_RATE>48000</FILE_SAMPLE_RATE>; CodingHistory: F=48000)".
std::string fieldWords(Quantity quantity, const FormatEvidence::Field& field)
{
    std::string words = field.verdict == FormatEvidence::Verdict::Agreed
                            ? std::to_string(field.nValue)
                            : verdictName(field.verdict);
    std::string sources;
    for (const auto& finding : field.findings)
        sources += (sources.empty() ? "" : "; ") +
                   std::string(FormatEvidence::SourceName(finding.source)) +
                   (finding.bRulesOut ? " rules out " + std::to_string(finding.nValue)
                                      : ": " + escaped(findingText(quantity, finding), false));
    return sources.empty() ? words : words + " (" + sources + ")";
}

// "-3.1 dBFS", or "silent" for digital silence.
std::string decibels(double dDb)
{
    return std::isinf(dDb) ? "silent" : korva::DescribeLevel(dDb);
}

// "channel 1: -3.1 dBFS peak, -18.4 dBFS RMS; channel 2: ...", a mono take's
// without its channel, and how the levels were read; or why there are none.
std::string levelWords(const WavReport& report)
{
    if (!report.overview)
        return "none: " + report.noOverview;
    const auto& channels = report.overview->channels;
    std::string words;
    for (std::size_t k = 0; k < channels.size(); ++k)
        words += (k == 0 ? "" : "; ") +
                 (channels.size() == 1 ? "" : "channel " + std::to_string(k + 1) + ": ") +
                 decibels(channels[k].dPeakDb) + " peak, " + decibels(channels[k].dRmsDb) + " RMS";
    return words + (report.overview->bSampled ? " (sampled: read from windows spread over the take)"
                                              : " (every sample read)");
}

// A level in JSON: null for digital silence.
nlohmann::ordered_json decibelsJson(double dDb)
{
    return std::isinf(dDb) ? nlohmann::ordered_json() : nlohmann::ordered_json(dDb);
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
    {
        out << "  data:            offset " << data->nOffset << ", " << data->nPayload
            << " bytes\n";
        const auto frames = report.frames();
        out << "  frames:          "
            << (frames ? std::to_string(frames->nFrames) + " at " +
                             std::to_string(frames->nSampleRate) + " Hz, " +
                             korva::DurationWords(frames->Seconds())
                       : std::string("unknown: no format to count them in"))
            << '\n';
    }
    else
        out << "  data:            no data chunk\n";
    out << "  levels:          " << levelWords(report) << '\n';
    if (report.timeReference)
        out << "  time reference:  " << *report.timeReference << '\n';
    else
        out << "  time reference:  "
            << (report.bHasBext ? "none (bext too short)" : "no bext chunk") << '\n';
    if (const auto& bext = report.bextText)
    {
        out << "  description:     " << escaped(bext->description, false) << '\n';
        out << "  originator:      " << escaped(bext->originator, false) << '\n';
        out << "  origination:     " << escaped(bext->originationDate, false) << ' '
            << escaped(bext->originationTime, false) << '\n';
        out << "  coding history:  " << escaped(bext->codingHistory, false) << '\n';
    }
    out << "  evidence:\n";
    for (const Quantity quantity : FormatEvidence::kQuantities)
        out << "    " << std::left << std::setw(13) << (quantityName(quantity) + std::string(":"))
            << fieldWords(quantity, report.evidence->Get(quantity)) << '\n';
    out << "  format to write: " << report.preview.Words() << '\n';
    out << "  regions:         " << report.nRegions << '\n';
    out << "  cue:             " << yesNo(report.layout.Find("cue ")) << '\n';
    out << "  AFJx:            " << yesNo(report.layout.Find("AFJx")) << '\n';
    out << "  action:          " << report.action() << '\n';
    out << "  status:          " << report.status() << '\n';
    out << "  verdict:         " << report.verdict() << '\n';
    return out.str();
}

std::string FileReportCommand::briefOf(const WavReport& report)
{
    std::string what = report.error;
    if (report.error.empty() && report.preview.action == RepairJob::Preview::Action::KeepFormat &&
        report.format)
        what = korva::DescribeFormat({report.format->nFormatTag, report.format->nChannels,
                                      report.format->nSampleRate, report.format->nBitsPerSample});
    else if (report.error.empty())
        what = (report.preview.action == RepairJob::Preview::Action::WriteFormat ? "writes " : "") +
               report.preview.Words();
    const auto frames = report.error.empty() ? report.frames() : std::nullopt;
    return file_commands::Escaped(report.path) + '\t' + report.status() + '\t' +
           file_commands::Escaped(what) + '\t' +
           (frames ? korva::DurationWords(frames->Seconds()) : "-") + '\n';
}

std::string FileReportCommand::jsonOf(const WavReport& report)
{
    nlohmann::ordered_json json;
    json["path"] = file_commands::Escaped(report.path);
    if (!report.error.empty())
    {
        json["status"] = report.status();
        json["error"] = report.error;
        return json.dump() + '\n';
    }
    json["status"] = report.status();
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
    {
        const auto frames = report.frames();
        json["data"] = {{"offset", data->nOffset},
                        {"length", data->nPayload},
                        {"frames", nullptr},
                        {"duration_seconds", nullptr}};
        if (frames && frames->nSampleRate > 0)
        {
            json["data"]["frames"] = frames->nFrames;
            json["data"]["duration_seconds"] = frames->Seconds();
        }
    }
    json["levels"] = nullptr;
    if (const auto& overview = report.overview)
    {
        nlohmann::ordered_json channels = nlohmann::ordered_json::array();
        for (const TakeOverview::Channel& channel : overview->channels)
            channels.push_back({{"peak_dbfs", decibelsJson(channel.dPeakDb)},
                                {"rms_dbfs", decibelsJson(channel.dRmsDb)}});
        json["levels"] = {{"frames", overview->nFrames},
                          {"duration_seconds", overview->dSeconds},
                          {"sampled", overview->bSampled},
                          {"bytes_read", overview->nBytesRead},
                          {"channels", channels}};
    }
    else
        json["levels_none"] = report.noOverview;
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
                                {"text", findingText(quantity, finding)},
                                {"rules_out", finding.bRulesOut}});
        json["evidence"][quantityKey(quantity)] = {{"verdict", verdictName(field.verdict)},
                                                   {"value", field.nValue},
                                                   {"findings", findings}};
    }
    json["format_to_write"] = nullptr;
    if (report.preview.action == RepairJob::Preview::Action::WriteFormat)
    {
        const WavFormat& f = report.preview.format;
        json["format_to_write"] = {
            {"format_tag", f.nFormatTag},        {"channels", f.nChannels},
            {"sample_rate", f.nSampleRate},      {"bits_per_sample", f.nBitsPerSample},
            {"sources", report.preview.sources}, {"warnings", report.preview.warnings}};
    }
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
