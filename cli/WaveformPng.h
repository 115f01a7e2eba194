#pragma once

#include "TakeOverview.h"

#include <cstddef>
#include <filesystem>
#include <string>

// A take's thumbnail as a PNG, for scripts and reports: one lane of
// kLaneHeight pixels per channel, top to bottom, and one pixel column per
// envelope column of the overview (kColumns of them when it was read for
// this). In each lane the column's min/max envelope is drawn about the centre
// line, full scale at the lane's edges; a silent stretch is the centre line.
namespace waveform_png
{
constexpr std::size_t kColumns = 1000;
constexpr std::size_t kLaneHeight = 100;

// Writes the thumbnail to path, replacing a file there. Returns "" when it
// is written, else why not in plain words ("permission denied").
std::string Write(const std::filesystem::path& path, const TakeOverview& overview);
} // namespace waveform_png
