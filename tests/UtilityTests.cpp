#include "Utility.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <string>
#include <tuple>

using namespace std::string_literals;

namespace
{
TEST(GetFileNameFromStringPath, PointsPastTheLastSlashIntoThePathOrGivesNull)
{
    const char* pszPath = "/Volumes/Audio/take1.wav";
    EXPECT_EQ(GetFileNameFromStringPath(pszPath), pszPath + 15);
    const char* pszFolder = "/Volumes/Audio/";
    EXPECT_EQ(GetFileNameFromStringPath(pszFolder), pszFolder + 15); // at the terminating NUL
    EXPECT_EQ(GetFileNameFromStringPath("take1.wav"), nullptr);
    EXPECT_EQ(GetFileNameFromStringPath(""), nullptr);
}

// The destination starts as 16 'x' bytes, so that every byte written, and
// every byte left alone, shows. A row with start -1 is a StringLeft call.
TEST(StringMidAndStringLeft, WriteTheCopiedBytesAndTheirNulsAndNothingMore)
{
    const std::tuple<const char*, const char*, int, int, std::string> cases[] = {
        {"MidMiddle", "ABCDEFG", 2, 3, "CDE\0"s},
        {"MidRunsOffTheEnd", "ABCDEFG", 5, 3, "FG\0\0"s},
        {"MidWholeString", "ABCDEFG", 0, 7, "ABCDEFG\0"s},
        {"MidStartAtTheEnd", "ABCDEFG", 7, 2, "\0\0\0"s},
        {"MidStartPastTheEnd", "AB", 9, 2, "\0\0\0"s},
        {"MidZeroCount", "ABCDEFG", 1, 0, "\0"s},
        {"MidNegativeCount", "ABCDEFG", 1, -4, ""},
        {"LeftLongerSourceGetsNoNul", "ABCDEFG", -1, 3, "ABC"},
        {"LeftShorterSourceIsNulFilled", "AB", -1, 4, "AB\0\0"s},
        {"LeftExactLengthGetsNoNul", "ABC", -1, 3, "ABC"},
        {"LeftZeroCount", "ABC", -1, 0, ""},
        {"LeftNegativeCount", "ABC", -1, -1, ""},
    };
    for (const auto& [name, source, start, count, written] : cases)
    {
        std::string dest(16, 'x');
        char* pszResult = start < 0 ? StringLeft(source, dest.data(), count)
                                    : StringMid(source, dest.data(), start, count);
        EXPECT_EQ(pszResult, dest.data()) << name;
        EXPECT_EQ(dest, written + std::string(16 - written.size(), 'x')) << name;
    }
}

TEST(PlaceThouChars, GroupsTheRoundedDigitsByThreeBehindTheSign)
{
    const std::pair<double, const char*> cases[] = {
        {999, "999"}, {1000, "1,000"},   {44100, "44,100"}, {1000000, "1,000,000"},
        {0.4, "0"},   {1234.6, "1,235"}, {0, "0"},          {4294967295, "4,294,967,295"},
        {-12, "-12"}, {-999, "-999"},    {-1000, "-1,000"}, {-614400, "-614,400"}};
    for (const auto& [value, expected] : cases)
    {
        char szOut[32];
        std::memset(szOut, 'x', sizeof szOut);
        EXPECT_EQ(PlaceThouChars(value, szOut), szOut);
        EXPECT_STREQ(szOut, expected);
    }

    // The largest double fits the documented buffer: a sign, 309 digits,
    // 102 commas and the NUL in the last byte.
    char szLargest[413];
    PlaceThouChars(-DBL_MAX, szLargest);
    EXPECT_EQ(std::strlen(szLargest), 309u + 102u + 1u);
    EXPECT_EQ(std::string(szLargest, 5), "-179,");
}
} // namespace
