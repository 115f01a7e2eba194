#include <gtest/gtest.h>

#include <string>

#include "AudioFile.h"
#include "TempDir.h"
#include "WavBuilder.h"

using namespace fixture;

class AudioFileTest : public ::testing::Test
{
protected:
    TempDir dir;
    std::string path(const std::string& name, const Bytes& bytes = {1, 2, 3, 4, 5})
    {
        writeFile(dir / name, bytes);
        return (dir / name).string();
    }
};

TEST_F(AudioFileTest, DefaultObjectRefusesOpenUntilAPathIsSet)
{
    CAudioFile file;
    EXPECT_TRUE(file.FileExists());
    EXPECT_FALSE(file.Open("r"));
    EXPECT_STREQ(file.m_pszPath.get(), "");
    EXPECT_TRUE(file.m_bIntelByteOrder);

    EXPECT_TRUE(file.SetPath(path("a.wav").c_str(), true));
    EXPECT_TRUE(file.Open("r"));
    EXPECT_FALSE(file.Open("r")) << "a second Open on an open stream is refused";
    EXPECT_TRUE(file.Close());
    EXPECT_FALSE(file.Close());
}

TEST_F(AudioFileTest, OpenMeasuresTheFileAndLeavesTheStreamAtItsEnd)
{
    for (std::size_t size : {0u, 1u, 4097u})
    {
        CAudioFile file(path("m.wav", Bytes(size, 7)).c_str());
        ASSERT_TRUE(file.Open("r"));
        EXPECT_EQ(file.GetLength(), size);
        EXPECT_EQ(ftello(file.m_pFile), static_cast<off_t>(size));
    }
}

TEST_F(AudioFileTest, MissingFileIsRememberedForGood)
{
    CAudioFile file((dir / "missing.wav").c_str());
    EXPECT_FALSE(file.Open("r"));
    EXPECT_FALSE(file.FileExists());
    file.SetPath(path("there.wav").c_str(), true);
    EXPECT_TRUE(file.Open("r"));
    EXPECT_FALSE(file.FileExists());
}

TEST_F(AudioFileTest, SamePathKeepsTheStreamOpenAndANewPathClosesIt)
{
    const std::string a = path("a.wav");
    CAudioFile file(a.c_str());
    ASSERT_TRUE(file.Open("r"));
    EXPECT_TRUE(file.SetPath(a.c_str(), false));
    EXPECT_TRUE(file.m_bFileOpen);
    EXPECT_FALSE(file.m_bIntelByteOrder) << "the flag follows every call";
    EXPECT_TRUE(file.SetPath(a.c_str(), true));
    EXPECT_TRUE(file.m_bIntelByteOrder);

    EXPECT_TRUE(file.SetPath(path("b.wav").c_str(), true));
    EXPECT_FALSE(file.m_bFileOpen);
}

TEST_F(AudioFileTest, PathsThatDoNotFitAreRefusedNeverCut)
{
    const std::string fits(CAudioFile::kPathCapacity - 1, 'x');
    const std::string tooLong(CAudioFile::kPathCapacity, 'x');

    CAudioFile file;
    EXPECT_TRUE(file.SetPath(fits.c_str(), true));
    EXPECT_EQ(std::string(file.m_pszPath.get()), fits);

    const std::string a = path("a.wav");
    EXPECT_TRUE(file.SetPath(a.c_str(), true));
    EXPECT_FALSE(file.SetPath(tooLong.c_str(), false));
    EXPECT_EQ(std::string(file.m_pszPath.get()), a);
    EXPECT_TRUE(file.m_bIntelByteOrder) << "a refused call changes nothing";

    CAudioFile constructed(tooLong.c_str());
    EXPECT_FALSE(constructed.m_bPathSet);
    EXPECT_STREQ(constructed.m_pszPath.get(), "");
}

TEST_F(AudioFileTest, DestructorFlushesAndClosesAnOpenStream)
{
    const std::string p = path("w.wav", Bytes(8, 0));
    {
        CAudioFile file(p.c_str());
        ASSERT_TRUE(file.Open("r+"));
        fseeko(file.m_pFile, 2, SEEK_SET);
        fputc(0x5A, file.m_pFile);
    }
    EXPECT_EQ(readFile(p), (Bytes{0, 0, 0x5A, 0, 0, 0, 0, 0}));
}
