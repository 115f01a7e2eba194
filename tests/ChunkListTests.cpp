#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "RiffFile.h"
#include "TempDir.h"
#include "Trace.h"
#include "WavBuilder.h"

using namespace fixture;

namespace
{
struct FileCloser
{
    void operator()(FILE* f) const { fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

struct Expected
{
    std::string id;
    uint64_t offset;
    uint32_t size;
    bool cutOff = false;
};

struct ListCase
{
    const char* name;
    Bytes file;
    std::vector<Expected> chunks;
};

std::vector<ListCase> ListCases()
{
    const Bytes fmt = chunk("fmt ", fmtPcm(1, 48000, 24));
    const Bytes bext = chunk("bext", bextBody(0));
    const Bytes pcm3 = {1, 2, 3};
    return {
        {"EveryChunkInFileOrder",
         riff({fmt, bext, chunk("data", {0, 0})}),
         {{"fmt ", 12, 16}, {"bext", 36, 602}, {"data", 646, 2}}},
        {"OddDataSkipsItsPadByte",
         riff({chunk("data", pcm3, true), chunk("cue ", {})}),
         {{"data", 12, 3}, {"cue ", 24, 0}}},
        {"OddChunkOtherThanDataHasNoPadByte",
         riff({chunk("JUNK", pcm3), chunk("cue ", {})}),
         {{"JUNK", 12, 3}, {"cue ", 23, 0}}},
        {"OddDataAtTheEndWithoutPadIsWhole", riff({chunk("data", pcm3)}), {{"data", 12, 3}}},
        {"SizePastTheEndIsCutOffAndEndsTheList",
         riff({chunkDeclared("data", 100, {1, 2}), chunk("LIST", {})}),
         {{"data", 12, 100, true}}},
        {"SizeFieldCutShort",
         cat({riff({chunk("JUNK", {})}), ascii("LIST"), {1}}),
         {{"JUNK", 12, 0}, {"LIST", 20, 0, true}}},
        {"FewerThanFourBytesLeftAreNoHeader",
         cat({riff({chunk("JUNK", {})}), {'d', 'a'}}),
         {{"JUNK", 12, 0}}},
        {"IdentifierBytesKeptAsTheyStand",
         cat({riff({}), ascii("ab"), Bytes{0, 0xFF}, le32(0)}),
         {{std::string("ab\0\xFF", 4), 12, 0}}},
        {"EmptyAfterTheHeader", riff({}), {}},
    };
}

class ChunkList : public ::testing::TestWithParam<ListCase>
{
protected:
    TempDir dir;
};
} // namespace

TEST_P(ChunkList, VisitsWhatTheSteppingRuleVisits)
{
    const ListCase& c = GetParam();
    writeFile(dir / "f.wav", c.file);
    File f(fopen((dir / "f.wav").c_str(), "rb"));
    const auto chunks = CRiffFile::ListChunks(f.get(), 12, true);
    ASSERT_EQ(chunks.size(), c.chunks.size());
    for (std::size_t i = 0; i < chunks.size(); ++i)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(chunks[i].id, c.chunks[i].id);
        EXPECT_EQ(chunks[i].nOffset, c.chunks[i].offset);
        EXPECT_EQ(chunks[i].nSize, c.chunks[i].size);
        EXPECT_EQ(chunks[i].bCutOff, c.chunks[i].cutOff);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ChunkList, ::testing::ValuesIn(ListCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The list and the search walk alike: every listed chunk is where a search for
// its identifier finds it, up to the first repeat.
TEST(ChunkListAgreesWithSearch, EachListedChunkIsFoundAtItsOffset)
{
    TempDir dir;
    writeFile(dir / "f.wav", riff({chunk("JUNK", {1, 2, 3}), chunk("data", {1}, true),
                                   chunk("bext", bextBody(7)), chunk("cue ", {})}));
    File f(fopen((dir / "f.wav").c_str(), "rb"));
    const auto chunks = CRiffFile::ListChunks(f.get(), 12, true);
    ASSERT_EQ(chunks.size(), 4u);
    CTrace::SetStream(nullptr);
    for (const auto& entry : chunks)
        EXPECT_EQ(CRiffFile::SearchForChunk(f.get(), 12, entry.id.c_str(), false, true),
                  entry.nOffset);
    CTrace::SetStream(&std::cout);
}
