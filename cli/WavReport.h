#pragma once

#include "FormatChoice.h"
#include "FormatEvidence.h"
#include "RepairJob.h"
#include "RepairPlan.h"
#include "RiffLayout.h"
#include "TakeOverview.h"

#include <cstdint>
#include <optional>
#include <string>

// What the file library can tell about one file, read without changing it:
// its chunks and holes as the repair's walk finds them, its format and audio,
// the Broadcast Wave time reference, the Pro Tools region count, the evidence
// of its own format, and what the repair makes of it with a format choice,
// from the same reading the repair runs.
struct WavReport
{
    // Reads the file at path, and previews its repair with choice and the
    // card's other takes (TakeList::CardTakes). Never
    // waits: a FIFO or a folder is an error.
    // Its audio is looked at (overview) with nColumns envelope columns.
    static WavReport Of(const std::string& path, const FormatChoice& choice,
                        const FormatEvidence::CardTakeSource& cardTakes, std::size_t nColumns = 1);

    std::string path;
    std::string error; // why the file could not be read; "" when it was

    RiffLayout layout;
    // The repair's plan: with the format the repair writes; else counting the
    // audio in a damaged format chunk's frames where it has one, in bytes
    // where the file states no format.
    RepairPlan plan;

    // The first format chunk's fields: tag, channels, rate, bytes/s, block align,
    // bits; or a damaged one's, its bits derived where the field is missing.
    struct Format
    {
        uint16_t nFormatTag = 0;
        uint16_t nChannels = 0;
        uint32_t nSampleRate = 0;
        uint32_t nBytesPerSec = 0;
        uint16_t nBlockAlign = 0;
        uint16_t nBitsPerSample = 0;
        bool bDamaged = false;
        bool bBitsMissing = false;
    };
    std::optional<Format> format;
    bool bHasBext = false;
    std::optional<uint32_t> timeReference; // low 32 bits; none in a bext too short for it
    uint32_t nRegions = 0;
    // The bext chunk's text fields, as they stand (NULs and trailing blanks cut).
    struct BextText
    {
        std::string description, originator, originationDate, originationTime, codingHistory;
    };
    std::optional<BextText> bextText;
    // What the file says of its own format, its audio always read.
    std::optional<FormatEvidence> evidence;
    // What the repair makes of the file with the choice: the very preview the
    // repair and the window go by.
    RepairJob::Preview preview;
    // The audio's levels and envelope in the format the repair writes, or
    // the file's own; otherwise why there are none (the repair fails or
    // leaves the file alone, its samples cannot be decoded, a read failed).
    std::optional<TakeOverview> overview;
    std::string noOverview;

    // The audio's whole frames and their rate, in the format the repair
    // writes or the file's own; none when neither is known or there is no audio.
    struct Frames
    {
        uint64_t nFrames = 0;
        uint32_t nSampleRate = 0;
        // Their length; 0 at no rate.
        double Seconds() const
        {
            return nSampleRate == 0 ? 0.0 : static_cast<double>(nFrames) / nSampleRate;
        }
    };
    std::optional<Frames> frames() const;

    // What becomes of the file, as a word to filter on: "repairable",
    // "repairable_with_warnings", "intact", "sizes_unfinished", "unsettled",
    // "not_whole_frames", "too_large", "no_bext", "no_data", "not_wav" or
    // "unreadable".
    std::string status() const;
    // The same in a line: "repairable: format chunk missing, remains of 24
    // bytes at 622", "repairable: format chunk damaged at 622: its size says
    // 14, its body holds 14 bytes", "intact", "sizes unfinished: data size 0,
    // 43200 bytes of audio follow", "no bext chunk: not repairable", "fails:
    // cannot tell the sample rate: ...; pass --rate", ...: exactly what repair
    // will do.
    std::string verdict() const;
    // The repair's action in a line: what it writes where, or "none".
    std::string action() const;

private:
    // Reads the overview, or says why there is none.
    void LookAtAudio(std::size_t nColumns);
};
