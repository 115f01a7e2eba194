#include "Utility.h"

#include <gtest/gtest.h>

#include <array>
#include <cfloat>
#include <cstring>
#include <string>

namespace
{
TEST(GetFileNameFromStringPath, PointsPastTheLastSlashIntoThePathItself)
{
    const char* pszPath = "/Volumes/Audio/take1.wav";
    const char* pszName = GetFileNameFromStringPath(pszPath);
    ASSERT_NE(pszName, nullptr);
    EXPECT_EQ(pszName, pszPath + 15);
    EXPECT_STREQ(pszName, "take1.wav");
}

TEST(GetFileNameFromStringPath, PathWithoutSlashGivesNull)
{
    EXPECT_EQ(GetFileNameFromStringPath("take1.wav"), nullptr);
    EXPECT_EQ(GetFileNameFromStringPath(""), nullptr);
}

TEST(GetFileNameFromStringPath, TrailingSlashPointsAtTheTerminatingNul)
{
    const char* pszPath = "/Volumes/Audio/";
    EXPECT_EQ(GetFileNameFromStringPath(pszPath), pszPath + std::strlen(pszPath));
}

// Destination buffers start filled with 'x' so that every byte written, and
// every byte left alone, shows.
std::array<char, 16> Poisoned()
{
    std::array<char, 16> buffer;
    buffer.fill('x');
    return buffer;
}

struct MidCase
{
    const char* name;
    const char* source;
    int start;
    int count;
    std::string expected; // all 16 bytes of the destination afterwards
};

class StringMidTest : public ::testing::TestWithParam<MidCase>
{
};

TEST_P(StringMidTest, WritesExactlyCountPlusOneBytes)
{
    const MidCase& c = GetParam();
    auto dest = Poisoned();
    EXPECT_EQ(StringMid(c.source, dest.data(), c.start, c.count), dest.data());
    EXPECT_EQ(std::string(dest.data(), dest.size()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StringMidTest,
    ::testing::Values(
        MidCase{"Middle", "ABCDEFG", 2, 3, std::string("CDE\0xxxxxxxxxxxx", 16)},
        MidCase{"RunsOffTheEnd", "ABCDEFG", 5, 3, std::string("FG\0\0xxxxxxxxxxxx", 16)},
        MidCase{"WholeString", "ABCDEFG", 0, 7, std::string("ABCDEFG\0xxxxxxxx", 16)},
        MidCase{"StartAtTheEnd", "ABCDEFG", 7, 2, std::string("\0\0\0xxxxxxxxxxxxx", 16)},
        MidCase{"StartPastTheEnd", "AB", 9, 2, std::string("\0\0\0xxxxxxxxxxxxx", 16)},
        MidCase{"ZeroCount", "ABCDEFG", 1, 0, std::string("\0xxxxxxxxxxxxxxx", 16)},
        MidCase{"NegativeCount", "ABCDEFG", 1, -4, std::string(16, 'x')}),
    [](const auto& info) { return std::string(info.param.name); });

struct LeftCase
{
    const char* name;
    const char* source;
    int count;
    std::string expected;
};

class StringLeftTest : public ::testing::TestWithParam<LeftCase>
{
};

TEST_P(StringLeftTest, CopiesAsTheBoundedStandardCopy)
{
    const LeftCase& c = GetParam();
    auto dest = Poisoned();
    EXPECT_EQ(StringLeft(c.source, dest.data(), c.count), dest.data());
    EXPECT_EQ(std::string(dest.data(), dest.size()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StringLeftTest,
    ::testing::Values(LeftCase{"LongerSourceGetsNoNul", "ABCDEFG", 3, "ABCxxxxxxxxxxxxx"},
                      LeftCase{"ShorterSourceIsNulFilled", "AB", 4,
                               std::string("AB\0\0xxxxxxxxxxxx", 16)},
                      LeftCase{"ExactLengthGetsNoNul", "ABC", 3, "ABCxxxxxxxxxxxxx"},
                      LeftCase{"ZeroCount", "ABC", 0, std::string(16, 'x')},
                      LeftCase{"NegativeCount", "ABC", -1, std::string(16, 'x')}),
    [](const auto& info) { return std::string(info.param.name); });

struct ThouCase
{
    const char* name;
    double value;
    const char* expected;
};

class PlaceThouCharsTest : public ::testing::TestWithParam<ThouCase>
{
};

TEST_P(PlaceThouCharsTest, GroupsTheRoundedDigitsByThree)
{
    const ThouCase& c = GetParam();
    char szOut[32];
    std::memset(szOut, 'x', sizeof szOut);
    EXPECT_EQ(PlaceThouChars(c.value, szOut), szOut);
    EXPECT_STREQ(szOut, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, PlaceThouCharsTest,
                         ::testing::Values(ThouCase{"ThreeDigits", 999, "999"},
                                           ThouCase{"FourDigits", 1000, "1,000"},
                                           ThouCase{"FiveDigits", 44100, "44,100"},
                                           ThouCase{"SixDigits", 614400, "614,400"},
                                           ThouCase{"SevenDigits", 1000000, "1,000,000"},
                                           ThouCase{"RoundsDown", 0.4, "0"},
                                           ThouCase{"RoundsUp", 1234.6, "1,235"},
                                           ThouCase{"Zero", 0, "0"},
                                           ThouCase{"TenDigits", 4294967295.0, "4,294,967,295"},
                                           ThouCase{"NegativeSmall", -12, "-12"},
                                           ThouCase{"NegativeThreeDigits", -999, "-999"},
                                           ThouCase{"NegativeSignStaysInFront", -1000, "-1,000"},
                                           ThouCase{"NegativeSixDigits", -614400, "-614,400"},
                                           ThouCase{"NegativeFiveDigits", -44100, "-44,100"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PlaceThouChars, LargestDoubleFitsTheDocumentedBuffer)
{
    char szOut[413];
    PlaceThouChars(-DBL_MAX, szOut);
    // A sign, 309 digits and 102 commas; the NUL takes the last byte.
    EXPECT_EQ(std::strlen(szOut), 309u + 102u + 1u);
    EXPECT_EQ(std::string(szOut, 5), "-179,");
}
} // namespace
