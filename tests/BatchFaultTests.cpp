#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <sys/mount.h>
#include <thread>

#include "cli/CliProcess.h"

using namespace fixture;
using ::testing::HasSubstr;

using BatchFault = CliBatch;
using FullDisk = CliCase<bool>; // true: a 600 KiB tmpfs; false: a 500 KiB file-size limit

// The second of three files does not fit: the batch stops there and says why,
// the first copy stands complete, the earlier copy of the second is kept,
// nothing is left half-written under any name, the third is not reached.
TEST_P(FullDisk, StopsTheBatchWithItsCauseAndLosesNothing)
{
    if (GetParam() && mount("tmpfs", out.c_str(), "tmpfs", 0, "size=614400") != 0)
        GTEST_SKIP() << "tmpfs cannot be mounted here (needs root)";
    const auto unmount = [](const fs::path* at) { umount2(at->c_str(), MNT_DETACH); };
    std::unique_ptr<const fs::path, decltype(unmount)> tmpfs(GetParam() ? &out : nullptr, unmount);
    const Bytes a = lostFormat(samples(100000, 1));
    const Bytes earlierB = repaired(lostFormat(samples(40000, 4)), 48000, 24);
    writeFile(out / "b.wav", earlierB);
    const auto args = repairArgs(48000, 24,
                                 {"--yes", addSource("a.wav", a),
                                  addSource("b.wav", lostFormat(samples(1000000, 2))),
                                  addSource("c.wav", lostFormat(samples(100000, 3), false))});
    const auto r = CliProcess(args, GetParam() ? 0 : 500 * 1024).finish();
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("failed\t" + (out / "b.wav").string() + "\tfilesystem error: " +
                                 (GetParam() ? "copy_file: No space left on device"
                                             : "copy_file: File too large")));
    EXPECT_THAT(r.err, HasSubstr("korva-cli: stopped; 1 of 3 files not processed\n"));
    EXPECT_TRUE(filesIn(out) == (Files{{"a.wav", repaired(a, 48000, 24)}, {"b.wav", earlierB}}));
}

INSTANTIATE_TEST_SUITE_P(Destinations, FullDisk, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Tmpfs" : "FileSizeLimit"; });

// SIGKILL at random points of a batch, again and again over the same folder:
// every file under a final name is complete.
TEST_F(BatchFault, KilledAtRandomPointsNeverLeavesAPartialFile)
{
    std::vector<std::string> args = repairArgs(48000, 24, {"--yes"});
    Files expected;
    for (uint32_t i = 0; i < 10; ++i) // every third needs an insert, which moves all its data
    {
        const Bytes source = lostFormat(samples(500000, i), i % 3 != 0);
        args.push_back(addSource("take" + std::to_string(i) + ".wav", source));
        expected[fs::path(args.back()).filename()] = repaired(source, 48000, 24);
    }
    // How long a whole batch takes here, so that the kills fall inside one.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(CliProcess::run(args).status, 0);
    const auto whole = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(filesIn(out) == expected);

    std::mt19937 random(20240607);
    std::uniform_int_distribution<long> delay(0, whole / std::chrono::microseconds(1));
    for (int round = 0; round < 12; ++round)
    {
        if (round % 2 == 0) // every other round starts from an empty folder
            fs::remove_all(out), fs::create_directory(out);
        CliProcess cli(args);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        cli.send(SIGKILL);
        cli.finish();
        for (const auto& [name, bytes] : filesIn(out))
            EXPECT_TRUE(name.starts_with(".korva-") || bytes == expected[name]) // or temporary
                << "round " << round << ": " << name << " is partial or unknown";
    }
}
