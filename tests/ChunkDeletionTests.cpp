#include <gtest/gtest.h>

#include <string>

#include "RiffFile.h"
#include "TempDir.h"
#include "TraceCapture.h"
#include "WavBuilder.h"

using namespace fixture;

namespace
{
constexpr std::size_t kBlock = 614400; // the deletion moves the tail in blocks of this size

const Bytes kFmt = chunk("fmt ", fmtPcm(1, 48000, 24));
const Bytes kBext = chunk("bext", bextBody(123456));
const Bytes kData = chunk("data", samples(300));

// A file whose JUNK chunk is followed by exactly nTail bytes: a data chunk
// holding nTail - 8 sample bytes.
Bytes JunkThenTail(std::size_t nTail)
{
    return riff({kFmt, chunk("JUNK", samples(10, 7)), chunk("data", samples(nTail - 8, 9))});
}
Bytes FileWithoutJunk(std::size_t nTail)
{
    return riff({kFmt, chunk("data", samples(nTail - 8, 9))});
}

Bytes Be32(uint32_t n)
{
    return {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
            static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
}
// A RIFF file whose sizes are stored big-endian, as a reader with the
// byte-order flag false expects them.
Bytes BigEndianFile(std::initializer_list<std::pair<const char*, Bytes>> chunks)
{
    Bytes body = ascii("WAVE");
    for (const auto& [id, payload] : chunks)
    {
        const Bytes c = cat({ascii(id), Be32(static_cast<uint32_t>(payload.size())), payload});
        body.insert(body.end(), c.begin(), c.end());
    }
    return cat({ascii("RIFF"), Be32(static_cast<uint32_t>(body.size())), body});
}

struct DeleteCase
{
    std::string name;
    Bytes before;
    const char* chunk;
    bool removed;
    Bytes after; // the whole file afterwards; ignored when nothing may change
    bool intelByteOrder = true;
};

std::vector<DeleteCase> DeleteCases()
{
    const Bytes oddData = chunk("data", samples(5, 3), true);
    const Bytes list = chunk("LIST", ascii("INFOabcd"));
    return {
        {"Head", riff({kFmt, kBext, kData}), "fmt ", true, riff({kBext, kData})},
        {"Middle", riff({kFmt, kBext, kData}), "bext", true, riff({kFmt, kData})},
        {"LastChunkLeavesNoTail", riff({kFmt, kBext, kData}), "data", true, riff({kFmt, kBext})},
        {"TailOneByteShortOfABlock", JunkThenTail(kBlock - 1), "JUNK", true,
         FileWithoutJunk(kBlock - 1)},
        {"TailOfExactlyOneBlock", JunkThenTail(kBlock), "JUNK", true, FileWithoutJunk(kBlock)},
        {"TailOneByteOverABlock", JunkThenTail(kBlock + 1), "JUNK", true,
         FileWithoutJunk(kBlock + 1)},
        // The pad byte behind an odd-sized data chunk is not part of it: it
        // stays, first of the bytes that followed.
        {"OddDataChunkLeavesItsPadByte", riff({kFmt, oddData, list}), "data", true,
         riff({kFmt, Bytes{0}, list})},
        {"OddChunkOfAnyOtherName", riff({kFmt, chunk("JUNK", samples(3)), kData}), "JUNK", true,
         riff({kFmt, kData})},
        {"OnlyTheFirstOfTwoGoes",
         riff({chunk("JUNK", ascii("first")), kFmt, chunk("JUNK", ascii("second"))}), "JUNK", true,
         riff({kFmt, chunk("JUNK", ascii("second"))})},
        {"EmptyChunk", riff({kFmt, chunk("JUNK", {}), kData}), "JUNK", true, riff({kFmt, kData})},
        {"SizesThroughTheByteOrderFlag",
         BigEndianFile(
             {{"fmt ", fmtPcm(1, 48000, 16)}, {"JUNK", samples(12)}, {"data", samples(40)}}),
         "JUNK", true, BigEndianFile({{"fmt ", fmtPcm(1, 48000, 16)}, {"data", samples(40)}}),
         false},
        {"RiffHeaderIsNeverAChunk", riff({kFmt, kData}), "RIFF", false, {}},
        {"MissingChunk", riff({kFmt, kData}), "cue ", false, {}},
        {"ThreeLetterNameMatchesNothing", riff({kFmt, kData}), "fmt", false, {}},
        {"SizeRunsPastTheEnd",
         riff({kFmt, chunkDeclared("data", 1000, samples(100))}),
         "data",
         false,
         {}},
        {"SizeRunsOneBytePastTheEnd",
         riff({kFmt, chunkDeclared("JUNK", 11, samples(10))}),
         "JUNK",
         false,
         {}},
    };
}

class DeleteChunkTest : public ::testing::TestWithParam<DeleteCase>
{
protected:
    TempDir dir;
    TraceCapture trace;
    std::string path = (dir / "take.wav").string();
};

TEST_P(DeleteChunkTest, FileMatchesTheReferenceByteForByte)
{
    const DeleteCase& c = GetParam();
    writeFile(path, c.before);
    CRiffFile file(path.c_str());
    file.m_bIntelByteOrder = c.intelByteOrder;

    EXPECT_EQ(file.DeleteChunk(c.chunk), c.removed);
    EXPECT_FALSE(file.m_bFileOpen);
    const Bytes after = readFile(path);
    if (c.removed)
    {
        EXPECT_TRUE(after == c.after) << "file differs from the reference; sizes " << after.size()
                                      << " and " << c.after.size();
        EXPECT_EQ(file.GetLength(), c.after.size());
    }
    else
    {
        EXPECT_TRUE(after == c.before) << "a refused deletion changed the file";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DeleteChunkTest, ::testing::ValuesIn(DeleteCases()),
                         [](const auto& info) { return info.param.name; });

class DeleteChunk : public ::testing::Test
{
protected:
    TempDir dir;
    TraceCapture trace;
    std::string path = (dir / "take.wav").string();
};

TEST_F(DeleteChunk, StreamOpenBeforeTheCallIsClosedAfterIt)
{
    writeFile(path, riff({kFmt, kBext, kData}));
    CRiffFile file(path.c_str());
    ASSERT_TRUE(file.Open("r"));
    EXPECT_TRUE(file.DeleteChunk("bext"));
    EXPECT_FALSE(file.m_bFileOpen);

    ASSERT_TRUE(file.Open("r"));
    EXPECT_FALSE(file.DeleteChunk("regn"));
    EXPECT_FALSE(file.m_bFileOpen);
    EXPECT_TRUE(readFile(path) == riff({kFmt, kData}));
}

TEST_F(DeleteChunk, WithoutAPathNothingHappens)
{
    CRiffFile file;
    EXPECT_FALSE(file.DeleteChunk("fmt "));
    EXPECT_TRUE(trace.text().empty());
}

TEST_F(DeleteChunk, MissingFileIsReportedAndNotCreated)
{
    CRiffFile file(path.c_str());
    EXPECT_FALSE(file.DeleteChunk("fmt "));
    EXPECT_FALSE(file.FileExists());
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(DeleteChunk, TracesItsSearch)
{
    writeFile(path, riff({kFmt, kBext, kData}));
    CRiffFile file(path.c_str());
    ASSERT_TRUE(file.DeleteChunk("bext"));
    EXPECT_EQ(trace.lines(), (std::vector<std::string>{"In CRiffFile::SearchForChunk",
                                                       "pszChunk = bext", "** Chunk = fmt ",
                                                       "** Chunk = bext", "   --- Found at: 36"}));
}
} // namespace
