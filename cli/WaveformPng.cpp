#include "WaveformPng.h"

#include "FileOutcome.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace
{
using Rgb = std::array<uint8_t, 3>;
constexpr Rgb kBackground = {255, 255, 255};
constexpr Rgb kCentre = {215, 215, 215};
constexpr Rgb kBorder = {160, 160, 160};
constexpr Rgb kEnvelope = {30, 80, 150};

// The row of a lane that a sample value falls on, full scale at its edges.
std::size_t RowOf(float fValue, std::size_t nLaneTop)
{
    const double dHalf = (waveform_png::kLaneHeight - 1) / 2.0;
    const double dRow = dHalf - std::clamp(static_cast<double>(fValue), -1.0, 1.0) * dHalf;
    return nLaneTop + static_cast<std::size_t>(std::lround(dRow));
}
} // namespace

std::string waveform_png::Write(const std::filesystem::path& path, const TakeOverview& overview)
{
    const std::size_t nWidth = overview.channels.empty() ? 1 : overview.channels[0].envelope.size();
    const std::size_t nHeight = std::max<std::size_t>(1, overview.channels.size()) * kLaneHeight;
    std::vector<Rgb> pixels(nWidth * nHeight, kBackground);
    for (std::size_t k = 0; k < overview.channels.size(); ++k)
    {
        const std::size_t nTop = k * kLaneHeight;
        for (std::size_t x = 0; x < nWidth; ++x)
        {
            pixels[(nTop + kLaneHeight / 2) * nWidth + x] = kCentre;
            if (k > 0)
                pixels[nTop * nWidth + x] = kBorder;
            const TakeOverview::Column& column = overview.channels[k].envelope[x];
            for (std::size_t y = RowOf(column.fMax, nTop); y <= RowOf(column.fMin, nTop); ++y)
                pixels[y * nWidth + x] = kEnvelope;
        }
    }

    const auto close = [](FILE* pFile) { std::fclose(pFile); };
    const std::unique_ptr<FILE, decltype(close)> file(std::fopen(path.c_str(), "wb"), close);
    if (!file)
        return korva::SystemErrorWords(errno);
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(nWidth);
    image.height = static_cast<png_uint_32>(nHeight);
    image.format = PNG_FORMAT_RGB;
    const bool bWritten =
        png_image_write_to_stdio(&image, file.get(), 0, pixels.data(), 0, nullptr) != 0;
    const std::string problem = bWritten ? "" : image.message;
    png_image_free(&image);
    if (!bWritten)
        return problem;
    return std::fflush(file.get()) == 0 && !std::ferror(file.get())
               ? ""
               : korva::SystemErrorWords(errno);
}
