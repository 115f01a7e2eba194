#pragma once

#include "WavFormat.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korva
{
// What became of one listed file: the one outcome both front ends show.
struct FileOutcome
{
    enum class Kind
    {
        Repaired,             // the copy stands in the destination with a new format chunk
        RepairedWithWarnings, // so does it, but the file's own evidence says otherwise of
                              // the format written, or audio was left out: see warnings
        SizesRepaired,        // the copy stands there with the sizes its recorder never finished
        Unchanged,            // the copy stands there byte for byte as the source
        Failed,               // no new copy stands there; detail says why
        Skipped,              // the user kept the file already in the destination
        NotProcessed,         // never reached: the batch stopped first
        Extracted,            // korva-cli's other commands: frames written into a new file,
        Appended,             // frames added to an existing one,
        ChunkRemoved,         // a copy made without a chunk
        Rescued,              // rescue: a lost take written with its sizes finished,
        Intact,               // a take the card still holds whole (copied as it is with --all),
        Listed,               // a take found but not written; detail says why
    };
    std::string sourcePath;
    std::string destinationPath;
    Kind kind = Kind::NotProcessed;
    std::string detail;                // one line in plain words: what was done, or why not
    std::optional<WavFormat> format;   // the format chunk written into the copy,
    std::string formatSources;         // where the file told its parts ("rate from iXML")
    std::optional<double> seconds;     // the length of the copy's audio, where its format is known
    std::vector<std::string> warnings; // what the user should know though the file was repaired
};

// "repaired", "repaired with warnings", "sizes repaired", "unchanged", "failed",
// "skipped", "not processed", "extracted", "appended", "removed", "rescued",
// "intact" or "listed".
const char* KindWord(FileOutcome::Kind kind);
// What the system's error number means to the user, in plain words; for 0 (a
// read that came up short) "the file ended early".
std::string SystemErrorWords(int nError);
// "48000 Hz, 24 bit, mono", "44100 Hz, 32 bit float, 4 channels".
std::string DescribeFormat(const WavFormat& format);
// How far the copy of a file is, in the unit its size is best told in: "1.2
// of 4.0 GB", "8.4 of 26.2 MB", "0.5 of 900.0 KB".
std::string DescribeProgress(uint64_t nDone, uint64_t nTotal);
// A size in the unit it is best told in: "4.0 GB", "26.2 MB", "900.0 KB".
std::string DescribeSize(uint64_t nBytes);
// A level: "-3.1 dBFS"; a peak just under full scale "0.0 dBFS", not -0.0;
// digital silence (-infinity) "-inf dBFS".
std::string DescribeLevel(double dDb);
// The length of nAudioBytes of audio in format, in its whole frames; none
// for a format with no frames or no rate.
std::optional<double> SecondsOf(uint64_t nAudioBytes, const WavFormat& format);
// "0:01:23.456": a length in hours, minutes, seconds and milliseconds.
std::string DurationWords(double seconds);

// text as a line that names a file shows it, so that each line names exactly
// its file: a backslash as \\, a tab as \t, a line feed as \n, a carriage
// return as \r, and every other control byte and every byte that is not part
// of UTF-8 as \xHH; the rest as it is.
std::string Escaped(std::string_view text);
// text with only the bytes that are not part of UTF-8 written as \xHH, for
// a field that may hold any other character, line breaks too.
std::string ValidUtf8(std::string_view text);
} // namespace korva
