#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>

#include "TempDir.h"
#include "TraceCapture.h"
#include "WavBuilder.h"
#include "WavFile.h"

using namespace fixture;

namespace
{
const Bytes kFmt = chunk("fmt ", fmtPcm(1, 48000, 24)); // 24 bytes: bext lands at 36
constexpr uint64_t kBextAt = 36;

class BwfFile : public ::testing::Test
{
protected:
    TempDir dir;
    TraceCapture trace;
    std::string path = (dir / "take.wav").string();
};

// Both overloads on each file: the stream one on a stream of the file (a null one when
// there is no file), the member one on a closed stream, which it opens and closes again,
// and on an open one. The bext length counts the chunk's header; 0: none found.
TEST_F(BwfFile, TimeStampIsTheLowWordOfTheTimeReferenceOrNothing)
{
    const std::tuple<const char*, Bytes, uint64_t, uint32_t, uint32_t, bool> cases[] = {
        {"LowWordOnly", riff({kFmt, chunk("bext", bextBody(0x12345678, 9))}), kBextAt, 0x12345678,
         610, true},
        {"RealStampOfZero", riff({kFmt, chunk("bext", bextBody(0))}), kBextAt, 0, 610, true},
        {"NoBextAtTheOffset", riff({kFmt, chunk("bext", bextBody(77))}), 12, 0, 0, true},
        {"OffsetPastTheEnd", riff({kFmt, chunk("bext", bextBody(77))}), 5000, 0, 0, true},
        // A bext chunk too short for a time reference is still one, with a time of 0.
        {"BextTooShortForTheTimeReference",
         riff({kFmt, chunk("bext", bextBody(77, 0, 300)), chunk("data", samples(100))}), kBextAt, 0,
         308, true},
        // Bytes 01 02 03 04 and the size 602, read with the byte-order flag false.
        {"ThroughTheByteOrderFlag", riff({kFmt, chunk("bext", bextBody(0x04030201))}), kBextAt,
         0x01020304, 0x5A020000 + 8, false},
        {"NoFile", {}, kBextAt, 0, 0, true},
    };
    for (const auto& [name, file, offset, stamp, bextLength, intelByteOrder] : cases)
    {
        SCOPED_TRACE(name);
        std::filesystem::remove(path);
        if (!file.empty())
            writeFile(path, file);
        FILE* pFile = file.empty() ? nullptr : fopen(path.c_str(), "r");
        bool bFound = bextLength == 0;
        EXPECT_EQ(CWavFile::GetTimeStampFromBWF(pFile, offset, bFound, intelByteOrder), stamp);
        EXPECT_EQ(bFound, bextLength != 0);
        if (pFile)
            fclose(pFile);

        CWavFile wav(path.c_str());
        wav.m_bIntelByteOrder = intelByteOrder;
        wav.m_bHasBext = bextLength == 0;
        EXPECT_EQ(wav.GetTimeStampFromBWF(offset), stamp);
        EXPECT_EQ(wav.m_bHasBext, bextLength != 0);
        EXPECT_EQ(wav.m_nBextLength, bextLength);
        EXPECT_FALSE(wav.m_bFileOpen);

        // A stream the caller opened stays open; a miss keeps the last length.
        ASSERT_TRUE(file.empty() || wav.Open("r"));
        EXPECT_EQ(wav.GetTimeStampFromBWF(offset), stamp);
        EXPECT_EQ(wav.GetTimeStampFromBWF(12), 0u);
        EXPECT_FALSE(wav.m_bHasBext);
        EXPECT_EQ(wav.m_nBextLength, bextLength);
        EXPECT_EQ(wav.m_bFileOpen, !file.empty());
    }
}

// A caller's open stream stays open, one opened for the count is closed again. Without a regn chunk
// the file is not opened at all: it is removed before the call, and no open finds it missing.
TEST_F(BwfFile, RegionCountIsReadFromTheRegnChunkAndTheStreamLeftAsItWas)
{
    const std::tuple<const char*, Bytes, uint32_t, bool, Bytes> cases[] = {
        {"Count", riff({kFmt, chunk("regn", cat({le32(5), samples(40)}))}), 5, true, {}},
        {"NoRegions", riff({kFmt, chunk("regn", le32(0))}), 0, true, {}},
        {"CutOffBeforeTheCount", riff({kFmt, chunk("regn", {})}), 0, true, {}},
        {"ThroughTheByteOrderFlag", riff({kFmt, chunk("regn", le32(0x07000000))}), 7, false, {}},
        {"RegnOffsetNoLongerLeadsToOne", riff({kFmt, chunk("regn", le32(3))}), 0, true,
         riff({kFmt, chunk("JUNK", le32(3))})},
        {"NoRegnChunk", riff({kFmt, chunk("data", samples(8))}), 0, true, {}},
    };
    for (const auto& [name, file, regions, intelByteOrder, replacedBy] : cases)
    {
        SCOPED_TRACE(name);
        writeFile(path, file);
        CWavFile wav(path.c_str());
        wav.m_bIntelByteOrder = intelByteOrder;
        if (!replacedBy.empty())
            writeFile(path, replacedBy); // after the properties were read
        if (wav.m_nRegnOffset == 0)
            std::filesystem::remove(path);
        else
            ASSERT_TRUE(wav.Open("r"));
        EXPECT_EQ(wav.GetNumberOfProToolsRegions(), regions);
        EXPECT_EQ(wav.m_bFileOpen, wav.m_nRegnOffset != 0) << "the caller's stream stays open";
        EXPECT_TRUE(wav.FileExists());
        wav.Close();
        EXPECT_EQ(wav.GetNumberOfProToolsRegions(), wav.m_nRegnOffset ? regions : 0);
        EXPECT_FALSE(wav.m_bFileOpen) << "one opened for the count is closed again";
    }
}

TEST_F(BwfFile, FullFileRegionEndCountsWholeFramesOnly)
{
    const std::tuple<uint64_t, uint16_t, uint64_t> cases[] = {
        {10, 4, 2}, {144000, 3, 48000}, {0, 4, 0}, {10, 0, 0}, {1ull << 35, 2, 1ull << 34}};
    for (const auto& [dataLength, blockAlign, frames] : cases)
    {
        CWavFile wav;
        wav.m_nDataLength = dataLength;
        wav.m_nBlockAlign = blockAlign;
        EXPECT_EQ(wav.GetFullFileRegionEnd(), frames) << dataLength << " / " << blockAlign;
    }
}
} // namespace
