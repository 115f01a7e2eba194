#pragma once

#include "PlatformServices.h"

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// A sound output that records what it is asked to play; ended plays the
// take to its end.
class TestAudioOutput : public korva::AudioOutput
{
public:
    std::string whyNoOutput() const override { return why; }
    void play(const korva::PlayRequest& request,
              std::function<void(const std::string&)> onEnd) override
    {
        plays.push_back(request);
        ended = std::move(onEnd);
    }
    void stop() override
    {
        ++nStops;
        ended = nullptr;
    }

    std::string why; // "": a device is there
    std::vector<korva::PlayRequest> plays;
    std::function<void(const std::string&)> ended;
    int nStops = 0;
};

// The platform as a test drives it: scripted answers, the rest recorded after
// joinWorkers; the interface thread's work waits for the test to pump it.
class TestPlatform : public korva::PlatformServices
{
public:
    void joinWorkers() { workers.clear(); }
    void pumpInterfaceQueue()
    {
        std::unique_lock lock(queueMutex);
        const auto queued = std::exchange(interfaceQueue, {});
        lock.unlock();
        for (const auto& work : queued)
            work();
    }

    std::optional<std::vector<std::string>>
    runOpenPanel(const korva::OpenPanelOptions& options) override
    {
        panelOptions.push_back(options);
        return panelAnswers.at(nPanels++);
    }
    std::optional<std::string> runSavePanel(const korva::SavePanelOptions& options) override
    {
        savePanelOptions.push_back(options);
        return saveAnswers.at(savePanelOptions.size() - 1);
    }
    int runAlertPanel(const std::string&, const std::string& message,
                      const std::vector<std::string>&) override
    {
        alerts.push_back(message);
        return alertAnswer;
    }
    void beep() override { ++nBeeps; }
    void log(const std::string& line) override { logLines.push_back(line); }
    bool hasDefault(const std::string& key) const override { return defaults.count(key) != 0; }
    int integerForKey(const std::string& key) const override
    {
        return hasDefault(key) ? defaults.at(key) : 0;
    }
    void setIntegerForKey(const std::string& key, int nValue) override { defaults[key] = nValue; }
    std::string stringForKey(const std::string& key) const override
    {
        return texts.count(key) ? texts.at(key) : "";
    }
    void setStringForKey(const std::string& key, const std::string& value) override
    {
        texts[key] = value;
    }
    void detachThread(std::function<void()> work) override { workers.emplace_back(work); }
    void runOnInterfaceThread(std::function<void()> work) override
    {
        const std::lock_guard lock(queueMutex);
        interfaceQueue.push_back(work);
    }
    korva::AudioOutput& audioOutput() override { return audio; }
    void terminate() override {}
    void openFolder(const std::string& path) override { foldersOpened.push_back(path); }
    void reportProgress(double value) override
    {
        progress.push_back(value);
        if (onProgress)
            onProgress(value);
    }
    void reportStatus(const std::string& text) override { statuses.push_back(text); }
    void reportFileOutcome(int row, const korva::FileOutcome& outcome) override
    {
        rows.push_back(row);
        outcomes.push_back(outcome);
        kinds.push_back(outcome.kind);
    }

    // The panels' paths in order (nullopt cancels), every alert's answer.
    std::vector<std::optional<std::vector<std::string>>> panelAnswers;
    int alertAnswer = 3;                    // the overwrite question's No
    std::function<void(double)> onProgress; // on the worker, before each file's job
    std::map<std::string, int> defaults;
    std::map<std::string, std::string> texts;
    // What happened; an alert as its message.
    std::size_t nPanels = 0;
    std::vector<korva::OpenPanelOptions> panelOptions;
    std::vector<std::optional<std::string>> saveAnswers; // each save panel's (nullopt cancels)
    std::vector<korva::SavePanelOptions> savePanelOptions;
    std::vector<std::string> alerts, logLines, statuses, foldersOpened;
    std::vector<double> progress;
    std::vector<int> rows;
    std::vector<korva::FileOutcome> outcomes;
    std::vector<korva::FileOutcome::Kind> kinds;
    int nBeeps = 0;
    TestAudioOutput audio;
    // The worker and the test's thread both post (a stop request while the
    // batch ends).
    std::mutex queueMutex;
    std::vector<std::function<void()>> interfaceQueue;
    std::vector<std::jthread> workers; // last, so that they end first
};
