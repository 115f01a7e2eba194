// korva-fuzz-seeds DIR: writes a starting corpus for every fuzz target into
// DIR/<target>/, built byte by byte (the fixtures' seed shapes), so that
// fuzzing starts from the shapes that matter instead of from nothing.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Layouts.h"

using namespace fixture;

namespace
{
void WriteCorpus(const std::filesystem::path& folder, const std::vector<Bytes>& prefixes)
{
    std::filesystem::create_directories(folder);
    int n = 0;
    for (const Bytes& prefix : prefixes)
        for (const Bytes& shape : SeedShapes())
            writeFile(folder / ("seed-" + std::to_string(n++)), cat({prefix, shape}));
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    WriteCorpus(dir / "fuzz-walk", {Bytes{}});
    // fuzz-repair: one byte picks the depth (8, 16, 24 bits).
    WriteCorpus(dir / "fuzz-repair", {{0}, {1}, {2}});
    // fuzz-delete-chunk: one byte picks the identifier (data, fmt , bext, JUNK).
    WriteCorpus(dir / "fuzz-delete-chunk", {{0}, {1}, {2}, {3}});
    // fuzz-evidence: two bytes for the lengths of the bext body and the iXML text.
    WriteCorpus(dir / "fuzz-evidence", {{76, 20}, {80, 0}, {0, 40}});
    // fuzz-new-file: the frame range, first and one past the last.
    WriteCorpus(dir / "fuzz-new-file",
                {cat({le32(0), le32(32)}), cat({le32(3), le32(5)}), cat({le32(4), le32(4)})});
    return 0;
}
