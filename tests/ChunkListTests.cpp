#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "RiffFile.h"
#include "TempDir.h"
#include "TraceCapture.h"
#include "WavBuilder.h"

using namespace fixture;

// The chunk walk and the search. Plain files' lists: the korva-cli report tests. Odd
// sizes, cut headers, lying sizes, thousands of chunks in the reader: the hostile table.
class ChunkWalk : public ::testing::Test
{
protected:
    TempDir dir;
    std::unique_ptr<FILE, int (*)(FILE*)> Open(const Bytes& file)
    {
        writeFile(dir / "f.wav", file);
        return {fopen((dir / "f.wav").c_str(), "rb"), fclose};
    }
};

// Identifier, offset, declared size, cut off by the end of the file.
using Entry = std::tuple<std::string, uint64_t, uint32_t, bool>;

TEST_F(ChunkWalk, ListVisitsWhatTheSteppingRuleVisitsAndTheSearchFindsEachThere)
{
    const Bytes pcm3 = {1, 2, 3};
    const std::tuple<const char*, Bytes, std::vector<Entry>> cases[] = {
        {"odd data skips its pad byte",
         riff({chunk("data", pcm3, true), chunk("cue ", {})}),
         {{"data", 12, 3, false}, {"cue ", 24, 0, false}}},
        {"size past the end is cut off and ends the walk",
         riff({chunkDeclared("data", 100, {1, 2}), chunk("LIST", {})}),
         {{"data", 12, 100, true}}},
        {"size field cut short",
         cat({riff({chunk("JUNK", {})}), ascii("LIST"), {1}}),
         {{"JUNK", 12, 0, false}, {"LIST", 20, 0, true}}},
        {"identifier bytes kept as they stand",
         cat({riff({}), ascii("ab"), {0, 0xFF}, le32(0)}),
         {{std::string("ab\0\xFF", 4), 12, 0, false}}},
    };
    TraceCapture quiet;
    for (const auto& [name, file, chunks] : cases)
    {
        const auto f = Open(file);
        std::vector<Entry> listed;
        for (const auto& e : CRiffFile::ListChunks(f.get(), 12, true))
        {
            listed.emplace_back(e.id, e.nOffset, e.nSize, e.bCutOff);
            EXPECT_EQ(CRiffFile::SearchForChunk(f.get(), 12, e.id.c_str(), false, true), e.nOffset)
                << name << ": " << e.id;
        }
        EXPECT_EQ(listed, chunks) << name;
    }
}

TEST_F(ChunkWalk, SearchHonoursItsStartNameAndFlags)
{
    const Bytes bigEndian =
        cat({ascii("RIFFxxxxWAVEJUNK"), {0, 0, 0, 2, 0, 0}, ascii("data"), {0, 0, 0, 0}});
    const Bytes twoData = riff({chunk("data", {}), chunk("data", {})});
    // Start, no skip, byte-order flag; the offset found.
    const std::tuple<const char*, Bytes, const char*, uint64_t, bool, bool, uint32_t> cases[] = {
        {"odd data without pad misses the next chunk",
         riff({chunk("data", {1, 2, 3}), chunk("cue ", {})}), "cue ", 12, false, true, 0},
        {"three-letter name never matches", riff({chunk("fmt ", fmtPcm(1, 48000, 24))}), "fmt", 12,
         false, true, 0},
        {"identifier in the last four bytes", cat({riff({chunk("JUNK", {})}), ascii("data")}),
         "data", 12, false, true, 20},
        {"start past the end", twoData, "data", 1000, false, true, 0},
        {"big-endian sizes, flag false", bigEndian, "data", 12, false, false, 22},
        {"big-endian sizes, flag true", bigEndian, "data", 12, false, true, 0},
        {"no skip examines every eight-byte step",
         riff({chunk("JUNK", cat({ascii("data"), le32(0)}))}), "data", 12, true, true, 20},
    };
    TraceCapture quiet;
    for (const auto& [name, file, search, start, noSkip, intel, at] : cases)
        EXPECT_EQ(CRiffFile::SearchForChunk(Open(file).get(), start, search, noSkip, intel), at)
            << name;
}

// Every header visited is traced; a match adds where it was, and a walk that
// starts at the end of the file visits none.
TEST_F(ChunkWalk, TraceNamesEveryHeaderVisitedAndWhereTheMatchWas)
{
    const Bytes file = riff(
        {chunk("fmt ", fmtPcm(1, 44100, 16)), chunk("bext", bextBody(0)), chunk("data", {0, 0})});
    const std::string headers = "** Chunk = fmt \n** Chunk = bext\n** Chunk = data\n";
    const std::tuple<const char*, uint64_t, uint32_t, std::string> cases[] = {
        {"data", 12, 646, headers + "   --- Found at: 646\n"},
        {"LIST", 12, 0, headers},
        {"data", file.size(), 0, ""},
    };
    for (const auto& [search, start, at, lines] : cases)
    {
        TraceCapture trace;
        EXPECT_EQ(CRiffFile::SearchForChunk(Open(file).get(), start, search, false, true), at);
        EXPECT_EQ(trace.text(),
                  "In CRiffFile::SearchForChunk\npszChunk = " + std::string(search) + "\n" + lines);
    }
}
