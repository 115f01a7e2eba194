#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sndfile.h>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "TempDir.h"
#include "TraceCapture.h"
#include "WavBuilder.h"
#include "WavFile.h"

using namespace fixture;
namespace fs = std::filesystem;

namespace
{
constexpr std::size_t kBuffer = CWavFile::kCopyBufferSize;

// A fmt body with the given block align and nExtra bytes of extension behind
// the sixteen standard ones.
Bytes FmtBody(uint16_t channels, uint16_t bits, std::size_t nExtra = 0)
{
    Bytes body = fmtPcm(channels, 48000, bits);
    const Bytes extra = samples(nExtra, 5);
    body.insert(body.end(), extra.begin(), extra.end());
    return body;
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t count)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

// The first nBytes of a file too large to read whole.
Bytes ReadHead(const std::string& path, std::size_t nBytes)
{
    std::ifstream in(path, std::ios::binary);
    Bytes head(nBytes);
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(nBytes));
    head.resize(static_cast<std::size_t>(in.gcount()));
    return head;
}

// Every file in the folder, so that a test sees leftovers as well as results.
std::vector<std::string> Listing(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class FrameCopy : public ::testing::Test
{
protected:
    TempDir dir;
    TraceCapture trace;
    std::string sourcePath = (dir / "source.wav").string();
    std::string destPath = (dir / "dest.wav").string();
};

// --- CreateNewFile: the written file against a reference built in memory ---

struct CreateCase
{
    std::string name;
    Bytes fmtBody;
    std::vector<Bytes> between; // chunks between fmt and data, not carried over
    std::size_t nDataBytes;
    uint32_t start;
    uint32_t end;
};

class CreateNewFileTest : public FrameCopy, public ::testing::WithParamInterface<CreateCase>
{
};

TEST_P(CreateNewFileTest, WritesTheFormatChunkAndTheFramesOnly)
{
    const CreateCase& c = GetParam();
    const Bytes pcm = samples(c.nDataBytes, 11);
    Bytes source = riff({chunk("fmt ", c.fmtBody)});
    for (const Bytes& extra : c.between)
        source.insert(source.end(), extra.begin(), extra.end());
    const Bytes data = chunk("data", pcm);
    source.insert(source.end(), data.begin(), data.end());
    putLe32(source, 4, static_cast<uint32_t>(source.size() - 8));
    writeFile(sourcePath, source);

    CWavFile wav(sourcePath.c_str());
    ASSERT_TRUE(wav.CreateNewFile(destPath.c_str(), c.start, c.end));
    EXPECT_FALSE(wav.m_bFileOpen);

    const std::size_t nAlign = readLe32(c.fmtBody, 12) & 0xFFFF;
    const Bytes expected =
        riff({chunk("fmt ", c.fmtBody),
              chunk("data", Slice(pcm, c.start * nAlign, (c.end - c.start) * nAlign))});
    const Bytes written = readFile(destPath);
    EXPECT_TRUE(written == expected) << "sizes " << written.size() << " and " << expected.size();
    EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"dest.wav", "source.wav"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CreateNewFileTest,
    ::testing::Values(CreateCase{"MiddleOfAStereo24BitFile", FmtBody(2, 24), {}, 600, 7, 61},
                      CreateCase{"StartFrameTenOfAlignFour", FmtBody(2, 16), {}, 200, 10, 50},
                      CreateCase{"EmptyRange", FmtBody(1, 16), {}, 100, 20, 20},
                      CreateCase{"WholeData", FmtBody(1, 24), {}, 300, 0, 100},
                      CreateCase{"PartialTrailingFrameIsNotAFrame", FmtBody(2, 16), {}, 10, 0, 2},
                      CreateCase{"OtherChunksStayBehind",
                                 FmtBody(1, 16),
                                 {chunk("bext", bextBody(99)), chunk("regn", le32(3))},
                                 64,
                                 4,
                                 30},
                      CreateCase{"EighteenByteFormatBody", FmtBody(1, 16, 2), {}, 64, 1, 9},
                      CreateCase{"FortyByteFormatBody", FmtBody(2, 24, 24), {}, 120, 3, 19},
                      CreateCase{"OddFormatBodyGetsNoPadByte", FmtBody(1, 8, 1), {}, 9, 2, 7},
                      CreateCase{
                          "ExactlyOneBuffer", FmtBody(1, 16), {}, kBuffer + 8, 0, kBuffer / 2},
                      CreateCase{"TwoBuffersAndARemainder",
                                 FmtBody(1, 24),
                                 {},
                                 2 * kBuffer + 123,
                                 0,
                                 (2 * kBuffer + 123) / 3}),
    [](const auto& info) { return info.param.name; });

TEST_F(FrameCopy, CreateReplacesAnExistingFileInFull)
{
    writeFile(sourcePath, riff({chunk("fmt ", fmtPcm(1, 48000, 16)), chunk("data", samples(20))}));
    writeFile(destPath, samples(5000, 3));
    CWavFile wav(sourcePath.c_str());
    ASSERT_TRUE(wav.CreateNewFile(destPath.c_str(), 1, 4));
    EXPECT_TRUE(readFile(destPath) == riff({chunk("fmt ", fmtPcm(1, 48000, 16)),
                                            chunk("data", Slice(samples(20), 2, 6))}));
}

TEST_F(FrameCopy, SourceOpenBeforeTheCallIsClosedAfterIt)
{
    writeFile(sourcePath, riff({chunk("fmt ", fmtPcm(1, 48000, 16)), chunk("data", samples(20))}));
    CWavFile wav(sourcePath.c_str());
    ASSERT_TRUE(wav.Open("r"));
    EXPECT_TRUE(wav.CreateNewFile(destPath.c_str(), 0, 10));
    EXPECT_FALSE(wav.m_bFileOpen);
    ASSERT_TRUE(wav.Open("r"));
    EXPECT_TRUE(wav.AppendToFile(destPath.c_str(), 0, 10));
    EXPECT_FALSE(wav.m_bFileOpen);
}

TEST_F(FrameCopy, CreateIntoAMissingFolderFails)
{
    writeFile(sourcePath, riff({chunk("fmt ", fmtPcm(1, 48000, 16)), chunk("data", samples(20))}));
    CWavFile wav(sourcePath.c_str());
    EXPECT_FALSE(wav.CreateNewFile((dir / "no such folder/dest.wav").c_str(), 0, 10));
    EXPECT_FALSE(wav.m_bFileOpen);
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"source.wav"});
}

