#include "OutsideDecoders.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace decoders
{
namespace
{
std::string quoted(const std::filesystem::path& file)
{
    return "'" + file.string() + "'";
}

// The number behind the colon of the first line that starts with label; 0
// when there is none. Hexadecimal numbers carry 0x.
int numberAfter(const std::string& text, const std::string& label)
{
    const auto at = ("\n" + text).find("\n" + label);
    if (at == std::string::npos)
        return 0;
    const auto colon = text.find(':', at);
    if (colon == std::string::npos)
        return 0;
    return static_cast<int>(std::strtol(text.c_str() + colon + 1, nullptr, 0));
}
} // namespace

std::string capture(const std::string& command)
{
    struct PipeCloser
    {
        void operator()(FILE* f) const { pclose(f); }
    };
    std::unique_ptr<FILE, PipeCloser> pipe(popen((command + " 2>/dev/null").c_str(), "r"));
    std::string out;
    char buffer[65536];
    for (std::size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe.get())) > 0;)
        out.append(buffer, n);
    return out;
}

Format sndfileInfo(const std::filesystem::path& file)
{
    const std::string text = capture("sndfile-info " + quoted(file));
    // The summary libsndfile gives after it has opened the file; the low
    // word of its format names the sample encoding.
    const int subtype = numberAfter(text, "Format ") & 0xFFFF;
    const int bits = subtype == 0x0002 ? 16 : subtype == 0x0003 ? 24 : 0;
    return {static_cast<uint32_t>(numberAfter(text, "Sample Rate")), bits,
            numberAfter(text, "Channels")};
}

Format soxi(const std::filesystem::path& file)
{
    auto number = [&](const char* option)
    { return std::atoi(capture(std::string("soxi ") + option + " " + quoted(file)).c_str()); };
    return {static_cast<uint32_t>(number("-r")), number("-b"), number("-c")};
}

Format ffprobe(const std::filesystem::path& file)
{
    const std::string text = capture("ffprobe -v error -show_streams -of json " + quoted(file));
    const auto json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded() || !json.contains("streams") || json["streams"].empty())
        return {};
    const auto& stream = json["streams"][0];
    return {static_cast<uint32_t>(std::stoul(stream.value("sample_rate", "0"))),
            stream.value("bits_per_sample", 0), stream.value("channels", 0)};
}

std::vector<uint8_t> soxSamples(const std::filesystem::path& file)
{
    const std::string raw = capture("sox " + quoted(file) + " -t raw -");
    return {raw.begin(), raw.end()};
}
} // namespace decoders
