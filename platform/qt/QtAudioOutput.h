#pragma once

#include "PlatformServices.h"

#include <QObject>

#include <memory>

class QAudioSink;
class TakeStream;

// The sound output on Qt Multimedia: the system's default output device,
// through a QAudioSink that pulls the take's samples from a TakeStream. The
// stream's own thread reads the file in blocks and brings them to the
// device's channels and sample format ahead of the sink, so the interface
// thread only copies samples that are ready and never waits for the disk.
class QtAudioOutput : public QObject, public korva::AudioOutput
{
    Q_OBJECT

public:
    QtAudioOutput();
    ~QtAudioOutput() override;

    std::string whyNoOutput() const override;
    void play(const korva::PlayRequest& request,
              std::function<void(const std::string& problem)> ended) override;
    void stop() override;

private:
    // The take has played to its end, or cannot be played on (problem).
    void finish(const std::string& problem);

    std::unique_ptr<TakeStream> m_stream;
    std::unique_ptr<QAudioSink> m_sink;
    std::function<void(const std::string&)> m_ended;
};
