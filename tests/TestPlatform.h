#pragma once

#include "PlatformServices.h"

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// The platform as a test drives it: panels and alerts answer from scripts,
// beeps are counted, log lines, progress, status texts and file outcomes are
// recorded, the settings live in memory. The worker thread is a real thread;
// work for the interface thread waits in a queue until the test pumps it on
// its own thread, which plays the interface thread.
class TestPlatform : public korva::PlatformServices
{
public:
    struct Alert
    {
        std::string title, message, defaultButton, alternateButton;
    };

    TestPlatform() = default;
    // Joins any worker still running.
    ~TestPlatform() override;
    TestPlatform(const TestPlatform&) = delete;
    TestPlatform& operator=(const TestPlatform&) = delete;

    // --- Scripts (set before the controller asks) ---------------------------
    // The next open panel confirms these paths; nullopt cancels it.
    void answerPanel(std::optional<std::vector<std::string>> paths);
    // The next alert is answered with this button.
    void answerAlert(korva::AlertButton button);
    // Runs on the worker before each file's job, with the progress value.
    std::function<void(double)> onProgress;
    std::map<std::string, int> defaults;

    // --- The interface thread and the workers ---------------------------
    // Waits for every worker started so far to end.
    void joinWorkers();
    // Runs the queued interface work here, in order; returns how much ran.
    int pumpInterfaceQueue();
    int workersStarted() const { return static_cast<int>(m_workers.size()); }

    // --- What happened ------------------------------------------------------
    std::vector<std::string> logLines() const;
    std::vector<double> progress() const;
    std::vector<korva::FileOutcome> outcomes() const;
    std::vector<Alert> alerts() const;
    std::vector<korva::OpenPanelOptions> panels() const { return m_panels; }
    std::vector<std::string> statuses() const { return m_statuses; }
    int beeps() const { return m_nBeeps; }
    int terminations() const { return m_nTerminations; }

    // --- PlatformServices ---------------------------------------------------
    std::optional<std::vector<std::string>>
    runOpenPanel(const korva::OpenPanelOptions& options) override;
    korva::AlertButton runAlertPanel(const std::string& title, const std::string& message,
                                     const std::string& defaultButton,
                                     const std::string& alternateButton) override;
    void beep() override { ++m_nBeeps; }
    void log(const std::string& line) override;
    bool hasDefault(const std::string& key) const override { return defaults.count(key) != 0; }
    int integerForKey(const std::string& key) const override;
    void setIntegerForKey(const std::string& key, int nValue) override { defaults[key] = nValue; }
    void detachThread(std::function<void()> work) override;
    void runOnInterfaceThread(std::function<void()> work) override;
    void terminate() override { ++m_nTerminations; }
    void reportProgress(double progressValue) override;
    void reportStatus(const std::string& text) override { m_statuses.push_back(text); }
    void reportFileOutcome(const korva::FileOutcome& outcome) override;

private:
    mutable std::mutex m_mutex; // guards everything the worker touches
    std::deque<std::optional<std::vector<std::string>>> m_panelAnswers;
    std::deque<korva::AlertButton> m_alertAnswers;
    std::vector<korva::OpenPanelOptions> m_panels;
    std::vector<Alert> m_alerts;
    std::vector<std::string> m_log;
    std::vector<double> m_progress;
    std::vector<std::string> m_statuses;
    std::vector<korva::FileOutcome> m_outcomes;
    std::deque<std::function<void()>> m_interfaceQueue;
    std::vector<std::thread> m_workers;
    std::atomic<int> m_nBeeps = 0;
    std::atomic<int> m_nTerminations = 0;
};