TEST_F(FrameCopy, SourceThatCannotBeOpenedWritesNothing)
{
    CWavFile wav(sourcePath.c_str()); // no file there
    EXPECT_FALSE(wav.CreateNewFile(destPath.c_str(), 0, 0));
    writeFile(destPath, riff({chunk("fmt ", fmtPcm(1, 48000, 16)), chunk("data", samples(4))}));
    EXPECT_FALSE(wav.AppendToFile(destPath.c_str(), 0, 0));
    EXPECT_TRUE(readFile(destPath) ==
                riff({chunk("fmt ", fmtPcm(1, 48000, 16)), chunk("data", samples(4))}));
}

// --- AppendToFile ----------------------------------------------------------

TEST_F(FrameCopy, AppendTwiceGrowsTheDataChunkByBothRanges)
{
    const Bytes pcm = samples(400, 21);
    writeFile(sourcePath, riff({chunk("fmt ", fmtPcm(2, 48000, 16)), chunk("bext", bextBody(1)),
                                chunk("data", pcm)}));
    const Bytes destPcm = samples(16, 22);
    writeFile(destPath, riff({chunk("fmt ", fmtPcm(2, 48000, 16)), chunk("data", destPcm)}));

    CWavFile wav(sourcePath.c_str());
    ASSERT_TRUE(wav.AppendToFile(destPath.c_str(), 10, 30));
    ASSERT_TRUE(wav.AppendToFile(destPath.c_str(), 0, 5));
    EXPECT_FALSE(wav.m_bFileOpen);
    EXPECT_TRUE(readFile(destPath) ==
                riff({chunk("fmt ", fmtPcm(2, 48000, 16)),
                      chunk("data", cat({destPcm, Slice(pcm, 40, 80), Slice(pcm, 0, 20)}))}));
}

