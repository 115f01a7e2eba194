#include "ConsolePlatform.h"

#include <cmath>
#include <iostream>
#include <unistd.h>
#include <utility>

ConsolePlatform::ConsolePlatform(std::vector<std::string> files, std::string destination,
                                 Overwrite overwrite)
    : m_files(std::move(files)), m_destination(std::move(destination)), m_overwrite(overwrite),
      m_bErrorIsTerminal(isatty(STDERR_FILENO) == 1)
{
}

ConsolePlatform::~ConsolePlatform()
{
    joinWorkers();
}

int ConsolePlatform::pumpInterfaceQueue(std::chrono::milliseconds wait)
{
    std::deque<std::function<void()>> work;
    {
        std::unique_lock lock(m_mutex);
        m_queued.wait_for(lock, wait, [this] { return !m_interfaceQueue.empty(); });
        work.swap(m_interfaceQueue);
    }
    // Run unlocked: the work may post more, which the next pump runs.
    for (auto& piece : work)
        piece();
    return static_cast<int>(work.size());
}

void ConsolePlatform::joinWorkers()
{
    for (std::thread& worker : m_workers)
        if (worker.joinable())
            worker.join();
}

std::vector<korva::FileOutcome> ConsolePlatform::outcomes() const
{
    std::lock_guard lock(m_mutex);
    return m_outcomes;
}

std::optional<std::vector<std::string>>
ConsolePlatform::runOpenPanel(const korva::OpenPanelOptions& options)
{
    if (options.bCanChooseDirectories)
        return std::vector<std::string>{m_destination};
    return m_files;
}

korva::AlertButton ConsolePlatform::runAlertPanel(const std::string&, const std::string& message,
                                                  const std::string&, const std::string&)
{
    bool bYes = m_overwrite == Overwrite::Yes;
    if (m_overwrite == Overwrite::Ask)
        bYes = askOnTerminal(message);
    return bYes ? korva::AlertButton::Default : korva::AlertButton::Alternate;
}

bool ConsolePlatform::askOnTerminal(const std::string& message) const
{
    // Without a terminal nobody can answer: keep the existing file.
    if (isatty(STDIN_FILENO) != 1)
    {
        std::cerr << message << " [y/N] n (standard input is not a terminal)\n";
        return false;
    }
    std::cerr << message << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
}

void ConsolePlatform::beep()
{
    if (m_bErrorIsTerminal)
        std::cerr << '\a' << std::flush;
}

void ConsolePlatform::log(const std::string& line)
{
    // Standard error writes each insertion at once: one insertion, one write.
    std::cerr << line + '\n';
}

bool ConsolePlatform::hasDefault(const std::string& key) const
{
    return m_defaults.count(key) != 0;
}

int ConsolePlatform::integerForKey(const std::string& key) const
{
    const auto found = m_defaults.find(key);
    return found == m_defaults.end() ? 0 : found->second;
}

void ConsolePlatform::setIntegerForKey(const std::string& key, int nValue)
{
    m_defaults[key] = nValue;
}

void ConsolePlatform::detachThread(std::function<void()> work)
{
    m_workers.emplace_back(std::move(work));
}

void ConsolePlatform::runOnInterfaceThread(std::function<void()> work)
{
    {
        std::lock_guard lock(m_mutex);
        m_interfaceQueue.push_back(std::move(work));
    }
    m_queued.notify_one();
}

void ConsolePlatform::reportProgress(double progressValue)
{
    if (m_bErrorIsTerminal)
        std::cerr << "progress: " << std::lround(progressValue) << "%\n";
}

void ConsolePlatform::reportStatus(const std::string& text)
{
    std::cerr << text << '\n';
}

void ConsolePlatform::reportFileOutcome(const korva::FileOutcome& outcome)
{
    {
        std::lock_guard lock(m_mutex);
        m_outcomes.push_back(outcome);
    }
    if (onFileOutcome)
        onFileOutcome(outcome);
}
