#pragma once

#include "AppController.h"
#include "TempDir.h"
#include "TestPlatform.h"
#include "TestWindow.h"
#include "Trace.h"
#include "WavBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

// A controller on the test platform, its window connected, and a temporary
// folder for the files of a batch.
class ControllerFixture : public ::testing::Test
{
protected:
    // A Broadcast Wave file that lost its fmt chunk: bext, the 24 zero bytes
    // left where the format chunk stood, data.
    static constexpr std::size_t kLostFormatOffset = 12 + 8 + 602;
    static fixture::Bytes damagedFile(uint32_t seed = 1)
    {
        return fixture::riff({fixture::chunk("bext", fixture::bextBody(seed * 1000)),
                              fixture::Bytes(24, 0),
                              fixture::chunk("data", fixture::samples(96, seed))});
    }
    // damagedFile with the repair's 24 bytes where the format chunk was lost.
    static fixture::Bytes repairedFile(uint32_t rate, uint16_t bits, uint32_t seed = 1)
    {
        fixture::Bytes bytes = damagedFile(seed);
        const fixture::Bytes format = fixture::fmtChunkMono(rate, bits);
        std::copy(format.begin(), format.end(),
                  bytes.begin() + static_cast<std::ptrdiff_t>(kLostFormatOffset));
        return bytes;
    }

    void SetUp() override { CTrace::SetStream(nullptr); }
    void TearDown() override { CTrace::SetStream(&std::cout); }

    // Creates the controller, connects the window and completes it.
    void start()
    {
        controller.emplace(platform);
        window.connect(*controller);
        controller->awakeFromNib();
    }

    std::filesystem::path folder(const std::string& name)
    {
        std::filesystem::create_directories(dir / name);
        return dir / name;
    }

    // Writes the files into folder and returns their full paths, in order.
    std::vector<std::string> writeFiles(const std::filesystem::path& where,
                                        const std::vector<std::string>& names,
                                        const fixture::Bytes& bytes = damagedFile())
    {
        std::vector<std::string> paths;
        for (const std::string& name : names)
        {
            fixture::writeFile(where / name, bytes);
            paths.push_back((where / name).string());
        }
        return paths;
    }

    void chooseFiles(const std::vector<std::string>& paths)
    {
        platform.answerPanel(paths);
        controller->GetFilesForFixin();
    }
    void chooseDestination(const std::filesystem::path& where)
    {
        platform.answerPanel(std::vector<std::string>{where.string()});
        controller->SetPath();
    }

    // Starts the batch, waits for the worker and runs the end-of-batch reset
    // on this thread, the interface thread.
    void runBatch()
    {
        controller->DoPatch();
        platform.joinWorkers();
        platform.pumpInterfaceQueue();
    }

    // The names in a folder, sorted; hidden temporary files included.
    static std::vector<std::string> listing(const std::filesystem::path& where)
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(where))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TestPlatform platform;
    test::TestWindow window;
    TempDir dir;
    std::optional<AppController> controller;
};
