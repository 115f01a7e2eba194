#pragma once

#include "FileOutcome.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The record of a batch to hand on, as a sound report for post-production
// wants it: one row per file, in the order the files were done with, saying
// which takes were repaired, how, and which failed. Both front ends feed it
// the outcomes they show the user.
class BatchReport
{
public:
    void Add(const korva::FileOutcome& outcome) { m_rows.push_back(outcome); }
    bool Empty() const { return m_rows.empty(); }

    // CSV as RFC 4180 has it, in UTF-8: a header row, then a row per file with
    // its source, copy, result, the format written, where the file told its
    // parts, the duration of the copy's audio ("0:01:23.456"), the warnings
    // (one per line) and the detail. Lines end in CR LF; a field holding a
    // comma, a quote or a line break is quoted, its quotes doubled. A byte of
    // a name that is not part of UTF-8 is written as \xHH.
    std::string Csv() const;
    // The same for people to read: a block of lines per file, names escaped
    // as korva::Escaped says so that each stays on its line.
    std::string Text() const;

    // Writes the report to path: Text for a name ending in ".txt" (in any
    // letter case), Csv otherwise. It takes the name only once it is whole,
    // replacing a file of that name. Nothing when done; otherwise why not, in
    // plain words that name the file.
    std::optional<std::string> Write(const std::filesystem::path& path) const;

private:
    std::vector<korva::FileOutcome> m_rows;
};
