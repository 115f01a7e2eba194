#include "QtAudioOutput.h"

#include "TakeStream.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QMediaDevices>
#include <QTimer>

#include <utility>

QtAudioOutput::QtAudioOutput() = default;

QtAudioOutput::~QtAudioOutput()
{
    stop();
}

std::string QtAudioOutput::whyNoOutput() const
{
    if (QMediaDevices::defaultAudioOutput().isNull())
        return "This computer has no sound output device (none was found), so takes cannot be "
               "played. Connect headphones or speakers, then choose the files again.";
    return "";
}

void QtAudioOutput::play(const korva::PlayRequest& request,
                         std::function<void(const std::string& problem)> ended)
{
    stop();
    m_ended = std::move(ended);
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull() || !SampleDecoder::Reads(request.format))
    {
        // Told later, on the loop's next turn, as an end always is.
        QTimer::singleShot(0, this,
                           [this, bDevice = !device.isNull()] {
                               finish(bDevice ? "its format is not one Korva can play"
                                              : "there is no sound output device");
                           });
        return;
    }
    // The device's own format, at the take's rate when it takes that, and
    // at most stereo when it takes that: the mix-down goes no further.
    QAudioFormat format = device.preferredFormat();
    QAudioFormat wanted = format;
    wanted.setSampleRate(static_cast<int>(request.format.nSampleRate));
    wanted.setChannelCount(std::min(format.channelCount(), 2));
    if (device.isFormatSupported(wanted))
        format = wanted;
    m_stream = std::make_unique<TakeStream>(request, format);
    m_stream->open(QIODevice::ReadOnly);
    m_sink = std::make_unique<QAudioSink>(device, format);
    connect(m_sink.get(), &QAudioSink::stateChanged, this,
            [this](QAudio::State state)
            {
                if (state == QAudio::IdleState && m_stream->finished())
                    finish(m_stream->problem());
                else if (state == QAudio::StoppedState && m_sink->error() != QAudio::NoError)
                    finish("the sound output stopped with an error");
            });
    m_sink->start(m_stream.get());
}

void QtAudioOutput::stop()
{
    m_ended = nullptr;
    if (m_sink)
    {
        m_sink->disconnect(this);
        m_sink->stop();
    }
    m_sink.reset();
    m_stream.reset();
}

void QtAudioOutput::finish(const std::string& problem)
{
    const auto ended = std::exchange(m_ended, nullptr);
    // The sink is not destroyed from within its own signal: it goes, with its
    // stream behind it, on the loop's next turn.
    if (m_sink)
    {
        m_sink->disconnect(this);
        // A pair ends its second member first: the sink before its stream.
        auto parts =
            std::make_shared<std::pair<std::unique_ptr<TakeStream>, std::unique_ptr<QAudioSink>>>(
                std::move(m_stream), std::move(m_sink));
        QTimer::singleShot(0, this, [parts] { parts->second->stop(); });
    }
    if (ended)
        ended(problem);
}
