#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "FormatEvidence.h"
#include "SampleDecoder.h"
#include "TakeOverview.h"
#include "TempDir.h"
#include "WavBuilder.h"

using namespace fixture;
using Encoding = AudioProbe::Encoding;
using Quantity = FormatEvidence::Quantity;
using enum FormatEvidence::Quantity;
using namespace std::literals;

namespace
{
const char* EncodingName(Encoding encoding)
{
    static const char* const kNames[] = {"u8", "s16", "s24", "s32", "f32", "f64"};
    return kNames[static_cast<int>(encoding)];
}

// "agreed 48000: history 48000 'F=48000', ixml 48000 '<...>'"; a value ruled out
// reads "!24", and the probe's price "N bits per byte".
std::string Render(const FormatEvidence::Field& field)
{
    static const char* const kSources[] = {"damaged", "history", "time",  "ixml",
                                           "audio",   "takes",   "length"};
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

// A labelled set of recordings, made once per run from real recordings that
// Debian packages ship: speech (alsa-utils' and the freedesktop sound theme's
// voices), electronic music (mu-cade), acoustic instruments, stereo music and
// drum loops (LMMS's samples), and ambience (applause, a crowd, breathing).
// Each kind has eight channels, each from its own recording or its own side of
// a real stereo one (the stereo music's are four stereo pairs); sox writes it
// in every encoding, 32-bit integer as a 24-bit converter fills it. Quiet
// music is the acoustic kind 40 dB down; the noise floor, an idle take. The
// probe is shown the first 1, 2, 4 or 8 channels; dual-mono (the first channel
// twice); and idle tracks among real ones (two of digital zero after two real
// channels, two of noise floor after six). White noise, near silence (white
// noise 90 dB down) and digital zero must settle nothing.
class LabelledSet : public ::testing::Test
{
protected:
    static inline const std::vector<std::string> kKinds = {
        "speech",       "announcer",   "electronic music", "acoustic music",
        "stereo music", "drums",       "ambience",         "quiet music",
        "noise floor",  "white noise", "near silence",     "digital zero"};
    static inline const std::set<std::string> kUntellable = {"white noise", "near silence",
                                                             "digital zero"};
    static inline const std::vector<std::string> kNeeded = {
        "/usr/share/sounds/alsa/Front_Center.wav",
        "/usr/share/sounds/freedesktop/stereo/audio-channel-front-left.oga",
        "/usr/share/games/mu-cade/sounds/musics/mcd1.ogg",
        "/usr/share/lmms/samples/beats/jungle01.ogg"};
    static inline std::unique_ptr<TempDir> s_dir;
    // The data bytes of every kind and encoding, all eight channels.
    static inline std::map<std::pair<std::string, Encoding>, Bytes> s_audio;

    // sh in the set's folder: each kind to <kind>.wav (32-bit float), then to
    // <kind><encoding>.raw in every encoding side by side. sox says failures
    // only; -R: the same dither on every run.
    static constexpr char kMake[] = R"(set -e
sox() { command sox -V1 -R "$@"; }
# take OUT FILE CHANNEL START: 1.2 s of one channel of FILE from START seconds, at 48 kHz
take() { sox "$2" -e floating-point -b 32 "$1" remix $3 trim $4 1.2 rate -v 48000 gain -1; }
kind() { # kind NAME, then FILE CHANNEL START eight times
  k=$1; shift; p=; n=0
  while [ $# -gt 0 ]; do take "$k.$n.wav" "$1" $2 $3 & p="$p $!"; n=$((n+1)); shift 3; done
  for c in $p; do wait $c; done
  sox -M "$k".[0-7].wav "$k.wav"; rm "$k".[0-7].wav
}
a=/usr/share/sounds/alsa f=/usr/share/sounds/freedesktop/stereo/audio-channel
l=/usr/share/lmms/samples m=/usr/share/games/mu-cade/sounds/musics/mcd
kind speech $a/Front_Center.wav 1 0 $a/Front_Left.wav 1 0 $a/Front_Right.wav 1 0 \
  $a/Rear_Center.wav 1 0 $a/Rear_Left.wav 1 0 $a/Rear_Right.wav 1 0 $a/Side_Left.wav 1 0 \
  $a/Side_Right.wav 1 0 &
kind announcer $f-front-center.oga 1 0 $f-front-left.oga 1 0 $f-front-right.oga 1 0 \
  $f-rear-center.oga 1 0 $f-rear-left.oga 1 0 $f-rear-right.oga 1 0 $f-side-left.oga 1 0 \
  $f-side-right.oga 1 0 &
kind 'electronic music' ${m}1.ogg 1 20 ${m}2.ogg 1 20 ${m}3.ogg 1 20 ${m}4.ogg 1 20 \
  ${m}1.ogg 1 45 ${m}2.ogg 1 45 ${m}3.ogg 1 45 ${m}4.ogg 1 45 &
wait
kind 'acoustic music' $l/instruments/flute01.ogg 1 2 $l/instruments/cello01.ogg 1 0.2 \
  $l/instruments/piano02.ogg 1 1 $l/instruments/church_organ01.ogg 1 2 \
  $l/instruments/violin_fingered01.ogg 1 0.3 $l/latin/latin_guitar03.ogg 1 1 \
  $l/instruments/trumpet01.ogg 2 0.5 $l/instruments/steel_guitar01.ogg 2 1 &
kind drums $l/beats/909beat01.ogg 1 0 $l/beats/break01.ogg 1 0 $l/beats/break02.ogg 1 0 \
  $l/beats/break03.ogg 1 0 $l/beats/jungle01.ogg 1 0 $l/beats/house_loop01.ogg 2 0 \
  $l/beats/electro_beat01.ogg 1 0 $l/beats/rave_snare01.ogg 1 0 &
kind ambience $l/misc/applause01.ogg 1 0 $l/misc/applause01.ogg 2 0 \
  $l/misc/raving_crowd01.ogg 1 0 $l/misc/raving_crowd01.ogg 1 4 \
  $l/misc/raving_crowd01.ogg 1 8 $l/misc/breath01.ogg 1 0.5 $l/misc/breath01.ogg 2 2 \
  $l/stringsnpads/nord_ambient01.ogg 1 1 &
kind 'stereo music' $l/latin/latin_guitar03.ogg 1 1 $l/latin/latin_guitar03.ogg 2 1 \
  $l/stringsnpads/strings01.ogg 1 1 $l/stringsnpads/strings01.ogg 2 1 \
  $l/instruments/e_piano_accord02.ogg 1 1 $l/instruments/e_piano_accord02.ogg 2 1 \
  $l/stringsnpads/bell_choir01.ogg 1 2 $l/stringsnpads/bell_choir01.ogg 2 2 &
wait
sox 'acoustic music.wav' 'quiet music.wav' vol -40dB
eight() { sox -n -r 48000 -c 8 "$@"; }
eight 'noise floor.wav' synth 1.2 pinknoise brownnoise pinknoise brownnoise pinknoise \
  brownnoise pinknoise brownnoise remix 1v1 2v0.5 3v0.7 4v1 5v0.4 6v0.8 7v0.6 8v0.9 vol -60dB
# Each channel its own noise: a generator named once repeats on every channel.
n='whitenoise whitenoise whitenoise whitenoise whitenoise whitenoise whitenoise whitenoise'
eight 'white noise.wav' synth 1.2 $n vol -1dB
eight 'near silence.wav' synth 1.2 $n vol -90dB
eight 'digital zero.wav' trim 0 1.2
# Software writes 32-bit integers in full; a recorder, as its 24-bit converter fills them.
software='|electronic music|stereo music|drums|quiet music|noise floor|'
for k in *.wav; do
  k=${k%.wav}
  d=; [ "$k" != 'digital zero' ] || d=-D # no dither: it is to stay zero
  p=
  for e in '0 unsigned-integer 8' '1 signed-integer 16' '2 signed-integer 24' \
           '3 signed-integer 32' '4 floating-point 32' '5 floating-point 64'; do
    set -- $e
    if [ $1 = 3 ] && [ -z "${software##*"|$k|"*}" ]; then
      sox "$k.wav" -t raw -L -e $2 -b 32 "$k$1.raw" &
    elif [ $1 = 3 ]; then
      (sox "$k.wav" -b 24 "$k.24.wav" && sox "$k.24.wav" -t raw -L -e $2 -b 32 "$k$1.raw") &
    else
      sox "$k.wav" -t raw -L $d -e $2 -b $3 "$k$1.raw" &
    fi
    p="$p $!"
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
        for (const std::string& kind : kKinds)
            for (Encoding encoding : AudioProbe::kEncodings)
                s_audio[{kind, encoding}] =
                    readFile(*s_dir / (kind + std::to_string(static_cast<int>(encoding)) + ".raw"));
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    static bool Available()
    {
        return std::system("command -v sox >/dev/null 2>&1") == 0 &&
               std::all_of(kNeeded.begin(), kNeeded.end(),
                           [](const std::string& file) { return std::filesystem::exists(file); });
    }
    void SetUp() override
    {
        if (!Available())
            GTEST_SKIP() << "needs sox, alsa-utils, sound-theme-freedesktop, mu-cade-data and "
                            "lmms-common";
        ASSERT_EQ(s_audio.size(), kKinds.size() * AudioProbe::kEncodings.size())
            << "sox could not make the set";
    }

    // The channels picked from the eight, in order, frame by frame; a channel
    // picked twice is copied, and one of -1 is taken from idle.
    static Bytes Channels(const Bytes& eight, Encoding encoding, const std::vector<int>& picked,
                          const Bytes& idle = {})
    {
        const std::size_t nSample = AudioProbe::BitsPerSample(encoding) / 8;
        Bytes out;
        for (std::size_t frame = 0; frame + 8 * nSample <= eight.size(); frame += 8 * nSample)
            for (std::size_t i = 0; i < picked.size(); ++i)
            {
                // The idle channels are the idle kind's own, one after another.
                const Bytes& from = picked[i] < 0 ? idle : eight;
                const std::size_t k = picked[i] < 0 ? i % 8 : static_cast<std::size_t>(picked[i]);
                out.insert(out.end(), from.begin() + frame + k * nSample,
                           from.begin() + frame + (k + 1) * nSample);
            }
        return out;
    }
    static Bytes Channels(const Bytes& eight, Encoding encoding, std::size_t nChannels)
    {
        std::vector<int> picked(nChannels);
        std::iota(picked.begin(), picked.end(), 0);
        return Channels(eight, encoding, picked);
    }
};

// Every kind in every encoding at 1, 2, 4 and 8 channels, dual-mono, and idle
// tracks among real ones: never a wrong field, and of the takes that are not
// near silent at least 90 % of encodings and 85 % of channel counts. The
// counts lie a little under what was measured when the set was made (336
// encodings and 330 channel counts right of 366), so that losing any one way
// the probe reads the bytes shows.
TEST_F(LabelledSet, ProbeIsNeverConfidentlyWrongAndOftenRight)
{
    using Tally = std::array<int, 6>; // encoding right, unsure, wrong; channels the same
    std::map<std::string, Tally> byKind, byEncoding, byChannels;
    Tally tellable{};
    const auto probe = [&](const std::string& kind, Encoding encoding, const std::string& layout,
                           const Bytes& audio, std::size_t nChannels)
    {
        const AudioProbe::Result result = AudioProbe::Probe(audio);
        const int e = !result.encoding ? 1 : result.encoding == encoding ? 0 : 2;
        const int c = !result.channels ? 4 : result.channels == nChannels ? 3 : 5;
        for (Tally* tally : {&byKind[kind], &byEncoding[EncodingName(encoding)],
                             &byChannels[layout], kUntellable.contains(kind) ? nullptr : &tellable})
            if (tally)
                ++(*tally)[e], ++(*tally)[c];
        EXPECT_TRUE(e != 2 && c != 5) << kind << ", " << EncodingName(encoding) << ", " << layout;
        EXPECT_TRUE(!kUntellable.contains(kind) || (e == 1 && c == 4))
            << kind << " settles nothing: " << EncodingName(encoding) << ", " << layout;
    };
    for (const auto& [key, eight] : s_audio)
    {
        const auto& [kind, encoding] = key;
        for (std::size_t nChannels : {1, 2, 4, 8})
            probe(kind, encoding, std::to_string(nChannels), Channels(eight, encoding, nChannels),
                  nChannels);
        probe(kind, encoding, "dual-mono", Channels(eight, encoding, {0, 0}), 2);
        if (kind == "noise floor" || kUntellable.contains(kind))
            continue;
        probe(kind, encoding, "2 + 2 zero",
              Channels(eight, encoding, {0, 1, -1, -1}, s_audio.at({"digital zero", encoding})), 4);
        probe(kind, encoding, "6 + 2 floor",
              Channels(eight, encoding, {0, 1, 2, 3, 4, 5, -1, -1},
                       s_audio.at({"noise floor", encoding})),
              8);
    }
    const auto print = [](const char* title, const std::map<std::string, Tally>& tallies)
    {
        std::printf("%-16s encoding r/u/w   channels r/u/w\n", title);
        for (const auto& [name, t] : tallies)
            std::printf("%-16s %3d /%3d / %d    %3d /%3d / %d\n", name.c_str(), t[0], t[1], t[2],
                        t[3], t[4], t[5]);
    };
    print("kind", byKind);
    print("encoding", byEncoding);
    print("channels", byChannels);
    const int nTellable = tellable[0] + tellable[1] + tellable[2];
    std::printf("right of the %d takes not near silent: encoding %d, channels %d\n", nTellable,
                tellable[0], tellable[3]);
    EXPECT_GE(tellable[0] * 10, nTellable * 9);
    EXPECT_GE(tellable[3] * 100, nTellable * 85);
    EXPECT_GE(tellable[0], 334);
    EXPECT_GE(tellable[3], 327);
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

// A take's overview and its mix-down as sox sees the same bytes. The levels of
// a take read whole match sox's stats within 0.05 dB per channel, and those of
// a 41 MB one read from spread windows within 0.25 dB (peak) and 0.1 dB (RMS); the
// mix-down matches sox's remix sample for sample; and the envelope read at a
// wrong depth fills its lanes as a wall of noise, at least twice the spread of
// the right one.
TEST_F(LabelledSet, OverviewAndMixDownAgreeWithSox)
{
    // What sox says on standard error.
    const auto sox = [](const std::string& args)
    {
        const std::filesystem::path said = *s_dir / "sox.txt";
        std::system(("sox -D " + args + " 2>'" + said.string() + "'").c_str());
        const Bytes text = readFile(said);
        return std::string(text.begin(), text.end());
    };
    // The last nChannels numbers on stats' line for label: one per channel.
    const auto stat = [](const std::string& stats, const std::string& label, std::size_t nChannels)
    {
        std::istringstream line(stats.substr(stats.find(label) + label.size()));
        const std::vector<double> values{std::istream_iterator<double>(line), {}};
        return std::vector<double>(values.end() - static_cast<std::ptrdiff_t>(nChannels),
                                   values.end());
    };
    // The envelope's spread: the RMS of its columns' heights over every lane,
    // each height the share of its lane (-1 .. 1) the column fills.
    const auto fill = [](const TakeOverview& overview)
    {
        double dSum = 0, dCount = 0;
        for (const TakeOverview::Channel& channel : overview.channels)
            for (const TakeOverview::Column& c : channel.envelope)
            {
                const double dHeight = (std::min(c.fMax, 1.0f) - std::max(c.fMin, -1.0f)) / 2;
                dSum += dHeight * dHeight, ++dCount;
            }
        return std::sqrt(dSum / dCount);
    };
    const struct Row
    {
        const char* kind;
        Encoding encoding, wrong;
        std::size_t nChannels;
        uint16_t nOut;
        // The take over and over, past the read budget; the later half of the
        // repeats from another kind, so that windows must reach the end.
        std::size_t nRepeats = 1;
        const char* later = nullptr;
        double dPeakTolerance = 0.05, dRmsTolerance = 0.05;
    } rows[] = {
        {"speech", Encoding::Unsigned8, Encoding::Int16, 1, 2},
        {"announcer", Encoding::Int16, Encoding::Int24, 2, 1},
        {"electronic music", Encoding::Int24, Encoding::Int16, 6, 2},
        {"acoustic music", Encoding::Int32, Encoding::Int24, 8, 2},
        {"stereo music", Encoding::Float32, Encoding::Int32, 2, 2},
        {"drums", Encoding::Float64, Encoding::Float32, 8, 1},
        {"quiet music", Encoding::Int24, Encoding::Int16, 1, 1},
        {"ambience", Encoding::Int16, Encoding::Unsigned8, 6, 2},
        {"speech", Encoding::Int24, Encoding::Int16, 2, 2, 120, "drums", 0.25, 0.1},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(std::string(row.kind) + ", " + EncodingName(row.encoding) + ", " +
                     std::to_string(row.nChannels) + " channels, " + std::to_string(row.nRepeats));
        Bytes take;
        for (std::size_t n = 0; n < row.nRepeats; ++n)
        {
            const char* kind = n < row.nRepeats / 2 || !row.later ? row.kind : row.later;
            const Bytes once =
                Channels(s_audio.at({kind, row.encoding}), row.encoding, row.nChannels);
            take.insert(take.end(), once.begin(), once.end());
        }
        const std::filesystem::path raw = *s_dir / "take.raw", mixed = *s_dir / "mixed.raw";
        writeFile(raw, take);
        const auto formatOf = [&](Encoding encoding)
        {
            return WavFormat{.nFormatTag = AudioProbe::IsFloat(encoding) ? WavFormat::kFloat
                                                                         : WavFormat::kPcm,
                             .nChannels = static_cast<uint16_t>(row.nChannels),
                             .nSampleRate = 48000,
                             .nBitsPerSample = AudioProbe::BitsPerSample(encoding)};
        };
        const WavFormat format = formatOf(row.encoding);
        const std::string input =
            "-t raw -r 48000 -L -e " +
            std::string(format.IsFloat()                      ? "floating-point"
                        : row.encoding == Encoding::Unsigned8 ? "unsigned-integer"
                                                              : "signed-integer") +
            " -b " + std::to_string(format.nBitsPerSample) + " -c " +
            std::to_string(row.nChannels) + " '" + raw.string() + "'";

        const TakeOverview overview = TakeOverview::Read(raw, 0, take.size(), format, 1000);
        ASSERT_FALSE(overview.bFailed);
        const std::atomic<bool> cancelled = true;
        EXPECT_TRUE(TakeOverview::Read(raw, 0, take.size(), format, 1, &cancelled).bCancelled);
        EXPECT_EQ(overview.bSampled, row.nRepeats > 1);
        EXPECT_LE(overview.nBytesRead, TakeOverview::kReadBudget);
        const std::string stats = sox(input + " -n stats");
        const std::vector<double> peaks = stat(stats, "Pk lev dB", row.nChannels),
                                  rms = stat(stats, "RMS lev dB", row.nChannels);
        ASSERT_EQ(overview.channels.size(), row.nChannels);
        for (std::size_t k = 0; k < row.nChannels; ++k)
        {
            EXPECT_NEAR(overview.channels[k].dPeakDb, peaks[k], row.dPeakTolerance) << k;
            EXPECT_NEAR(overview.channels[k].dRmsDb, rms[k], row.dRmsTolerance) << k;
        }
        EXPECT_GT(fill(TakeOverview::Read(raw, 0, take.size(), formatOf(row.wrong), 1000)),
                  2 * fill(overview));

        // Output channel j is the mean of the input channels k with k % nOut == j.
        std::string remix = " remix -m";
        for (uint16_t j = 0; j < row.nOut; ++j)
        {
            std::string mean;
            const std::size_t nIn = (row.nChannels + row.nOut - 1 - j) / row.nOut;
            for (std::size_t k = j; k < row.nChannels; k += row.nOut)
                mean += (mean.empty() ? "" : ",") + std::to_string(k + 1) + "v" +
                        std::to_string(1.0 / static_cast<double>(nIn));
            remix += " " + (mean.empty() ? "1" : mean);
        }
        sox(input + " -t raw -e floating-point -b 32 -L '" + mixed.string() + "'" + remix);
        const Bytes soxMixed = readFile(mixed);
        std::vector<float> ours(take.size() / format.BlockAlign() * row.nOut),
            theirs(soxMixed.size() / 4);
        ASSERT_EQ(SampleDecoder(format).DecodeMixed(take, row.nOut, ours),
                  theirs.size() / row.nOut);
        std::memcpy(theirs.data(), soxMixed.data(), soxMixed.size()); // little-endian, as the host
        std::size_t nDiffer = 0;
        for (std::size_t i = 0; i < ours.size(); ++i)
            nDiffer += std::fabs(ours[i] - theirs[i]) > 2e-6f;
        EXPECT_EQ(nDiffer, 0u);
    }
}
