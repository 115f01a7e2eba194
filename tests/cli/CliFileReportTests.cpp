#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "CliProcess.h"

using namespace fixture;
using nlohmann::json;
using ::testing::HasSubstr;

namespace
{
// The name, the file, and JSON of the fields to compare (the rest is not looked at).
using ReportCase = std::tuple<const char*, Bytes, const char*>;

const Bytes kBext = chunk("bext", bextBody(0x12345678, 9));

// time_reference 305419896 is 0x12345678; the high word 9 is not read.
const ReportCase kReportCases[] = {
    {"RepairableWithZeroedFmt", riff({kBext, Bytes(24, 0), chunk("data", samples(6))}),
     R"({"riff": true, "length": 660, "format": null, "time_reference": 305419896,
         "chunks": [{"id": "bext", "offset": 12, "size": 602, "cut_off": false},
                    {"id": "\\x00\\x00\\x00\\x00", "offset": 622, "size": 0, "cut_off": false},
                    {"id": "\\x00\\x00\\x00\\x00", "offset": 630, "size": 0, "cut_off": false},
                    {"id": "\\x00\\x00\\x00\\x00", "offset": 638, "size": 0, "cut_off": false},
                    {"id": "data", "offset": 646, "size": 6, "cut_off": false}],
         "data": {"offset": 646, "length": 6, "frames": 0},
         "verdict": "repairable: bext present, format chunk missing"})"},
    {"IntactWithRegionsCueAndAfjx",
     riff({chunk("fmt ", fmtPcm(1, 96000, 24)), kBext, chunk("regn", cat({le32(3), Bytes(8, 0)})),
           chunk("cue ", le32(0)), chunk("AFJx", {1, 2}), chunk("data", samples(7), true)}),
     R"({"format": {"format_tag": 1, "channels": 1, "sample_rate": 96000,
                    "bytes_per_second": 288000, "block_align": 3, "bits_per_sample": 24},
         "data": {"offset": 688, "length": 7, "frames": 2},
         "regions": 3, "cue": true, "afjx": true, "verdict": "intact"})"},
    {"NoBext", riff({Bytes(24, 0), chunk("data", samples(4))}),
     R"({"time_reference": null, "regions": 0, "cue": false, "afjx": false,
         "verdict": "no bext chunk: not repairable"})"},
    {"DataSizeRunsPastTheEnd", riff({kBext, chunkDeclared("data", 1000, samples(4))}),
     R"({"chunks": [{"id": "bext", "offset": 12, "size": 602, "cut_off": false},
                   {"id": "data", "offset": 622, "size": 1000, "cut_off": true}],
         "verdict": "repairable: bext present, format chunk missing"})"},
    {"NotRiff", cat({ascii("RIFX"), le32(4), ascii("WAVE")}),
     R"({"riff": false, "length": 12, "chunks": [], "verdict": "not a RIFF file"})"},
};

using CliFileReport = ::testing::TestWithParam<ReportCase>;
} // namespace

// inspect --json prints a line per file: an object that parses back to what the
// file holds, or a missing one's error (status 1). The text form lists the same
// chunks and verdict, with no trace. The file is not touched.
TEST_P(CliFileReport, JsonParsesBackToTheFileAndTheTextSaysTheSame)
{
    TempDir dir;
    const std::string path = dir / "f.wav", missing = dir / "none.wav";
    const auto& [name, file, fields] = GetParam();
    writeFile(path, file);
    const auto result = CliProcess::run({"inspect", "--json", path, missing});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "korva-cli: " + missing + ": no such file\n");
    const auto end = result.out.find('\n');
    EXPECT_EQ(result.out.substr(end),
              "\n{\"path\":\"" + missing + "\",\"error\":\"no such file\"}\n");
    const json report = json::parse(result.out.substr(0, end));
    json expected = json::parse(fields);
    expected["path"] = path;
    for (const auto& [key, value] : expected.items())
        EXPECT_EQ(report[key], value) << key;
    const std::string text = CliProcess::run({"inspect", path}).out;
    for (const auto& chunk : report["chunks"])
        EXPECT_THAT(text, HasSubstr("\n    " + chunk["id"].get<std::string>() + "  offset " +
                                    chunk["offset"].dump() + "  size " + chunk["size"].dump()));
    EXPECT_THAT(text,
                HasSubstr("\n  verdict:         " + report["verdict"].get<std::string>() + "\n"));
    EXPECT_THAT(text, Not(HasSubstr("SearchForChunk")));
    EXPECT_EQ(readFile(path), file);
}

INSTANTIATE_TEST_SUITE_P(Files, CliFileReport, ::testing::ValuesIn(kReportCases), kRowName);
