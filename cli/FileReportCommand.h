#pragma once

#include "FileCommands.h"
#include "FormatOptions.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

struct WavReport;

// korva-cli inspect: reports what the file library sees in each file (its
// chunks, format, data, bext text, time reference, the evidence of its own
// format, regions, cue and AFJx chunks) and what the repair makes of it with
// the same format options (none: every part from the file), as text, as one
// JSON object per line, or with --brief as one line per file; the audio's
// length and levels in the format the repair writes; with --waveform, one
// take's waveform as a PNG. Changes nothing else. Exit status 0 when every
// file could be read (and the waveform drawn), 1 otherwise, 2 for a usage error.
class FileReportCommand
{
public:
    // Adds the "inspect" subcommand and its options to app.
    explicit FileReportCommand(CLI::App& app);

    bool chosen() const { return m_command->parsed(); }
    int run() const;

private:
    // A file's report as lines of text, or as a JSON object on a line.
    static std::string textOf(const WavReport& report);
    static std::string jsonOf(const WavReport& report);
    // "PATH\tSTATUS\tFORMAT\tDURATION": the status word, the file's own format
    // or the one the repair writes ("writes 48000 Hz, 24 bit, mono (rate from
    // iXML)"), or else why none ("no bext chunk: left as it is", why the
    // repair fails); the duration as "0:01:23.456", "-" where unknown.
    static std::string briefOf(const WavReport& report);
    // Draws the report's take in m_waveform; false, having said why, when it cannot.
    bool drawWaveform(const WavReport& report) const;
    // A file's row in the --report: its verdict, and the format the repair
    // would write with where it came from.
    static korva::FileOutcome outcomeOf(const WavReport& report);

    CLI::App* m_command;
    std::optional<FormatOptions> m_format;
    std::vector<std::string> m_files;
    bool m_bJson = false;
    bool m_bBrief = false;
    std::string m_waveform; // --waveform: the PNG to draw the one take in
    file_commands::ReportFile m_report;
};