TEST_F(FrameCopy, AppendOfAnEmptyRangeLeavesTheFileAsItWas)
{
    writeFile(sourcePath, riff({chunk("fmt ", fmtPcm(1, 48000, 16)), chunk("data", samples(20))}));
    const Bytes dest = riff({chunk("fmt ", fmtPcm(1, 48000, 16)), chunk("data", samples(6, 2))});
    writeFile(destPath, dest);
    CWavFile wav(sourcePath.c_str());
    EXPECT_TRUE(wav.AppendToFile(destPath.c_str(), 3, 3));
    EXPECT_TRUE(readFile(destPath) == dest);
}

TEST_F(FrameCopy, AppendToAMissingFileCreatesNothing)
{
    writeFile(sourcePath, riff({chunk("fmt ", fmtPcm(1, 48000, 16)), chunk("data", samples(20))}));
    CWavFile wav(sourcePath.c_str());
    EXPECT_FALSE(wav.AppendToFile(destPath.c_str(), 0, 2));
    EXPECT_FALSE(wav.m_bFileOpen);
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"source.wav"});
}

// Destinations that the frames cannot extend: each is left byte for byte.
struct RefusedDestination
{
    std::string name;
    Bytes dest;
};

class AppendRefusedTest : public FrameCopy, public ::testing::WithParamInterface<RefusedDestination>
{
};

TEST_P(AppendRefusedTest, DestinationIsUntouched)
{
    writeFile(sourcePath, riff({chunk("fmt ", fmtPcm(1, 48000, 16)), chunk("data", samples(20))}));
    writeFile(destPath, GetParam().dest);
    CWavFile wav(sourcePath.c_str());
    EXPECT_FALSE(wav.AppendToFile(destPath.c_str(), 0, 3));
    EXPECT_FALSE(wav.m_bFileOpen);
    EXPECT_TRUE(readFile(destPath) == GetParam().dest);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AppendRefusedTest,
    ::testing::Values(
        RefusedDestination{"NoDataChunk", riff({chunk("fmt ", fmtPcm(1, 48000, 16))})},
        RefusedDestination{"NotARiffFileAtAll", ascii("just some text, no chunks in it")},
        RefusedDestination{"ChunkBehindTheData",
                           riff({chunk("fmt ", fmtPcm(1, 48000, 16)), chunk("data", samples(8)),
                                 chunk("LIST", ascii("INFO"))})},
        RefusedDestination{"OddDataWithItsPadByte", riff({chunk("fmt ", fmtPcm(1, 48000, 8)),
                                                          chunk("data", samples(7), true)})},
        RefusedDestination{"DataSizePastTheEnd", riff({chunk("fmt ", fmtPcm(1, 48000, 16)),
                                                       chunkDeclared("data", 64, samples(8))})}),
    [](const auto& info) { return info.param.name; });

// --- Checks made before anything is written, for both operations ------------

struct RefusedRange
{
    std::string name;
    Bytes source;
    uint32_t start;
    uint32_t end;
};

class RefusedRangeTest : public FrameCopy, public ::testing::WithParamInterface<RefusedRange>
{
};

TEST_P(RefusedRangeTest, NeitherOperationWritesAByte)
{
    const RefusedRange& c = GetParam();
    writeFile(sourcePath, c.source);
    CWavFile wav(sourcePath.c_str());

    EXPECT_FALSE(wav.CreateNewFile(destPath.c_str(), c.start, c.end));
    EXPECT_FALSE(wav.m_bFileOpen);
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"source.wav"});

    const Bytes existing =
        riff({chunk("fmt ", fmtPcm(1, 48000, 16)), chunk("data", samples(12, 4))});
    writeFile(destPath, existing);
    EXPECT_FALSE(wav.CreateNewFile(destPath.c_str(), c.start, c.end));
    EXPECT_FALSE(wav.AppendToFile(destPath.c_str(), c.start, c.end));
    EXPECT_FALSE(wav.m_bFileOpen);
    EXPECT_TRUE(readFile(destPath) == existing);
    EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"dest.wav", "source.wav"}));
}

