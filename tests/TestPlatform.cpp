#include "TestPlatform.h"

#include <gtest/gtest.h>

TestPlatform::~TestPlatform()
{
    joinWorkers();
}

void TestPlatform::answerPanel(std::optional<std::vector<std::string>> paths)
{
    m_panelAnswers.push_back(std::move(paths));
}

void TestPlatform::answerAlert(korva::AlertButton button)
{
    std::lock_guard lock(m_mutex);
    m_alertAnswers.push_back(button);
}

void TestPlatform::joinWorkers()
{
    for (std::thread& worker : m_workers)
        if (worker.joinable())
            worker.join();
}

int TestPlatform::pumpInterfaceQueue()
{
    int nRan = 0;
    for (;;)
    {
        std::function<void()> work;
        {
            std::lock_guard lock(m_mutex);
            if (m_interfaceQueue.empty())
                return nRan;
            work = std::move(m_interfaceQueue.front());
            m_interfaceQueue.pop_front();
        }
        work();
        ++nRan;
    }
}

std::vector<std::string> TestPlatform::logLines() const
{
    std::lock_guard lock(m_mutex);
    return m_log;
}

std::vector<double> TestPlatform::progress() const
{
    std::lock_guard lock(m_mutex);
    return m_progress;
}

std::vector<korva::FileOutcome> TestPlatform::outcomes() const
{
    std::lock_guard lock(m_mutex);
    return m_outcomes;
}

std::vector<TestPlatform::Alert> TestPlatform::alerts() const
{
    std::lock_guard lock(m_mutex);
    return m_alerts;
}

std::optional<std::vector<std::string>>
TestPlatform::runOpenPanel(const korva::OpenPanelOptions& options)
{
    m_panels.push_back(options);
    if (m_panelAnswers.empty())
    {
        ADD_FAILURE() << "an open panel ran with no answer scripted";
        return std::nullopt;
    }
    auto answer = std::move(m_panelAnswers.front());
    m_panelAnswers.pop_front();
    return answer;
}

korva::AlertButton TestPlatform::runAlertPanel(const std::string& title, const std::string& message,
                                               const std::string& defaultButton,
                                               const std::string& alternateButton)
{
    std::lock_guard lock(m_mutex);
    m_alerts.push_back({title, message, defaultButton, alternateButton});
    if (m_alertAnswers.empty())
    {
        ADD_FAILURE() << "an alert ran with no answer scripted: " << message;
        return korva::AlertButton::Alternate;
    }
    const korva::AlertButton answer = m_alertAnswers.front();
    m_alertAnswers.pop_front();
    return answer;
}

void TestPlatform::log(const std::string& line)
{
    std::lock_guard lock(m_mutex);
    m_log.push_back(line);
}

int TestPlatform::integerForKey(const std::string& key) const
{
    const auto found = defaults.find(key);
    return found == defaults.end() ? 0 : found->second;
}

void TestPlatform::detachThread(std::function<void()> work)
{
    // Nothing in the controller joins it; the test does, through joinWorkers.
    m_workers.emplace_back(std::move(work));
}

void TestPlatform::runOnInterfaceThread(std::function<void()> work)
{
    std::lock_guard lock(m_mutex);
    m_interfaceQueue.push_back(std::move(work));
}

void TestPlatform::reportProgress(double progressValue)
{
    {
        std::lock_guard lock(m_mutex);
        m_progress.push_back(progressValue);
    }
    if (onProgress)
        onProgress(progressValue);
}

void TestPlatform::reportFileOutcome(const korva::FileOutcome& outcome)
{
    std::lock_guard lock(m_mutex);
    m_outcomes.push_back(outcome);
}
