#include <gtest/gtest.h>

#include <filesystem>
#include <sndfile.h>
#include <string>

#include "TempDir.h"
#include "TraceCapture.h"
#include "WavBuilder.h"
#include "WavFile.h"

using namespace fixture;

class WavProperties : public ::testing::Test
{
protected:
    TempDir dir;
    TraceCapture trace;
    std::string write(const Bytes& bytes, const std::string& name = "f.wav")
    {
        writeFile(dir / name, bytes);
        return (dir / name).string();
    }
};

TEST_F(WavProperties, SmallestPcmFile)
{
    const CWavFile wav(
        write(riff({chunk("fmt ", fmtPcm(2, 44100, 16)), chunk("data", samples(40))})).c_str());
    EXPECT_EQ(wav.m_nFormatTag, 1);
    EXPECT_EQ(wav.m_nChannels, 2);
    EXPECT_EQ(wav.m_nSampleRate, 44100u);
    EXPECT_EQ(wav.m_nBytesPerSec, 176400u);
    EXPECT_EQ(wav.m_nBlockAlign, 4);
    EXPECT_EQ(wav.m_nBitsPerSample, 16);
    EXPECT_EQ(wav.m_nDataOffset, 36u);
    EXPECT_EQ(wav.GetDataLength(), 40u);
    EXPECT_EQ(wav.GetLength(), 84u);
    EXPECT_FALSE(wav.m_bNotRiff);
    EXPECT_EQ(wav.m_nRegnOffset, 0u);
    EXPECT_FALSE(wav.m_bHasCue);
    EXPECT_FALSE(wav.m_bHasAfjx);
    EXPECT_FALSE(wav.m_bFileOpen);
}

TEST_F(WavProperties, SixTracedWalksInTheReadersOrder)
{
    CWavFile wav(write(riff({chunk("fmt ", fmtPcm(1, 48000, 24)), chunk("data", {})})).c_str());
    std::vector<std::string> searched;
    for (const std::string& line : trace.lines())
        if (line.rfind("pszChunk = ", 0) == 0)
            searched.push_back(line.substr(11));
    EXPECT_EQ(searched, (std::vector<std::string>{"fmt ", "bext", "regn", "data", "cue ", "AFJx"}));
}

TEST_F(WavProperties, RecordsEveryChunkItKnowsWhereverItStands)
{
    const CWavFile wav(write(riff({chunk("fmt ", cat({fmtPcm(1, 96000, 24), Bytes(24, 0)})),
                                   chunk("regn", cat({le32(0), le32(7)})), chunk("cue ", le32(0)),
                                   chunk("AFJx", {1, 2, 3}), chunk("data", samples(9))}))
                           .c_str());
    EXPECT_EQ(wav.m_nSampleRate, 96000u) << "the first 16 bytes of a 40-byte body";
    EXPECT_EQ(wav.m_nRegnOffset, 60u);
    EXPECT_EQ(wav.m_nCueOffset, 76u);
    EXPECT_TRUE(wav.m_bHasCue);
    EXPECT_EQ(wav.m_nAfjxOffset, 88u);
    EXPECT_TRUE(wav.m_bHasAfjx);
    EXPECT_EQ(wav.m_nDataOffset, 99u);
    EXPECT_EQ(wav.GetDataLength(), 9u);
}

TEST_F(WavProperties, NotRiffIsFlaggedAndTheWalkRunsAllTheSame)
{
    Bytes file = riff({chunk("data", samples(4))});
    file[0] = 'X';
    const CWavFile wav(write(file).c_str());
    EXPECT_TRUE(wav.m_bNotRiff);
    EXPECT_EQ(wav.m_nDataOffset, 12u);
    EXPECT_EQ(wav.GetDataLength(), 4u);

    const CWavFile tiny(write({'R', 'I', 'F'}, "tiny.wav").c_str());
    EXPECT_TRUE(tiny.m_bNotRiff);
}

TEST_F(WavProperties, ByteOrderFlagSwapsEveryValue)
{
    CWavFile wav;
    const std::string p =
        write(riff({chunk("fmt ", fmtPcm(1, 44100, 16)), chunk("data", samples(2))}));
    wav.CAudioFile::SetPath(p.c_str(), false);
    wav.DoGetProperties(true);
    EXPECT_EQ(wav.m_nSampleRate, 0x44AC0000u) << "44 AC 00 00 read big-endian";
    EXPECT_EQ(wav.m_nChannels, 0x0100);
    EXPECT_EQ(wav.m_nDataOffset, 0u) << "the fmt size read swapped runs past the end";
}