const Bytes kTenBytesAlignFour =
    riff({chunk("fmt ", fmtPcm(2, 48000, 16)), chunk("data", samples(10))});

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedRangeTest,
    ::testing::Values(RefusedRange{"StartAfterEnd", kTenBytesAlignFour, 2, 1},
                      RefusedRange{"EndPastTheWholeFrames", kTenBytesAlignFour, 0, 3},
                      RefusedRange{"StartAndEndPastTheData", kTenBytesAlignFour, 7, 9},
                      RefusedRange{"BlockAlignZero",
                                   riff({chunk("fmt ", cat({le16(1), le16(1), le32(48000),
                                                            le32(96000), le16(0), le16(16)})),
                                         chunk("data", samples(10))}),
                                   0, 0},
                      RefusedRange{"NoFormatChunk", riff({chunk("data", samples(10))}), 0, 1},
                      RefusedRange{"NoDataChunk", riff({chunk("fmt ", fmtPcm(1, 48000, 16))}), 0,
                                   0},
                      RefusedRange{"DataSizePastTheEndOfTheFile",
                                   riff({chunk("fmt ", fmtPcm(1, 48000, 16)),
                                         chunkDeclared("data", 4000, samples(10))}),
                                   0, 2000}),
    [](const auto& info) { return info.param.name; });

// Only a new file carries the format chunk, so only CreateNewFile needs its body in the buffer.
TEST_F(FrameCopy, CreateRefusesAFormatBodyLargerThanTheBuffer)
{
    writeFile(sourcePath,
              riff({chunk("fmt ", FmtBody(1, 16, kBuffer)), chunk("data", samples(10))}));
    CWavFile wav(sourcePath.c_str());
    EXPECT_FALSE(wav.CreateNewFile(destPath.c_str(), 0, 1));
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"source.wav"});
}

TEST_F(FrameCopy, ByteCountBeyondThirtyTwoBitsIsRefused)
{
    writeFile(sourcePath, kTenBytesAlignFour);
    CWavFile wav(sourcePath.c_str());
    // A data length that no 32-bit size field can hold, as a caller may set it.
    wav.m_nDataLength = uint64_t{1} << 34;
    EXPECT_FALSE(wav.CreateNewFile(destPath.c_str(), 0, 0x40000001));
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"source.wav"});
}

// Destinations close to the 4 GiB limit, made sparse so that they cost no disk.
class NearTheSizeLimit : public FrameCopy,
                         public ::testing::WithParamInterface<std::pair<const char*, uint32_t>>
{
};

TEST_P(NearTheSizeLimit, AppendThatWouldOverflowASizeIsRefused)
{
    const uint32_t nDataSize = GetParam().second;
    writeFile(sourcePath, riff({chunk("fmt ", fmtPcm(1, 48000, 16)), chunk("data", samples(64))}));
    const Bytes header = cat({ascii("RIFF"), le32(36 + nDataSize), ascii("WAVE"),
                              chunk("fmt ", fmtPcm(1, 48000, 16)), ascii("data"), le32(nDataSize)});
    writeFile(destPath, header);
    fs::resize_file(destPath, header.size() + nDataSize);

    CWavFile wav(sourcePath.c_str());
    EXPECT_FALSE(wav.AppendToFile(destPath.c_str(), 0, 20)); // 40 bytes
    EXPECT_EQ(fs::file_size(destPath), header.size() + nDataSize);
    EXPECT_TRUE(ReadHead(destPath, header.size()) == header);
}

INSTANTIATE_TEST_SUITE_P(Cases, NearTheSizeLimit,
                         ::testing::Values(std::pair{"DataSize", 0xFFFFFFF0u},
                                           std::pair{"RiffSize", 0xFFFFFFF0u - 40}),
                         [](const auto& info) { return std::string(info.param.first); });

// --- A failed read or write during the copy ---------------------------------

