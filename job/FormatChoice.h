#pragma once

#include "FormatEvidence.h"
#include "WavFormat.h"

#include <optional>
#include <string>
#include <vector>

// The format the user asks for: each part chosen, or left to the file's own
// evidence. Applied to a file's evidence it gives the format to write, where
// each part came from, and what the file's metadata says against a choice;
// or why the file cannot tell. Nothing is guessed: a part the evidence does
// not settle fails the file with a message naming what is missing.
struct FormatChoice
{
    std::optional<uint32_t> nSampleRate;    // nullopt: from the file
    std::optional<uint16_t> nBitsPerSample; // nullopt: from the file
    // IEEE float samples. With a chosen depth, false is integer; with the depth
    // from the file, false leaves integer or float to the file too.
    bool bFloat = false;
    std::optional<uint16_t> nChannels; // nullopt: from the file
    // A choice the file's metadata contradicts fails the file instead of a warning.
    bool bStrict = false;
    // How the front end's user settles each part the file cannot tell: "pass --rate".
    std::string rateHint = "choose the sample rate";
    std::string depthHint = "choose the bit depth";
    std::string channelsHint = "choose the channels";

    struct Result
    {
        std::optional<WavFormat> format; // none: problem says why
        std::string problem;
        std::string sources; // "rate from iXML and CodingHistory; depth from the audio"
        std::vector<std::string> warnings;
        // The frame is told, not inferred: its depth and channels each chosen,
        // or named alike by the file's metadata and its audio. Only then may a
        // partial last frame be left out of a finished data size.
        bool bFrameSettled = false;
    };

    // Whether every part left to the file is settled without the audio.
    bool SettledWithoutAudio(const FormatEvidence& evidence) const;
    Result Apply(const FormatEvidence& evidence) const;
    // The choice of a fixed format.
    static FormatChoice Of(const WavFormat& format);
    // A line and the warnings behind it: "<line> — warning: <warning>" for each.
    static std::string WithWarnings(std::string line, const std::vector<std::string>& warnings);
};
