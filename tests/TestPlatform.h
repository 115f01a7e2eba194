#pragma once

#include "PlatformServices.h"

#include <map>
#include <thread>
#include <utility>

// The platform as a test drives it: scripted answers, the rest recorded after
// joinWorkers; the interface thread's work waits for the test to pump it.
class TestPlatform : public korva::PlatformServices
{
public:
    using Strings = std::vector<std::string>;

    void joinWorkers() { workers.clear(); }
    void pumpInterfaceQueue()
    {
        for (const auto& work : std::exchange(interfaceQueue, {}))
            work();
    }

    // An open panel with no answer scripted throws.
    std::optional<Strings> runOpenPanel(const korva::OpenPanelOptions&) override
    {
        return panelAnswers.at(nPanels++);
    }
    korva::AlertButton runAlertPanel(const std::string& title, const std::string& message,
                                     const std::string& defaultButton,
                                     const std::string& alternateButton) override
    {
        alerts.push_back({title, message, defaultButton, alternateButton});
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
    void detachThread(std::function<void()> work) override { workers.emplace_back(work); }
    void runOnInterfaceThread(std::function<void()> work) override
    {
        interfaceQueue.push_back(work);
    }
    void terminate() override { ++nTerminations; }
    void reportProgress(double value) override
    {
        progress.push_back(value);
        if (onProgress)
            onProgress(value);
    }
    void reportStatus(const std::string& text) override { statuses.push_back(text); }
    void reportFileOutcome(const korva::FileOutcome& outcome) override
    {
        outcomes.push_back(outcome);
        kinds.push_back(outcome.kind);
    }

    // The panels' paths in order (nullopt cancels), every alert's answer.
    std::vector<std::optional<Strings>> panelAnswers;
    korva::AlertButton alertAnswer = korva::AlertButton::Alternate;
    std::function<void(double)> onProgress; // on the worker, before each file's job
    std::map<std::string, int> defaults;
    // What happened; an alert as its title, message, default and alternate button.
    std::size_t nPanels = 0;
    std::vector<Strings> alerts;
    Strings logLines, statuses;
    std::vector<double> progress;
    std::vector<korva::FileOutcome> outcomes;
    std::vector<korva::FileOutcome::Kind> kinds; // the outcomes' kinds
    int nBeeps = 0, nTerminations = 0;
    std::vector<std::function<void()>> interfaceQueue;
    std::vector<std::jthread> workers; // last, so that they end first
};