TEST_F(FrameCopy, SourceCutShortDuringTheCopyFailsBothOperations)
{
    const Bytes source =
        riff({chunk("fmt ", fmtPcm(1, 48000, 16)), chunk("data", samples(2 * kBuffer))});
    writeFile(sourcePath, source);
    const Bytes existing =
        riff({chunk("fmt ", fmtPcm(1, 48000, 16)), chunk("data", samples(12, 4))});
    writeFile(destPath, existing);

    CWavFile wav(sourcePath.c_str());
    // Opened, and so measured, before the file loses its second half.
    ASSERT_TRUE(wav.Open("r"));
    fs::resize_file(sourcePath, source.size() / 2);
    EXPECT_FALSE(wav.CreateNewFile(destPath.c_str(), 0, kBuffer));
    EXPECT_TRUE(readFile(destPath) == existing);

    fs::resize_file(sourcePath, source.size());
    ASSERT_TRUE(wav.Open("r"));
    fs::resize_file(sourcePath, source.size() / 2);
    EXPECT_FALSE(wav.AppendToFile(destPath.c_str(), 0, kBuffer));
    EXPECT_TRUE(readFile(destPath) == existing);
    EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"dest.wav", "source.wav"}));
}

// Holds the process's file size limit low for as long as it lives, so that
// writes past it fail (with the signal that would end the process ignored).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t nBytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = nBytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = SIG_DFL;
};

TEST_F(FrameCopy, WriteFailureDuringTheCopyFailsAndRestoresTheDestination)
{
    writeFile(sourcePath,
              riff({chunk("fmt ", fmtPcm(1, 48000, 16)), chunk("data", samples(3 * kBuffer))}));
    const Bytes existing =
        riff({chunk("fmt ", fmtPcm(1, 48000, 16)), chunk("data", samples(4000, 4))});
    writeFile(destPath, existing);
    CWavFile wav(sourcePath.c_str());
    {
        const FileSizeLimit limit(kBuffer);
        EXPECT_FALSE(wav.CreateNewFile(destPath.c_str(), 0, kBuffer));
        EXPECT_FALSE(wav.AppendToFile(destPath.c_str(), 0, kBuffer));
    }
    EXPECT_FALSE(wav.m_bFileOpen);
    EXPECT_TRUE(readFile(destPath) == existing);
    EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"dest.wav", "source.wav"}));
}

// --- Against an outside tool ------------------------------------------------

std::vector<short> ReadThroughLibsndfile(const std::string& path, SF_INFO& info)
{
    info = {};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
    if (sf == nullptr)
        return {};
    std::vector<short> out(static_cast<std::size_t>(info.frames * info.channels));
    out.resize(static_cast<std::size_t>(
        sf_read_short(sf, out.data(), static_cast<sf_count_t>(out.size()))));
    sf_close(sf);
    return out;
}

