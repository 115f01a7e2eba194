#pragma once

#include "PlatformServices.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The platform layer for a terminal. The choosers answer with what the command
// line gave, the overwrite question is answered by an option or asked on the
// terminal, log lines go to standard error, and the settings live in memory
// only (nothing is read or written). The batch worker is a real thread that
// the caller joins; work for the interface thread waits in a queue that the
// caller's thread (the interface thread) drains with pumpInterfaceQueue.
class ConsolePlatform : public korva::PlatformServices
{
public:
    enum class Overwrite
    {
        Yes, // every question is answered Yes
        No,  // every question is answered No
        Ask, // asked on the terminal; No when standard input is not a terminal
    };

    // files answers the file chooser, destination the folder chooser.
    ConsolePlatform(std::vector<std::string> files, std::string destination, Overwrite overwrite);
    // Joins any worker still running.
    ~ConsolePlatform() override;
    ConsolePlatform(const ConsolePlatform&) = delete;
    ConsolePlatform& operator=(const ConsolePlatform&) = delete;

    // Called on the worker with each file's outcome, after it is recorded.
    std::function<void(const korva::FileOutcome&)> onFileOutcome;

    // Runs the queued interface work on the calling thread, waiting up to
    // wait for the first piece when none is queued; returns how much ran.
    int pumpInterfaceQueue(std::chrono::milliseconds wait);
    // Waits for every worker started so far to end.
    void joinWorkers();
    // Every outcome reported so far, in order.
    std::vector<korva::FileOutcome> outcomes() const;

    // --- PlatformServices ---------------------------------------------------
    std::optional<std::vector<std::string>>
    runOpenPanel(const korva::OpenPanelOptions& options) override;
    korva::AlertButton runAlertPanel(const std::string& title, const std::string& message,
                                     const std::string& defaultButton,
                                     const std::string& alternateButton) override;
    void beep() override;
    void log(const std::string& line) override;
    bool hasDefault(const std::string& key) const override;
    int integerForKey(const std::string& key) const override;
    void setIntegerForKey(const std::string& key, int nValue) override;
    void detachThread(std::function<void()> work) override;
    void runOnInterfaceThread(std::function<void()> work) override;
    // The command ends when its batch does; there is no main loop to end.
    void terminate() override {}
    void reportProgress(double progressValue) override;
    void reportStatus(const std::string& text) override;
    void reportFileOutcome(const korva::FileOutcome& outcome) override;

private:
    bool askOnTerminal(const std::string& message) const;

    const std::vector<std::string> m_files;
    const std::string m_destination;
    const Overwrite m_overwrite;
    const bool m_bErrorIsTerminal;

    std::map<std::string, int> m_defaults; // interface thread only
    mutable std::mutex m_mutex;            // guards the queue and the outcomes
    std::condition_variable m_queued;
    std::deque<std::function<void()>> m_interfaceQueue;
    std::vector<korva::FileOutcome> m_outcomes;
    std::vector<std::thread> m_workers; // interface thread only
};
