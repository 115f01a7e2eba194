#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "RiffFile.h"
#include "TempDir.h"
#include "TraceCapture.h"
#include "WavBuilder.h"

using namespace fixture;

namespace
{
struct FileCloser
{
    void operator()(FILE* f) const { fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

Bytes be32(uint32_t n)
{
    return {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
            static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
}

struct WalkCase
{
    const char* name;
    Bytes file;
    const char* search;
    uint32_t expected;
    uint64_t start = 12;
    bool noSkip = false;
    bool intel = true;
};

const Bytes kPcm3 = {1, 2, 3};

std::vector<WalkCase> WalkCases()
{
    const Bytes fmt = chunk("fmt ", fmtPcm(1, 48000, 24)); // 24 bytes at 12
    const Bytes bext = chunk("bext", bextBody(0));         // 610 bytes at 36
    return {
        {"DataAfterFmtAndBext", riff({fmt, bext, chunk("data", kPcm3)}), "data", 646},
        {"OddDataIsFollowedByAPadByte", riff({chunk("data", kPcm3, true), chunk("cue ", {})}),
         "cue ", 24},
        {"OddDataWithoutPadByteMissesTheNextChunk", riff({chunk("data", kPcm3), chunk("cue ", {})}),
         "cue ", 0},
        {"OddChunkOtherThanDataHasNoPadByte", riff({chunk("JUNK", kPcm3), chunk("cue ", {})}),
         "cue ", 23},
        {"FirstOfTwoWins", riff({chunk("JUNK", {}), chunk("bext", {}), chunk("bext", {})}), "bext",
         20},
        {"ThreeLetterNameNeverMatches", riff({fmt}), "fmt", 0},
        {"SizeZeroGoesOn", riff({chunk("JUNK", {}), chunk("data", {})}), "data", 20},
        {"SizePastTheEndEndsTheWalk", riff({chunkDeclared("JUNK", 100, {}), chunk("data", {})}),
         "data", 0},
        {"SizeFFFFFFFFEndsTheWalk",
         riff({chunkDeclared("JUNK", 0xFFFFFFFF, {}), chunk("data", {})}), "data", 0},
        {"SizeFFFFFFF7EndsTheWalk",
         riff({chunkDeclared("JUNK", 0xFFFFFFF7, {}), chunk("data", {})}), "data", 0},
        {"IdentifierInTheLastFourBytesMatches", cat({riff({chunk("JUNK", {})}), ascii("data")}),
         "data", 20},
        {"IdentifierWithHalfASizeMatches", cat({riff({chunk("JUNK", {})}), ascii("data"), {1, 2}}),
         "data", 20},
        {"HeaderCutInsideItsSizeEndsTheWalk", cat({riff({chunk("JUNK", {})}), ascii("LIST"), {1}}),
         "data", 0},
        {"StartAtTheEnd", riff({chunk("data", {})}), "data", 0, 20},
        {"StartPastTheEnd", riff({chunk("data", {})}), "data", 0, 1000},
        {"FewerThanFourBytesLeft", cat({riff({}), {'d', 'a', 't'}}), "data", 0},
        {"BigEndianSizesWithTheFlagFalse",
         cat({ascii("RIFFxxxxWAVE"), ascii("JUNK"), be32(2), {0, 0}, ascii("data"), be32(0)}),
         "data", 22, 12, false, false},
        {"BigEndianSizesWithTheFlagTrueGetLost",
         cat({ascii("RIFFxxxxWAVE"), ascii("JUNK"), be32(2), {0, 0}, ascii("data"), be32(0)}),
         "data", 0},
        {"NoSkipExaminesEveryEightByteStep", riff({chunk("JUNK", cat({ascii("data"), le32(0)}))}),
         "data", 20, 12, true},
    };
}

class ChunkWalk : public ::testing::TestWithParam<WalkCase>
{
protected:
    TempDir dir;
};
} // namespace

TEST_P(ChunkWalk, FindsTheChunkTheSteppingRuleReaches)
{
    const WalkCase& c = GetParam();
    writeFile(dir / "f.wav", c.file);
    File f(fopen((dir / "f.wav").c_str(), "rb"));
    TraceCapture trace;
    EXPECT_EQ(CRiffFile::SearchForChunk(f.get(), c.start, c.search, c.noSkip, c.intel), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ChunkWalk, ::testing::ValuesIn(WalkCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ChunkWalkTrace, ListsEveryHeaderVisitedAndWhereTheMatchWas)
{
    TempDir dir;
    writeFile(dir / "f.wav", riff({chunk("fmt ", fmtPcm(1, 44100, 16)), chunk("bext", bextBody(0)),
                                   chunk("data", {0, 0})}));
    File f(fopen((dir / "f.wav").c_str(), "rb"));
    TraceCapture trace;
    ASSERT_EQ(CRiffFile::SearchForChunk(f.get(), 12, "data", false, true), 646u);
    EXPECT_EQ(trace.text(), "In CRiffFile::SearchForChunk\n"
                            "pszChunk = data\n"
                            "** Chunk = fmt \n"
                            "** Chunk = bext\n"
                            "** Chunk = data\n"
                            "   --- Found at: 646\n");
}

TEST(ChunkWalkTrace, FailedSearchEndsWithTheLastHeaderAndAnEmptyStartShowsNone)
{
    TempDir dir;
    writeFile(dir / "f.wav", riff({chunk("JUNK", {}), chunk("LIST", {})}));
    File f(fopen((dir / "f.wav").c_str(), "rb"));
    {
        TraceCapture trace;
        EXPECT_EQ(CRiffFile::SearchForChunk(f.get(), 12, "data", false, true), 0u);
        EXPECT_EQ(trace.lines().back(), "** Chunk = LIST");
        EXPECT_EQ(trace.lines().size(), 4u);
    }
    TraceCapture trace;
    EXPECT_EQ(CRiffFile::SearchForChunk(f.get(), 28, "data", false, true), 0u);
    EXPECT_EQ(trace.text(), "In CRiffFile::SearchForChunk\npszChunk = data\n");
}

TEST(ChunkWalkTrace, ThousandsOfEmptyChunksStillEnd)
{
    TempDir dir;
    Bytes file = ascii("RIFF\0\0\0\0WAVE");
    file.resize(12);
    for (int i = 0; i < 5000; ++i)
        file = cat({file, chunk("JUNK", {})});
    file = cat({file, chunk("data", {})});
    writeFile(dir / "f.wav", file);
    File f(fopen((dir / "f.wav").c_str(), "rb"));
    CTrace::SetStream(nullptr);
    EXPECT_EQ(CRiffFile::SearchForChunk(f.get(), 12, "data", false, true), 12u + 5000 * 8);
    CTrace::SetStream(&std::cout);
}

// Sparse files: the walk reaches chunks beyond 2 GiB without reading the gap,
// and a chunk whose offset does not fit the 32-bit result ends the walk.
TEST(ChunkWalkLargeFile, WalksPastTwoGiBAndStopsAtFourGiB)
{
    TempDir dir;
    struct Case
    {
        uint32_t junkSize;
        uint32_t expected;
    } cases[] = {{0x80000000u, 12 + 8 + 0x80000000u},
                 {0xC0000000u, 12 + 8 + 0xC0000000u},
                 {0xFFFFFFF0u, 0}}; // data would start at 0x1_0000_0004
    for (const Case& c : cases)
    {
        const auto p = dir / "big.wav";
        writeFile(p, riff({chunkDeclared("JUNK", c.junkSize, {})}));
        const uint64_t dataAt = 12 + 8 + uint64_t{c.junkSize};
        ASSERT_EQ(truncate(p.c_str(), static_cast<off_t>(dataAt)), 0);
        File f(fopen(p.c_str(), "r+b"));
        fseeko(f.get(), static_cast<off_t>(dataAt), SEEK_SET);
        const Bytes data = chunk("data", {0, 0});
        fwrite(data.data(), 1, data.size(), f.get());
        fflush(f.get());
        TraceCapture trace;
        EXPECT_EQ(CRiffFile::SearchForChunk(f.get(), 12, "data", false, true), c.expected)
            << "JUNK size " << c.junkSize;
    }
}