TEST_F(FrameCopy, FramesMatchWhatSoxTrimGives)
{
    const std::string reference = "/usr/share/sounds/alsa/Front_Center.wav";
    if (std::system("command -v sox >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "sox is not installed";
    ASSERT_TRUE(fs::exists(reference)) << "alsa-utils provides " << reference;

    CWavFile wav(reference.c_str());
    const uint32_t nFrames = static_cast<uint32_t>(wav.GetFullFileRegionEnd());
    ASSERT_GT(nFrames, 60000u);
    const std::pair<uint32_t, uint32_t> ranges[] = {
        {0, 1}, {1234, 40321}, {0, nFrames}, {nFrames - 7, nFrames}};
    for (const auto& [start, end] : ranges)
    {
        SCOPED_TRACE(std::to_string(start) + " to " + std::to_string(end));
        const std::string oursPath = (dir / "ours.wav").string();
        const std::string soxPath = (dir / "sox.wav").string();
        ASSERT_TRUE(wav.CreateNewFile(oursPath.c_str(), start, end));
        const std::string command = "sox '" + reference + "' '" + soxPath + "' trim " +
                                    std::to_string(start) + "s =" + std::to_string(end) + "s";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;

        SF_INFO ours;
        SF_INFO theirs;
        const std::vector<short> oursSamples = ReadThroughLibsndfile(oursPath, ours);
        const std::vector<short> soxSamples = ReadThroughLibsndfile(soxPath, theirs);
        EXPECT_EQ(ours.frames, sf_count_t{end - start});
        EXPECT_EQ(ours.samplerate, theirs.samplerate);
        EXPECT_EQ(ours.channels, theirs.channels);
        EXPECT_EQ(oursSamples, soxSamples);
    }
}

// --- Per-channel streams ------------------------------------------------------

class ChannelStreams : public FrameCopy
{
protected:
    CWavFile wav;
    std::vector<std::string> paths{(dir / "ch0.wav").string(), (dir / "ch1.wav").string(),
                                   (dir / "ch2.wav").string()};
    FILE* files[3] = {};

    void OpenAll()
    {
        wav.m_nChannels = 3;
        for (std::size_t i = 0; i < 3; ++i)
        {
            files[i] = fopen(paths[i].c_str(), "w+");
            ASSERT_NE(files[i], nullptr);
        }
    }
};

TEST_F(ChannelStreams, WriteBufferWritesTheSameBytesToEveryStream)
{
    OpenAll();
    const Bytes header = samples(44, 8);
    const Bytes frames = samples(30, 9);
    ASSERT_TRUE(wav.WriteBuffer(files, header.data(), 44));
    ASSERT_TRUE(wav.WriteBuffer(files, frames.data(), 30));
    EXPECT_FALSE(wav.WriteBuffer(files, frames.data(), 0));
    EXPECT_FALSE(wav.WriteBuffer(files, nullptr, 30));
    wav.CloseFiles(files);
    for (const std::string& path : paths)
        EXPECT_TRUE(readFile(path) == cat({header, frames})) << path;
}

TEST_F(ChannelStreams, SetFileDataLenWritesEachFilesRiffSize)
{
    OpenAll();
    const Bytes header = riff({chunk("fmt ", fmtPcm(1, 48000, 16)), chunk("data", {})});
    ASSERT_EQ(header.size(), 44u);
    ASSERT_TRUE(wav.WriteBuffer(files, header.data(), 44));
    const Bytes extra = samples(10);
    fwrite(extra.data(), 1, extra.size(), files[2]); // the third file is 10 bytes longer

    wav.SetFileDataLen(files);
    for (FILE* file : files)
        EXPECT_EQ(ftell(file), 8);
    wav.CloseFiles(files);
    EXPECT_EQ(readLe32(readFile(paths[0]), 4), 36u);
    EXPECT_EQ(readLe32(readFile(paths[1]), 4), 36u);
    EXPECT_EQ(readLe32(readFile(paths[2]), 4), 46u);
}

TEST_F(ChannelStreams, WriteBufferReportsAStreamThatCannotTakeTheBytes)
{
    OpenAll();
    fclose(files[1]);
    files[1] = fopen("/dev/full", "w");
    ASSERT_NE(files[1], nullptr);
    setvbuf(files[1], nullptr, _IONBF, 0);
    const Bytes frames = samples(30);
    EXPECT_FALSE(wav.WriteBuffer(files, frames.data(), 30));
    wav.CloseFiles(files);
    // The other streams still got the bytes.
    EXPECT_TRUE(readFile(paths[0]) == frames);
    EXPECT_TRUE(readFile(paths[2]) == frames);
}

using ChannelStreamsDeathTest = ChannelStreams;

TEST_F(ChannelStreamsDeathTest, NullStreamArrayStopsWithAnAssertionNamingTheCall)
{
    wav.m_nChannels = 1;
#ifdef NDEBUG
    wav.CloseFiles(nullptr);
    wav.SetFileDataLen(nullptr);
    GTEST_SKIP() << "assertions are compiled out (NDEBUG): the null array was ignored";
#else
    EXPECT_DEATH(wav.CloseFiles(nullptr), "WavFile.cpp.*CloseFiles.*pFiles");
    EXPECT_DEATH(wav.SetFileDataLen(nullptr), "WavFile.cpp.*SetFileDataLen.*pFiles");
#endif
}
} // namespace
