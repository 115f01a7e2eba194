#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "RiffFile.h"
#include "TempDir.h"
#include "TraceCapture.h"
#include "WavBuilder.h"

using namespace fixture;
using namespace std::string_view_literals;

namespace
{
constexpr std::size_t kBlock = 614400; // the deletion moves the tail in blocks of this size

const Bytes kFmt = chunk("fmt ", fmtPcm(1, 48000, 24));
const Bytes kBext = chunk("bext", bextBody(123456));
const Bytes kData = chunk("data", samples(300));

TEST(DeleteChunk, MatchesTheReferenceByteForByteOrRefusesAndClosesTheStream)
{
    // The file, the chunk, the file afterwards (empty: refused, unchanged), the byte order.
    const Bytes junk = chunk("JUNK", samples(9, 7)); // odd-sized, no pad byte behind it
    const auto tail = [](std::size_t n) { return chunk("data", samples(n - 8, 9)); }; // n bytes
    const std::tuple<const char*, Bytes, const char*, Bytes, bool> cases[] = {
        {"Head", riff({kFmt, kBext, kData}), "fmt ", riff({kBext, kData}), true},
        {"TailOneByteShortOfABlock", riff({kFmt, junk, tail(kBlock - 1)}), "JUNK",
         riff({kFmt, tail(kBlock - 1)}), true},
        {"TailOfExactlyOneBlock", riff({kFmt, junk, tail(kBlock)}), "JUNK",
         riff({kFmt, tail(kBlock)}), true},
        {"TailOneByteOverABlock", riff({kFmt, junk, tail(kBlock + 1)}), "JUNK",
         riff({kFmt, tail(kBlock + 1)}), true},
        // Sizes stored big-endian, as a reader whose byte-order flag is false expects them.
        {"SizesThroughTheByteOrderFlag",
         cat({ascii("RIFF\0\0\0\x20WAVEJUNK\0\0\0\x04"sv), samples(4), ascii("data\0\0\0\x08"sv),
              samples(8)}),
         "JUNK", cat({ascii("RIFF\0\0\0\x14WAVEdata\0\0\0\x08"sv), samples(8)}), false},
        // The search starts behind the header: RIFF names no chunk, and is refused.
        {"RiffHeaderIsNoChunk", riff({kFmt, kData}), "RIFF", {}, true},
    };
    TempDir dir;
    TraceCapture trace;
    const std::string path = (dir / "take.wav").string();
    for (const auto& [name, before, id, after, intelByteOrder] : cases)
    {
        SCOPED_TRACE(name);
        writeFile(path, before);
        CRiffFile file(path.c_str());
        file.m_bIntelByteOrder = intelByteOrder;
        // A stream the caller opened for reading stays open, and sees the new bytes.
        const bool bOpen = std::string_view(name).starts_with("Tail");
        ASSERT_TRUE(!bOpen || file.Open("r"));

        EXPECT_EQ(file.DeleteChunk(id), !after.empty());
        EXPECT_EQ(file.m_bFileOpen, bOpen);
        const Bytes& expected = after.empty() ? before : after;
        EXPECT_TRUE(readFile(path) == expected) << "differs from the reference";
        EXPECT_EQ(file.GetLength(), expected.size());
    }
}

TEST(DeleteChunk, WithoutAFileNothingIsDeletedCreatedOrTraced)
{
    TempDir dir;
    TraceCapture trace;
    EXPECT_FALSE(CRiffFile().DeleteChunk("fmt "));
    CRiffFile file((dir / "take.wav").c_str());
    EXPECT_FALSE(file.DeleteChunk("fmt "));
    EXPECT_FALSE(file.FileExists());
    EXPECT_FALSE(std::filesystem::exists(dir / "take.wav"));
    EXPECT_TRUE(trace.text().empty());
}
} // namespace
