#pragma once

#include "PlatformServices.h"
#include "SampleDecoder.h"

#include <QAudioFormat>
#include <QByteArray>
#include <QIODevice>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

// One take's audio as a device's samples, read ahead on a thread of its own:
// the frames of a PlayRequest decoded exactly as its format says, brought to
// one or two channels (SampleDecoder's mix-down; a device of more channels
// gets silence on the others) and to the device's sample format, full scale
// to full scale (n / 2^(bits-1), as the decoder reads samples), overs clipped. readData only copies
// what is ready: it never waits for the disk.
class TakeStream : public QIODevice
{
public:
    TakeStream(const korva::PlayRequest& request, const QAudioFormat& device);
    // Stops the reading and waits for its thread.
    ~TakeStream() override;

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    // Every frame has been read and handed on, or the reading failed.
    bool finished() const;
    // Why the reading failed, in plain words; "" while it has not.
    std::string problem() const;

protected:
    qint64 readData(char* data, qint64 nMax) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    void readAhead(const std::stop_token& stop);
    QByteArray converted(std::span<const float> samples, std::size_t nFrames) const;

    const korva::PlayRequest m_request;
    const QAudioFormat m_device;
    const SampleDecoder m_decoder;
    const uint16_t m_nMixed; // the channels the decoder brings the take to: 1 or 2

    mutable std::mutex m_mutex;
    std::condition_variable_any m_room;
    std::deque<QByteArray> m_ready; // converted blocks, oldest first
    qint64 m_nReady = 0;            // bytes in m_ready
    qsizetype m_nTaken = 0;         // of m_ready's first block
    bool m_bRead = false;           // the reading is over
    std::string m_problem;
    std::jthread m_reader; // last: it ends before the members it uses
};
