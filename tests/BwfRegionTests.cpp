#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "TempDir.h"
#include "TraceCapture.h"
#include "WavBuilder.h"
#include "WavFile.h"

using namespace fixture;

namespace
{
const Bytes kFmt = chunk("fmt ", fmtPcm(1, 48000, 24)); // 24 bytes: bext lands at 36
constexpr uint64_t kBextAt = 36;

Bytes Be32(uint32_t n)
{
    return {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
            static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
}

class BwfFile : public ::testing::Test
{
protected:
    TempDir dir;
    TraceCapture trace;
    std::string path = (dir / "take.wav").string();
};

// --- The time stamp, through the stream overload -------------------------------

struct StampCase
{
    std::string name;
    Bytes file;
    uint64_t offset;
    bool intelByteOrder;
    bool found;
    uint32_t stamp;
};

class StaticTimeStampTest : public BwfFile, public ::testing::WithParamInterface<StampCase>
{
};

TEST_P(StaticTimeStampTest, ReadsTheLowWordOfTheTimeReference)
{
    const StampCase& c = GetParam();
    writeFile(path, c.file);
    FILE* pFile = fopen(path.c_str(), "r");
    ASSERT_NE(pFile, nullptr);
    bool bFound = !c.found;
    EXPECT_EQ(CWavFile::GetTimeStampFromBWF(pFile, c.offset, bFound, c.intelByteOrder), c.stamp);
    EXPECT_EQ(bFound, c.found);
    if (c.found)
    {
        EXPECT_EQ(ftell(pFile), static_cast<long>(c.offset + 350));
    }
    fclose(pFile);
}

Bytes BigEndianStampFile(uint32_t stamp)
{
    Bytes body = bextBody(0);
    const Bytes be = Be32(stamp);
    std::copy(be.begin(), be.end(), body.begin() + 338);
    return riff({kFmt, chunk("bext", body)});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StaticTimeStampTest,
    ::testing::Values(
        StampCase{"LowWordOnly", riff({kFmt, chunk("bext", bextBody(0x12345678, 9))}), kBextAt,
                  true, true, 0x12345678},
        StampCase{"RealStampOfZero", riff({kFmt, chunk("bext", bextBody(0))}), kBextAt, true, true,
                  0},
        StampCase{"NoBextAtTheOffset", riff({kFmt, chunk("bext", bextBody(77))}), 12, true, false,
                  0},
        StampCase{"OffsetPastTheEnd", riff({kFmt, chunk("bext", bextBody(77))}), 5000, true, false,
                  0},
        StampCase{"CutOffBeforeTheTimeReference", riff({kFmt, chunk("bext", bextBody(77, 0, 300))}),
                  kBextAt, true, false, 0},
        StampCase{"BextTooShortForTheTimeReference",
                  riff({kFmt, chunk("bext", bextBody(77, 0, 300)), chunk("data", samples(100))}),
                  kBextAt, true, false, 0},
        StampCase{"ThroughTheByteOrderFlag", BigEndianStampFile(0x01020304), kBextAt, false, true,
                  0x01020304}),
    [](const auto& info) { return info.param.name; });

TEST(StaticTimeStamp, NullStreamFindsNothing)
{
    bool bFound = true;
    EXPECT_EQ(CWavFile::GetTimeStampFromBWF(nullptr, kBextAt, bFound, true), 0u);
    EXPECT_FALSE(bFound);
}

// --- The time stamp, on the object's own stream ---------------------------------

TEST_F(BwfFile, MemberRecordsTheBextLengthWithItsHeader)
{
    writeFile(path, riff({kFmt, chunk("bext", bextBody(48000 * 3600, 1)), chunk("data", {})}));
    CWavFile wav(path.c_str());
    ASSERT_TRUE(wav.Open("r"));
    EXPECT_EQ(wav.GetTimeStampFromBWF(kBextAt), 48000u * 3600u);
    EXPECT_TRUE(wav.m_bHasBext);
    EXPECT_EQ(wav.m_nBextLength, 610u);
    EXPECT_TRUE(wav.m_bFileOpen) << "a stream opened by the caller stays open";

    // Not a bext chunk: the flag clears, the length of the last one stays.
    EXPECT_EQ(wav.GetTimeStampFromBWF(12), 0u);
    EXPECT_FALSE(wav.m_bHasBext);
    EXPECT_EQ(wav.m_nBextLength, 610u);
    wav.Close();
}

TEST_F(BwfFile, MemberOnAClosedStreamReadsAndLeavesItClosed)
{
    writeFile(path, riff({kFmt, chunk("bext", bextBody(4242, 0, 700))}));
    CWavFile wav(path.c_str());
    ASSERT_FALSE(wav.m_bFileOpen);
    EXPECT_EQ(wav.GetTimeStampFromBWF(kBextAt), 4242u);
    EXPECT_EQ(wav.m_nBextLength, 708u);
    EXPECT_FALSE(wav.m_bFileOpen);
}

TEST_F(BwfFile, MemberWithoutAFileFindsNothing)
{
    CWavFile wav(path.c_str()); // nothing at the path
    wav.m_bHasBext = true;
    EXPECT_EQ(wav.GetTimeStampFromBWF(kBextAt), 0u);
    EXPECT_FALSE(wav.m_bHasBext);
    EXPECT_FALSE(wav.m_bFileOpen);
}

TEST_F(BwfFile, MemberOnABextCutOffBeforeTheTimeReferenceFindsNothing)
{
    writeFile(path, riff({kFmt, chunk("bext", bextBody(77, 0, 340))}));
    CWavFile wav(path.c_str());
    EXPECT_EQ(wav.GetTimeStampFromBWF(kBextAt), 0u);
    EXPECT_FALSE(wav.m_bHasBext);
    EXPECT_EQ(wav.m_nBextLength, 0u);
}

// --- Pro Tools regions --------------------------------------------------------

struct RegionCase
{
    std::string name;
    Bytes file;
    bool intelByteOrder;
    uint32_t regions;
};

class RegionCountTest : public BwfFile, public ::testing::WithParamInterface<RegionCase>
{
};

TEST_P(RegionCountTest, ReadsTheCountAndLeavesTheStreamClosed)
{
    const RegionCase& c = GetParam();
    writeFile(path, c.file);
    CWavFile wav(path.c_str());
    wav.m_bIntelByteOrder = c.intelByteOrder;
    if (wav.m_nRegnOffset != 0)
    {
        ASSERT_TRUE(wav.Open("r")) << "an open stream is closed as well";
    }
    EXPECT_EQ(wav.GetNumberOfProToolsRegions(), c.regions);
    EXPECT_FALSE(wav.m_bFileOpen);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegionCountTest,
    ::testing::Values(
        RegionCase{"Count",
                   riff({kFmt, chunk("regn", cat({le32(5), samples(40)})), chunk("data", {})}),
                   true, 5},
        RegionCase{"NoRegions", riff({kFmt, chunk("regn", le32(0))}), true, 0},
        RegionCase{"CutOffBeforeTheCount", riff({kFmt, chunk("regn", {})}), true, 0},
        RegionCase{"ThroughTheByteOrderFlag",
                   cat({ascii("RIFF"), Be32(16), ascii("WAVE"), ascii("regn"), Be32(4), Be32(7)}),
                   false, 7}),
    [](const auto& info) { return info.param.name; });

TEST_F(BwfFile, NoRegnChunkMeansNoRegionsWithoutTouchingTheFile)
{
    writeFile(path, riff({kFmt, chunk("data", samples(8))}));
    CWavFile wav(path.c_str());
    ASSERT_EQ(wav.m_nRegnOffset, 0u);
    std::filesystem::remove(path);
    EXPECT_EQ(wav.GetNumberOfProToolsRegions(), 0u);
    EXPECT_TRUE(wav.FileExists()) << "an attempt to open the file was made";
}

TEST_F(BwfFile, RegnOffsetThatNoLongerLeadsToOneGivesNoRegions)
{
    writeFile(path, riff({kFmt, chunk("regn", le32(3))}));
    CWavFile wav(path.c_str());
    ASSERT_EQ(wav.m_nRegnOffset, 36u);
    writeFile(path, riff({kFmt, chunk("JUNK", le32(3))}));
    EXPECT_EQ(wav.GetNumberOfProToolsRegions(), 0u);
    EXPECT_FALSE(wav.m_bFileOpen);
}

// --- Whole frames -------------------------------------------------------------

struct RegionEndCase
{
    std::string name;
    uint64_t dataLength;
    uint16_t blockAlign;
    uint64_t frames;
};

class FullFileRegionEndTest : public ::testing::TestWithParam<RegionEndCase>
{
};

TEST_P(FullFileRegionEndTest, CountsWholeFramesOnly)
{
    CWavFile wav;
    wav.m_nDataLength = GetParam().dataLength;
    wav.m_nBlockAlign = GetParam().blockAlign;
    EXPECT_EQ(wav.GetFullFileRegionEnd(), GetParam().frames);
}

INSTANTIATE_TEST_SUITE_P(Cases, FullFileRegionEndTest,
                         ::testing::Values(RegionEndCase{"PartialFrameDropped", 10, 4, 2},
                                           RegionEndCase{"Exact", 144000, 3, 48000},
                                           RegionEndCase{"Empty", 0, 4, 0},
                                           RegionEndCase{"BlockAlignZero", 10, 0, 0},
                                           RegionEndCase{"BeyondThirtyTwoBits", uint64_t{1} << 35,
                                                         2, uint64_t{1} << 34}),
                         [](const auto& info) { return info.param.name; });

TEST_F(BwfFile, RegionEndOfARealFile)
{
    writeFile(path, riff({kFmt, chunk("bext", bextBody(0)), chunk("data", samples(3 * 1001 + 2))}));
    const CWavFile wav(path.c_str());
    EXPECT_EQ(wav.GetFullFileRegionEnd(), 1001u);
}
} // namespace
