#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "FormatEvidence.h"
#include "TempDir.h"
#include "WavBuilder.h"

using namespace fixture;
using Encoding = AudioProbe::Encoding;
using Quantity = FormatEvidence::Quantity;
using enum FormatEvidence::Quantity;
using namespace std::literals;

namespace
{
// "agreed 48000: history 48000 'F=48000', ixml 48000 '<...>'"; a value ruled out
// reads "!24", and the probe's price "N bits per byte".
std::string Render(const FormatEvidence::Field& field)
{
    static const char* const kSources[] = {"damaged", "history", "time", "ixml", "audio", "length"};
    static const char* const kVerdicts[] = {"absent", "agreed ", "conflict"};
    std::string text = kVerdicts[static_cast<int>(field.verdict)];
    if (field.verdict == FormatEvidence::Verdict::Agreed)
        text += std::to_string(field.nValue);
    for (const FormatEvidence::Finding& finding : field.findings)
        text += std::string(&finding == &field.findings.front() ? ": " : ", ") +
                kSources[static_cast<int>(finding.source)] + (finding.bRulesOut ? " !" : " ") +
                std::to_string(finding.nValue) + " '" + finding.text + "'";
    // No std::regex: GCC warns of its inlined code in the sanitizer build.
    for (auto at = text.find(" bits per byte"); at != std::string::npos;
         at = text.find(" bits per byte", at + 2))
    {
        const auto from = text.find_last_not_of("0123456789.", at - 1) + 1;
        text.replace(from, at - from, "N"), at = from;
    }
    return text;
}

void ExpectFields(const FormatEvidence& evidence, const std::map<Quantity, std::string>& expected)
{
    for (Quantity quantity : FormatEvidence::kQuantities)
    {
        const auto wanted = expected.find(quantity);
        EXPECT_EQ(Render(evidence.Get(quantity)),
                  wanted == expected.end() ? "absent" : wanted->second)
            << "quantity " << static_cast<int>(quantity);
    }
}

// Each source alone, sources that agree or not, and what each reader ignores.
TEST(FormatEvidence, EverySourceIsReportedWithItsTextAndTheVerdictFollowsAgreement)
{
    const struct Row
    {
        const char* name;
        Bytes bext = bextBody(0);
        std::string_view ixml = {};
        uint64_t nDataLength = 0;
        bool bTrusted = false;
        std::map<Quantity, std::string> expected = {};
        std::optional<RiffLayout::DamagedFormat> damaged = {};
    } rows[] = {
        {.name = "a damaged format chunk names every part, whatever the others say",
         .bext = bextEvidence("", 0, "A=PCM,F=48000,W=16,M=stereo"),
         .nDataLength = 600002,
         .bTrusted = true,
         .expected = {{SampleRate, "agreed 96000: damaged 96000 'sample rate 96000', history "
                                   "48000 'F=48000'"},
                      {BitsPerSample, "agreed 24: damaged 24 'block align 6 of 2 channels, no bits "
                                      "field', history 16 'W=16', length !24 'data length 600002', "
                                      "length !16 'data length 600002'"},
                      {IsFloat, "agreed 0: damaged 0 'format tag 1'"},
                      {Channels, "agreed 2: damaged 2 'channels 2', history 2 'M=stereo'"}},
         .damaged =
             RiffLayout::DamagedFormat{
                 .nFormatTag = 1,
                 .format = {.nChannels = 2, .nSampleRate = 96000, .nBitsPerSample = 24},
                 .bBitsMissing = true}},
        {.name = "the last CodingHistory line, in any order, with spaces",
         .bext = bextEvidence("", 0,
                              "A=ANALOGUE,M=stereo,T=Studer A807\r\nA=PCM,F=44100,W=16,M=stereo\r\n"
                              " M = 2 , W = 24 ,A = PCM, F = 96000, T=Nagra VI\r\n\0\0"sv),
         .expected = {{SampleRate, "agreed 96000: history 96000 'F = 96000'"},
                      {BitsPerSample, "agreed 24: history 24 'W = 24'"},
                      {Channels, "agreed 2: history 2 'M = 2'"}}},
        {.name = "an analogue last line is history",
         .bext = bextEvidence("", 0, "A=PCM,F=48000,W=24,M=mono\r\nA=ANALOGUE,M=mono,T=tape\r\n")},
        {.name = "malformed values and multitrack name nothing",
         .bext = bextEvidence("", 0, "A=PCM,F=48k,W=,M=multitrack,garbage,T=x=y")},
        {.name = "commented out, unclosed and cut-off iXML elements",
         .ixml = "<BWFXML><!-- <SPEED><FILE_SAMPLE_RATE>96000</FILE_SAMPLE_RATE></SPEED> -->"
                 "<SPEED><FILE_SAMPLE_RATE>48000<AUDIO_BIT_DEPTH > 24 </AUDIO_BIT_DEPTH ></SPEED>"
                 "<TRACK_LIST><TRACK_COUNT>2</TRACK_CO",
         .expected = {{BitsPerSample,
                       "agreed 24: ixml 24 '<AUDIO_BIT_DEPTH > 24 </AUDIO_BIT_DEPTH >'"}}},
        {.name = "time reference over origination time, high word used",
         .bext = bextEvidence("23.59.59", 86399ull * 192000, ""),
         .expected = {{SampleRate, "agreed 192000: time 192000 'TimeReference=16588608000 "
                                   "OriginationTime=23.59.59'"}}},
        {.name = "time reference not set", .bext = bextEvidence("12:00:00", 0, "")},
        {.name = "origination at midnight", .bext = bextEvidence("00-00-00", 48000, "")},
        {.name = "too early for whole seconds", .bext = bextEvidence("00:00:10", 10 * 48000, "")},
        {.name = "0.5 % off every rate", .bext = bextEvidence("12:00:00", 2083968000, "")},
        {.name = "unreadable time", .bext = bextEvidence("12h00m00", 2073600000, "")},
        {.name = "bext cut inside the time reference",
         .bext = bextEvidence("12:00:00", 2073600000, "", 345)},
        {.name = "a trusted length rules out a named depth, not the channels",
         .bext = bextEvidence("", 0, "A=PCM,W=24,M=stereo"),
         .nDataLength = 600002,
         .bTrusted = true,
         .expected = {{BitsPerSample,
                       "conflict: history 24 'W=24', length !24 'data length 600002'"},
                      {IsFloat, "agreed 0: length 0 'data length 600002'"},
                      {Channels, "agreed 2: history 2 'M=stereo'"}}},
        {.name = "a trusted length rules out a channel count, whatever the depth",
         .bext = bextEvidence("", 0, "W=24,M=stereo"),
         .nDataLength = 600003,
         .bTrusted = true,
         .expected = {{BitsPerSample, "agreed 24: history 24 'W=24'"},
                      {Channels,
                       "conflict: history 2 'M=stereo', length !2 'data length 600003'"}}},
        {.name = "a trusted length rules out a depth and a count that each fit alone",
         .bext = bextEvidence("", 0, "W=16,M=stereo"),
         .nDataLength = 600002,
         .bTrusted = true,
         .expected = {{BitsPerSample,
                       "conflict: history 16 'W=16', length !16 'data length 600002'"},
                      {Channels,
                       "conflict: history 2 'M=stereo', length !2 'data length 600002'"}}},
        {.name = "an unfinished length rules nothing out",
         .bext = bextEvidence("", 0, "W=24,M=stereo"),
         .nDataLength = 600002,
         .expected = {{BitsPerSample, "agreed 24: history 24 'W=24'"},
                      {Channels, "agreed 2: history 2 'M=stereo'"}}},
        {.name = "24-bit frames of 3 x 1009 bytes leave one channel count",
         .bext = bextEvidence("", 0, "A=PCM,W=24"),
         .nDataLength = 3 * 1009,
         .bTrusted = true,
         .expected = {{BitsPerSample, "agreed 24: history 24 'W=24'"},
                      {Channels, "agreed 1: length 1 'data length 3027'"}}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        ExpectFields(FormatEvidence({.bext = row.bext,
                                     .ixml = row.ixml,
                                     .nDataLength = row.nDataLength,
                                     .bDataLengthTrusted = row.bTrusted,
                                     .damagedFormat = row.damaged}),
                     row.expected);
    }
}

// A labelled set of recordings, made once per run: four kinds of real
// material, and two in which nothing can be told. Each is rendered as eight
// different channels and written by sox in every encoding; the first 1, 2, 4
// or 8 channels are the recording the probe is shown.
class LabelledSet : public ::testing::Test
{
protected:
    static inline const std::string kAlsa = "/usr/share/sounds/alsa/";
    // Kinds in which every field must stay unsure.
    static inline const std::set<std::string> kUntellable = {"white noise", "digital zero"};
    static inline std::unique_ptr<TempDir> s_dir;
    // The data bytes of every kind and encoding, all eight channels.
    static inline std::map<std::pair<std::string, Encoding>, Bytes> s_audio;

    // sh in the set's folder: each kind to <kind>.wav, then to <kind><encoding>.raw in
    // every encoding side by side. sox says failures only; -R: the same noise and dither
    // on every run.
    static constexpr char kMake[] = R"(set -e
sox() { command sox -V1 -R "$@"; }
a=/usr/share/sounds/alsa
sox -M $a/Front_Center.wav $a/Front_Left.wav $a/Front_Right.wav $a/Rear_Center.wav \
  $a/Rear_Left.wav $a/Rear_Right.wav $a/Side_Left.wav $a/Side_Right.wav speech.wav trim 0 1.2
# Three plucked lines, then each channel its own mix of them, at its own distance, in a room.
sox -n -r 48000 -c 3 lines.wav \
  synth 0.15 pluck E4 pluck E2 pluck B3 : synth 0.15 pluck G4 pluck E2 pluck B3 \
  : synth 0.3 pluck B4 pluck C2 pluck G3 : synth 0.15 pluck A4 pluck G2 pluck D4 \
  : synth 0.15 pluck G4 pluck G2 pluck D4 : synth 0.3 pluck E4 pluck D2 pluck A3
sox lines.wav music.wav remix 1v0.6,2v0.3,3v0.2 1v0.2,2v0.6,3v0.3 1v0.3,2v0.2,3v0.6 1v0.5,2v0.5 \
  2v0.7,3v0.4 1v0.8,3v0.1 1v0.4,2v0.4,3v0.4 3v0.9,1v0.1 \
  delay 0 0.0031 0.0073 0.011 0.0017 0.0052 0.0093 0.0131 reverb 40 gain -n -3
eight() { sox -n -r 48000 -c 8 "$@"; }
eight 'noise floor.wav' synth 1.2 pinknoise brownnoise pinknoise brownnoise pinknoise \
  brownnoise pinknoise brownnoise remix 1v1 2v0.5 3v0.7 4v1 5v0.4 6v0.8 7v0.6 8v0.9 vol -60dB
# Each channel its own noise: a generator named once repeats on every channel.
n='whitenoise whitenoise whitenoise whitenoise whitenoise whitenoise whitenoise whitenoise'
# 50 and 60 Hz and harmonics at -50 dBFS in various phases, over white noise at -75 dBFS.
eight hum.wav synth 1.2 $n vol -25dB synth 1.2 sine mix 50 sine mix 60 sine mix 50 0 25 \
  sine mix 60 0 50 sine mix 150 sine mix 50 0 75 sine mix 180 sine mix 100 0 10 vol -50dB
eight 'white noise.wav' synth 1.2 $n vol -1dB
eight 'digital zero.wav' trim 0 1.2
for k in speech music 'noise floor' hum 'white noise' 'digital zero'; do
  d=; [ "$k" != 'digital zero' ] || d=-D # no dither: it is to stay zero
  p=
  for e in '0 unsigned-integer 8' '1 signed-integer 16' '2 signed-integer 24' \
           '3 signed-integer 32' '4 floating-point 32' '5 floating-point 64'; do
    set -- $e
    sox "$k.wav" -t raw -L $d -e $2 -b $3 "$k$1.raw" & p="$p $!"
  done
  for c in $p; do wait $c; done
done)";

    static void SetUpTestSuite()
    {
        if (!Available())
            return;
        s_dir = std::make_unique<TempDir>();
        writeFile(*s_dir / "make.sh", ascii(kMake));
        if (std::system(("cd '" + s_dir->path().string() + "' && sh make.sh").c_str()) != 0)
            return;
        for (const char* kind :
             {"speech", "music", "noise floor", "hum", "white noise", "digital zero"})
            for (int encoding = 0; encoding < 6; ++encoding)
                s_audio[{kind, Encoding(encoding)}] =
                    readFile(*s_dir / (kind + std::to_string(encoding) + ".raw"));
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    static bool Available()
    {
        return std::system("command -v sox >/dev/null 2>&1") == 0 &&
               std::filesystem::exists(kAlsa + "Front_Center.wav");
    }
    void SetUp() override
    {
        if (!Available())
            GTEST_SKIP() << "needs sox and the alsa-utils sounds";
        ASSERT_EQ(s_audio.size(), 36u) << "sox could not make the set";
    }

    // The first nChannels channels of the eight.
    static Bytes Channels(const Bytes& eight, Encoding encoding, std::size_t nChannels)
    {
        const std::size_t nSample = AudioProbe::BitsPerSample(encoding) / 8;
        Bytes out;
        for (std::size_t frame = 0; frame + 8 * nSample <= eight.size(); frame += 8 * nSample)
            out.insert(out.end(), eight.begin() + frame,
                       eight.begin() + frame + nChannels * nSample);
        return out;
    }
};

// Every kind in every encoding at 1, 2, 4 and 8 channels. The thresholds lie a
// little under what was measured when the set was made: 68 encodings and 40
// channel counts right of 96, none wrong.
TEST_F(LabelledSet, ProbeIsNeverConfidentlyWrongAndOftenRight)
{
    using Tally = std::array<int, 3>; // right, unsure, wrong
    const auto count = [](Tally& tally, bool bSettled, bool bRight) {
        ++tally[!bSettled ? 1 : bRight ? 0 : 2];
    };
    std::map<std::string, std::pair<Tally, Tally>> tallies; // encoding, channels
    for (const auto& [key, eight] : s_audio)
        for (std::size_t nChannels : {1, 2, 4, 8})
        {
            const auto& [kind, encoding] = key;
            const AudioProbe::Result result =
                AudioProbe::Probe(Channels(eight, encoding, nChannels));
            auto& [encodings, channels] = tallies[kind];
            count(encodings, result.encoding.has_value(), result.encoding == encoding);
            count(channels, result.channels.has_value(), result.channels == nChannels);
            EXPECT_TRUE(result.encoding.value_or(encoding) == encoding &&
                        result.channels.value_or(nChannels) == nChannels)
                << kind << ", encoding " << static_cast<int>(encoding) << ", " << nChannels
                << " channels";
        }
    std::printf("%-13s %-21s %s\n", "kind", "encoding r/u/w", "channels r/u/w");
    int nRightEncodings = 0, nRightChannels = 0;
    for (const auto& [kind, tally] : tallies)
    {
        const auto& [encodings, channels] = tally;
        std::printf("%-13s %2d / %2d / %d %9s %2d / %2d / %d\n", kind.c_str(), encodings[0],
                    encodings[1], encodings[2], "", channels[0], channels[1], channels[2]);
        nRightEncodings += encodings[0];
        nRightChannels += channels[0];
        EXPECT_TRUE(!kUntellable.contains(kind) || encodings[0] + channels[0] == 0)
            << kind << " settles nothing";
    }
    std::printf("right of the 96 real recordings: encoding %d, channels %d\n", nRightEncodings,
                nRightChannels);
    EXPECT_GE(nRightEncodings, 64);
    EXPECT_GE(nRightChannels, 36);

    // The first channel twice: dual-mono, never one channel at twice the rate.
    Tally encodings{}, channels{};
    for (const auto& [key, eight] : s_audio)
    {
        const auto& [kind, encoding] = key;
        const std::size_t nSample = AudioProbe::BitsPerSample(encoding) / 8;
        const Bytes mono = Channels(eight, encoding, 1);
        Bytes dual;
        for (std::size_t at = 0; at < mono.size(); at += nSample)
            for (int copy = 0; copy < 2; ++copy)
                dual.insert(dual.end(), mono.begin() + at, mono.begin() + at + nSample);
        const AudioProbe::Result result = AudioProbe::Probe(dual);
        count(encodings, result.encoding.has_value(), result.encoding == encoding);
        count(channels, result.channels.has_value(), result.channels == 2);
        EXPECT_TRUE(result.encoding.value_or(encoding) == encoding &&
                    result.channels.value_or(2) == 2)
            << "dual-mono " << kind << ", encoding " << static_cast<int>(encoding);
    }
    std::printf("%-13s %2d / %2d / %d %9s %2d / %2d / %d\n", "dual-mono", encodings[0],
                encodings[1], encodings[2], "", channels[0], channels[1], channels[2]);
}

// What the probe settles stands beside the metadata as a finding of its own,
// tells float from integer, and narrows what the data length is measured
// against; a frame the metadata and the audio agree on is not measured.
TEST_F(LabelledSet, AudioFindingsStandBesideTheMetadata)
{
    const std::string rate = "agreed 48000: history 48000 'F=48000'";
    const auto reading = [](const char* encoding)
    { return "'cheapest reading: "s + encoding + ", 2 channels, N bits per byte'"; };
    const std::string int16 = reading("16-bit integer"), float32 = reading("32-bit float"),
                      int24 = reading("24-bit integer");
    const struct Row
    {
        const char* name;
        Encoding encoding;
        std::string_view history;
        std::size_t nAudioBytes = SIZE_MAX;
        uint64_t nExtraLength = 0;
        std::map<Quantity, std::string> expected;
    } rows[] = {
        {.name = "settled, though no 16-bit stereo frame divides the length",
         .encoding = Encoding::Int16,
         .history = "A=PCM,F=48000,W=16,M=mono",
         .nExtraLength = 2,
         .expected = {{SampleRate, rate},
                      {BitsPerSample, "agreed 16: history 16 'W=16', audio 16 " + int16},
                      {IsFloat, "agreed 0: audio 0 " + int16},
                      {Quantity::Channels, "conflict: history 1 'M=mono', audio 2 " + int16 +
                                               ", length !2 'data length LENGTH'"}}},
        {.name = "too little audio to tell",
         .encoding = Encoding::Int16,
         .history = "A=PCM,F=48000,W=16,M=mono",
         .nAudioBytes = 1000,
         .expected = {{SampleRate, rate},
                      {BitsPerSample, "agreed 16: history 16 'W=16'"},
                      {Quantity::Channels, "agreed 1: history 1 'M=mono'"}}},
        {.name = "A=PCM names no encoding: float audio is float",
         .encoding = Encoding::Float32,
         .history = "A=PCM,F=48000,W=32,M=stereo",
         .expected = {{SampleRate, rate},
                      {BitsPerSample, "agreed 32: history 32 'W=32', audio 32 " + float32},
                      {IsFloat, "agreed 1: audio 1 " + float32},
                      {Quantity::Channels, "agreed 2: history 2 'M=stereo', audio 2 " + float32}}},
        {.name = "a partial last frame behind frames the metadata and the audio agree on",
         .encoding = Encoding::Int24,
         .history = "A=PCM,F=48000,W=24,M=stereo",
         .nExtraLength = 4,
         .expected = {{SampleRate, rate},
                      {BitsPerSample, "agreed 24: history 24 'W=24', audio 24 " + int24},
                      {IsFloat, "agreed 0: audio 0 " + int24},
                      {Quantity::Channels, "agreed 2: history 2 'M=stereo', audio 2 " + int24}}},
        {.name = "the same frame named by the metadata alone",
         .encoding = Encoding::Int24,
         .history = "A=PCM,F=48000,W=24,M=stereo",
         .nAudioBytes = 1000,
         .nExtraLength = 4,
         .expected = {{SampleRate, rate},
                      {BitsPerSample, "conflict: history 24 'W=24', length !24 'data length "
                                      "LENGTH'"},
                      {IsFloat, "agreed 0: length 0 'data length LENGTH'"},
                      {Quantity::Channels, "agreed 2: history 2 'M=stereo'"}}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        const Bytes stereo = Channels(s_audio.at({"speech", row.encoding}), row.encoding, 2);
        const uint64_t nLength = stereo.size() + row.nExtraLength;
        std::map<Quantity, std::string> expected = row.expected;
        for (auto& [quantity, text] : expected)
            if (const auto at = text.find("LENGTH"); at != std::string::npos)
                text.replace(at, 6, std::to_string(nLength));
        ExpectFields(FormatEvidence({.bext = bextEvidence("", 0, row.history),
                                     .nDataLength = nLength,
                                     .bDataLengthTrusted = true,
                                     .audio = std::span(stereo).first(
                                         std::min(row.nAudioBytes, stereo.size()))}),
                     expected);
    }
}
} // namespace