// Fields whose bytes are not there keep what they held: a 14-byte fmt body has
// no bits field, and a body cut by the end of the file has only what remains.
TEST_F(WavProperties, ShortOrCutFormatChunksKeepMissingFields)
{
    const Bytes fmt8k = fmtPcm(1, 8000, 8);
    struct Case
    {
        const char* name;
        Bytes file;
        uint16_t blockAlign;
        uint16_t bits;
        uint32_t rate;
    } cases[] = {
        {"14-byte body",
         riff({chunk("fmt ", Bytes(fmt8k.begin(), fmt8k.begin() + 14)), chunk("data", {})}), 1, 99,
         8000},
        {"cut inside the rate",
         cat({ascii("RIFF"),
              le32(100),
              ascii("WAVE"),
              ascii("fmt "),
              le32(16),
              le16(1),
              le16(1),
              {0x40, 0x1F}}),
         99, 99, 99},
        {"zero-size body", riff({chunk("fmt ", {}), chunk("data", {})}), 99, 99, 99},
    };
    for (const Case& c : cases)
    {
        CWavFile wav;
        wav.m_nBlockAlign = 99;
        wav.m_nBitsPerSample = 99;
        wav.m_nSampleRate = 99;
        wav.SetPath(write(c.file).c_str());
        EXPECT_EQ(wav.m_nBlockAlign, c.blockAlign) << c.name;
        EXPECT_EQ(wav.m_nBitsPerSample, c.bits) << c.name;
        EXPECT_EQ(wav.m_nSampleRate, c.rate) << c.name;
    }
}

TEST_F(WavProperties, ReadingAnotherFileKeepsFormatButResetsOffsets)
{
    CWavFile wav(write(riff({chunk("fmt ", fmtPcm(1, 48000, 24)), chunk("cue ", {}),
                             chunk("data", samples(6))}))
                     .c_str());
    ASSERT_TRUE(wav.m_bHasCue);
    wav.SetPath(write(riff({chunk("bext", bextBody(0))}), "nofmt.wav").c_str());
    EXPECT_EQ(wav.m_nSampleRate, 48000u);
    EXPECT_EQ(wav.GetDataLength(), 6u);
    EXPECT_EQ(wav.m_nDataOffset, 0u);
    EXPECT_FALSE(wav.m_bHasCue);
}

TEST_F(WavProperties, MissingFileGivesZerosAndNoTrace)
{
    const CWavFile wav((dir / "none.wav").c_str());
    EXPECT_FALSE(wav.FileExists());
    EXPECT_EQ(wav.m_nSampleRate, 0u);
    EXPECT_EQ(wav.m_nDataOffset, 0u);
    EXPECT_TRUE(trace.text().empty());
}

// Files nobody here wrote, read against libsndfile.
TEST_F(WavProperties, AlsaSoundsReadAsLibsndfileReportsThem)
{
    const std::filesystem::path folder = "/usr/share/sounds/alsa";
    if (!std::filesystem::exists(folder))
        GTEST_SKIP() << "alsa-utils sounds are not installed";
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
    {
        SF_INFO info{};
        SNDFILE* sf = sf_open(entry.path().c_str(), SFM_READ, &info);
        ASSERT_NE(sf, nullptr) << entry.path();
        sf_close(sf);
        const CWavFile wav(entry.path().c_str());
        EXPECT_EQ(wav.m_nChannels, info.channels) << entry.path();
        EXPECT_EQ(wav.m_nSampleRate, static_cast<uint32_t>(info.samplerate)) << entry.path();
        EXPECT_EQ((info.format & SF_FORMAT_SUBMASK), SF_FORMAT_PCM_16) << entry.path();
        EXPECT_EQ(wav.m_nBitsPerSample, 16) << entry.path();
        EXPECT_EQ(wav.GetDataLength() / wav.m_nBlockAlign, static_cast<uint64_t>(info.frames))
            << entry.path();
        ++checked;
    }
    EXPECT_GT(checked, 0);
}
