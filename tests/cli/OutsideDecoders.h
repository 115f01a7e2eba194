#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// What the audio tools outside this project make of a file: libsndfile's
// sndfile-info, sox (soxi, and sox itself for the samples) and ffprobe.
namespace decoders
{
struct Format
{
    uint32_t rate = 0;
    int bits = 0;
    int channels = 0;
};

// Each returns zeros in the fields the tool did not report.
Format sndfileInfo(const std::filesystem::path& file);
Format soxi(const std::filesystem::path& file);
Format ffprobe(const std::filesystem::path& file);

// The samples as sox decodes them, in the file's own encoding.
std::vector<uint8_t> soxSamples(const std::filesystem::path& file);

// A command's standard output; standard error is discarded.
std::string capture(const std::string& command);
} // namespace decoders
