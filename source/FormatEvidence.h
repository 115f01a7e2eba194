#pragma once

#include "AudioProbe.h"
#include "RiffLayout.h"

class ChunkReader;

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What a recording whose fmt chunk was lost still says about its own format:
// sample rate, bits per sample, IEEE float or integer, and channel count, each
// with every finding, where it came from and the text it was read from, and a
// verdict. Sources never get averaged and none is preferred: when they
// disagree the verdict is a conflict and every finding stays listed. The one
// exception is a damaged format chunk: what it states is the file's format,
// whatever the others say.
//
// The caller reads the chunks; nothing here touches a file, and no read goes
// past the bytes given.
class FormatEvidence
{
public:
    // The caller reads at most this many bytes from the start of the data chunk.
    static constexpr std::size_t kAudioBytesWanted = AudioProbe::kMaxBytes;

    // Another take of the same card folder whose format chunk is intact: the
    // same recorder, the same day.
    struct CardTake
    {
        std::string name; // its file name
        WavFormat format;
    };
    // Gives the card folder's other takes when first asked: reading them costs
    // a read of every take in the folder, which only a file whose own sources
    // leave a part unnamed needs. Empty: the file has none.
    using CardTakeSource = std::function<std::span<const CardTake>()>;

    struct Input
    {
        // The bext chunk's body. Shorter than the standard 602 bytes, the
        // fields it does not reach are absent.
        std::span<const uint8_t> bext = {};
        // The iXML chunk's payload; empty when the file has none.
        std::string_view ixml = {};
        uint64_t nDataLength = 0;
        // False when the data size was unfinished and measured to the end of
        // the file, where a part frame may remain: the length then says nothing.
        bool bDataLengthTrusted = false;
        // The first bytes of the data chunk (kAudioBytesWanted at most are read).
        std::span<const uint8_t> audio = {};
        // The damaged format chunk's fields; none when the file has none.
        std::optional<RiffLayout::DamagedFormat> damagedFormat = {};
        // The card folder's other takes, asked for only where the file's own
        // sources leave a part unnamed; they name it only when at least two
        // of them agree on it with none saying otherwise.
        CardTakeSource cardTakes = {};
    };

    enum class Quantity
    {
        SampleRate,    // in Hz
        BitsPerSample, // as a source states it: a CodingHistory word length of 20 stays 20
        IsFloat,       // 1: IEEE float, 0: integer; not named by A=PCM
        Channels,
    };
    static constexpr std::array kQuantities = {Quantity::SampleRate, Quantity::BitsPerSample,
                                               Quantity::IsFloat, Quantity::Channels};

    enum class Source
    {
        DamagedFormat, // a damaged format chunk's fields: it names every part
        CodingHistory, // the last line of the bext CodingHistory (F=, W=, M=)
        TimeReference, // the bext time reference over the seconds of its origination time,
                       // from 00:16:40 on (earlier, whole seconds are too coarse)
        IXml,          // SPEED/FILE_SAMPLE_RATE, SPEED/AUDIO_BIT_DEPTH, TRACK_LIST/TRACK_COUNT
        Audio,         // AudioProbe on the first bytes of the data chunk
        CardTakes,     // the format chunks of the card folder's other takes, by name
        DataLength,    // which frame sizes divide a trusted data length, given the rest;
                       // not read when the metadata and the audio tell the frame alike
    };

    struct Finding
    {
        Source source;
        uint32_t nValue;
        // As it stands in the file ("F=48000", "<TRACK_COUNT>2</TRACK_COUNT>"),
        // or the numbers it was worked out from.
        std::string text;
        // True: the value is impossible. Only the data length rules values
        // out, and only values that another source names.
        bool bRulesOut = false;
    };

    enum class Verdict
    {
        Absent,   // no source names a value
        Agreed,   // every source that names one names the same, and nothing rules it out;
                  // or a damaged format chunk names it
        Conflict, // sources name different values, or the one value named is ruled out
    };

    struct Field
    {
        std::vector<Finding> findings; // in the order of Source
        Verdict verdict = Verdict::Absent;
        uint32_t nValue = 0; // the agreed value; 0 unless the verdict is Agreed
    };

    explicit FormatEvidence(const Input& input);
    // What the file behind reader says: its bext and iXML chunks, the length
    // of its data chunk and, with bAudio, the first bytes of its audio and
    // what the card's other takes say (which the audio outranks).
    static FormatEvidence Read(ChunkReader& reader, const RiffLayout& layout, bool bAudio,
                               const CardTakeSource& cardTakes);

    // A source in words: "the damaged format chunk", "CodingHistory", "time
    // reference", "iXML", "the audio", "the card's other takes", "the data
    // length".
    static const char* SourceName(Source source);

    const Field& Get(Quantity quantity) const
    {
        return m_fields[static_cast<std::size_t>(quantity)];
    }
    // Whether the metadata and the audio both name the quantity, and every
    // finding names the same value: then a data length that is no whole
    // number of such frames ends in a partial frame, and rules nothing out.
    bool Confirmed(Quantity quantity) const;

private:
    Field& At(Quantity quantity) { return m_fields[static_cast<std::size_t>(quantity)]; }
    void Add(Quantity quantity, Source source, uint32_t nValue, std::string text,
             bool bRulesOut = false);
    void ReadDamagedFormat(const RiffLayout::DamagedFormat& damaged);
    void ReadBext(std::span<const uint8_t> bext);
    void ReadCodingHistory(std::string_view history);
    void ReadIXml(std::string_view ixml);
    void ReadAudio(std::span<const uint8_t> audio);
    void ReadCardTakes(const CardTakeSource& source);
    void ReadDataLength(uint64_t nDataLength);

    std::array<Field, kQuantities.size()> m_fields;
};
