#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "CliProcess.h"
#include "TempDir.h"
#include "WavBuilder.h"

using namespace fixture;
using nlohmann::json;

namespace
{
json chunkJson(const char* id, uint64_t offset, uint32_t size, bool cutOff = false)
{
    return {{"id", id}, {"offset", offset}, {"size", size}, {"cut_off", cutOff}};
}

struct InspectCase
{
    const char* name;
    Bytes file;
    json expected; // the fields to compare; the rest of the object is not looked at
};

std::vector<InspectCase> InspectCases()
{
    const Bytes bext = chunk("bext", bextBody(0x12345678, 9));
    const Bytes regn = chunk("regn", cat({le32(3), Bytes(8, 0)}));
    return {
        {"RepairableWithZeroedFmt",
         riff({bext, Bytes(24, 0), chunk("data", samples(6))}),
         {{"riff", true},
          {"length", 12 + 610 + 24 + 14},
          {"chunks",
           {chunkJson("bext", 12, 602), chunkJson("\\x00\\x00\\x00\\x00", 622, 0),
            chunkJson("\\x00\\x00\\x00\\x00", 630, 0), chunkJson("\\x00\\x00\\x00\\x00", 638, 0),
            chunkJson("data", 646, 6)}},
          {"format", nullptr},
          {"data", {{"offset", 646}, {"length", 6}, {"frames", 0}}},
          {"time_reference", 0x12345678},
          {"verdict", "repairable: bext present, format chunk missing"}}},
        {"IntactWithRegionsCueAndAfjx",
         riff({chunk("fmt ", fmtPcm(1, 96000, 24)), bext, regn, chunk("cue ", le32(0)),
               chunk("AFJx", {1, 2}), chunk("data", samples(7), true)}),
         {{"format",
           {{"format_tag", 1},
            {"channels", 1},
            {"sample_rate", 96000},
            {"bytes_per_second", 288000},
            {"block_align", 3},
            {"bits_per_sample", 24}}},
          {"data", {{"offset", 12 + 24 + 610 + 20 + 12 + 10}, {"length", 7}, {"frames", 2}}},
          {"regions", 3},
          {"cue", true},
          {"afjx", true},
          {"verdict", "intact"}}},
        {"NoBext",
         riff({Bytes(24, 0), chunk("data", samples(4))}),
         {{"time_reference", nullptr},
          {"regions", 0},
          {"cue", false},
          {"afjx", false},
          {"verdict", "no bext chunk: not repairable"}}},
        {"DataSizeRunsPastTheEnd",
         riff({bext, chunkDeclared("data", 1000, samples(4))}),
         {{"chunks", {chunkJson("bext", 12, 602), chunkJson("data", 622, 1000, true)}},
          {"verdict", "repairable: bext present, format chunk missing"}}},
        {"NotRiff",
         cat({ascii("RIFX"), le32(4), ascii("WAVE")}),
         {{"riff", false},
          {"length", 12},
          {"chunks", json::array()},
          {"verdict", "not a RIFF file"}}},
    };
}

class CliInspect : public ::testing::TestWithParam<InspectCase>
{
protected:
    TempDir dir;
};
} // namespace

// inspect --json prints one object per file that parses back to what the
// file holds; the file is not touched.
TEST_P(CliInspect, JsonParsesBackToTheFile)
{
    const InspectCase& c = GetParam();
    const auto path = dir / "f.wav";
    writeFile(path, c.file);
    const auto result = CliProcess::run({"inspect", "--json", path});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto lines = result.outLines();
    ASSERT_EQ(lines.size(), 1u) << result.out;
    const json report = json::parse(lines[0]);
    EXPECT_EQ(report["path"], path.string());
    for (const auto& [key, value] : c.expected.items())
        EXPECT_EQ(report[key], value) << key;
    EXPECT_EQ(readFile(path), c.file);
}

INSTANTIATE_TEST_SUITE_P(Files, CliInspect, ::testing::ValuesIn(InspectCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Several files, one of them missing: a line for each, the missing one with
// its error, and status 1. The text form carries the same verdicts.
TEST(CliInspectMany, EachFileGetsItsReportAndAMissingOneFails)
{
    TempDir dir;
    writeFile(dir / "a.wav", riff({chunk("bext", bextBody(5)), chunk("data", samples(4))}));
    writeFile(dir / "b.wav", riff({chunk("fmt ", fmtPcm(1, 44100, 16)), chunk("data", {})}));
    const std::string missing = (dir / "none.wav").string();
    const auto result =
        CliProcess::run({"inspect", "--json", dir / "a.wav", missing, dir / "b.wav"});
    EXPECT_EQ(result.status, 1);
    const auto lines = result.outLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(json::parse(lines[0])["verdict"], "repairable: bext present, format chunk missing");
    EXPECT_EQ(json::parse(lines[1]), json({{"path", missing}, {"error", "no such file"}}));
    EXPECT_EQ(json::parse(lines[2])["verdict"], "intact");

    const auto text = CliProcess::run({"inspect", dir / "a.wav", dir / "b.wav"});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("verdict:         repairable: bext present, format chunk missing\n"),
              std::string::npos);
    EXPECT_NE(text.out.find("verdict:         intact\n"), std::string::npos);
    EXPECT_NE(text.out.find("    bext  offset 12  size 602\n"), std::string::npos);
    EXPECT_EQ(text.out.find("SearchForChunk"), std::string::npos); // no trace in the report
}
