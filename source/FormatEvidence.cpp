#include "FormatEvidence.h"

#include "ChunkReader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>

namespace
{
using Encoding = AudioProbe::Encoding;
using Quantity = FormatEvidence::Quantity;
using Source = FormatEvidence::Source;

// Where the fields read here lie in a bext body (EBU Tech 3285).
constexpr std::size_t kOriginationTimeAt = 330;
constexpr std::size_t kOriginationTimeSize = 8; // "hh:mm:ss"
constexpr std::size_t kTimeReferenceAt = 338;   // 64 bits, little-endian
constexpr std::size_t kTimeReferenceSize = 8;
constexpr std::size_t kCodingHistoryAt = 602;

// The rates a time reference can name: its quotient by the seconds since
// midnight must come within kRateTolerance of one.
constexpr std::array<uint32_t, 16> kRates = {8000,   11025,  16000,  22050, 32000, 44100,
                                             47952,  48000,  48048,  88200, 96000, 128000,
                                             176400, 192000, 352800, 384000};
constexpr double kRateTolerance = 0.001;
// The origination time counts whole seconds. Earlier in the day than this,
// that rounding alone moves the quotient by more than the tolerance.
constexpr uint32_t kMinSeconds = 1000;

constexpr std::string_view kSpace = " \t\r\n";

// The other takes named in a finding; more are counted.
constexpr std::size_t kMaxCardTakeNames = 3;

// The most of a chunk read for its evidence: a CodingHistory or an iXML text
// longer than this is not a recorder's.
constexpr std::size_t kMaxBextBytes = std::size_t{64} << 10;
constexpr std::size_t kMaxIXmlBytes = std::size_t{1} << 20;

// The payload of the first live chunk named id, at most nMax bytes of it.
std::vector<uint8_t> Payload(ChunkReader& reader, const RiffLayout& layout, std::string_view id,
                             std::size_t nMax)
{
    const RiffLayout::Entry* entry = layout.Find(id);
    if (entry == nullptr)
        return {};
    std::vector<uint8_t> bytes(static_cast<std::size_t>(std::min<uint64_t>(entry->nPayload, nMax)));
    if (!reader.Read(entry->PayloadOffset(), bytes.data(), bytes.size()))
        bytes.clear();
    return bytes;
}

std::string_view Trim(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return Lower(x) == Lower(y); });
}

// A positive whole number written in decimal digits alone, spaces around it
// allowed; nothing for anything else.
std::optional<uint32_t> ParseCount(std::string_view text)
{
    text = Trim(text);
    uint32_t n = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, n);
    if (text.empty() || error != std::errc{} || stop != end || n == 0)
        return std::nullopt;
    return n;
}

// "hh:mm:ss", any of - _ : space . between the pairs.
std::optional<uint32_t> SecondsSinceMidnight(std::string_view time)
{
    constexpr std::string_view kSeparators = "-_: .";
    const auto pair = [time](std::size_t at) -> int
    {
        const char hi = time[at], lo = time[at + 1];
        return hi >= '0' && hi <= '9' && lo >= '0' && lo <= '9' ? (hi - '0') * 10 + lo - '0' : -1;
    };
    if (time.size() != kOriginationTimeSize ||
        kSeparators.find(time[2]) == std::string_view::npos ||
        kSeparators.find(time[5]) == std::string_view::npos)
        return std::nullopt;
    const int h = pair(0), m = pair(3), s = pair(6);
    if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59)
        return std::nullopt;
    return static_cast<uint32_t>(h * 3600 + m * 60 + s);
}

// R98 modes, and the counts some recorders write instead ("2", "4ch", "6 channels").
// "multitrack" says no count.
std::optional<uint32_t> ChannelsOfMode(std::string_view mode)
{
    mode = Trim(mode);
    if (EqualsIgnoringCase(mode, "mono"))
        return 1;
    for (std::string_view two : {"stereo", "dual-mono", "joint-stereo"})
        if (EqualsIgnoringCase(mode, two))
            return 2;
    const std::size_t nDigits = std::min(mode.find_first_not_of("0123456789"), mode.size());
    const std::string_view unit = Trim(mode.substr(nDigits));
    if (unit.empty() || EqualsIgnoringCase(unit, "ch") || EqualsIgnoringCase(unit, "channel") ||
        EqualsIgnoringCase(unit, "channels"))
        return ParseCount(mode.substr(0, nDigits));
    return std::nullopt;
}

// The whole element <name ...>text</name> for the first such element outside
// comments and CDATA; nothing when there is none or it is not closed.
std::optional<std::string_view> Element(std::string_view xml, std::string_view name)
{
    const auto endsName = [&](std::size_t at)
    {
        return at < xml.size() &&
               std::string_view(" \t\r\n/>").find(xml[at]) != std::string_view::npos;
    };
    for (std::size_t at = xml.find('<'); at != std::string_view::npos; at = xml.find('<', at + 1))
    {
        const std::string_view rest = xml.substr(at);
        if (rest.starts_with("<!--") || rest.starts_with("<![CDATA["))
        {
            at = xml.find(rest[2] == '-' ? "-->" : "]]>", at);
            if (at == std::string_view::npos)
                return std::nullopt;
            continue;
        }
        if (!rest.substr(1).starts_with(name) || !endsName(at + 1 + name.size()))
            continue;
        const std::size_t openEnd = xml.find('>', at);
        if (openEnd == std::string_view::npos || xml[openEnd - 1] == '/')
            return std::nullopt; // cut off, or empty
        const std::string closing = "</" + std::string(name);
        for (std::size_t end = xml.find(closing, openEnd); end != std::string_view::npos;
             end = xml.find(closing, end + 1))
        {
            const std::size_t gt = xml.find_first_not_of(kSpace, end + closing.size());
            if (gt != std::string_view::npos && xml[gt] == '>')
                return xml.substr(at, gt + 1 - at);
        }
        return std::nullopt;
    }
    return std::nullopt;
}

// The text between an element's tags.
std::string_view Content(std::string_view element)
{
    const std::size_t begin = element.find('>') + 1;
    return element.substr(begin, element.rfind("</") - begin);
}

const char* EncodingName(Encoding encoding)
{
    switch (encoding)
    {
    case Encoding::Unsigned8:
        return "8-bit unsigned";
    case Encoding::Int16:
        return "16-bit integer";
    case Encoding::Int24:
        return "24-bit integer";
    case Encoding::Int32:
        return "32-bit integer";
    case Encoding::Float32:
        return "32-bit float";
    case Encoding::Float64:
        return "64-bit float";
    }
    return "";
}

bool Contains(const std::vector<uint32_t>& values, uint32_t n)
{
    return std::find(values.begin(), values.end(), n) != values.end();
}

void Decide(FormatEvidence::Field& field)
{
    const auto damaged = std::find_if(field.findings.begin(), field.findings.end(),
                                      [](const FormatEvidence::Finding& finding)
                                      { return finding.source == Source::DamagedFormat; });
    if (damaged != field.findings.end())
    {
        field.verdict = FormatEvidence::Verdict::Agreed;
        field.nValue = damaged->nValue;
        return;
    }
    std::vector<uint32_t> named, ruledOut;
    for (const FormatEvidence::Finding& finding : field.findings)
        (finding.bRulesOut ? ruledOut : named).push_back(finding.nValue);
    const bool bOneValue =
        std::all_of(named.begin(), named.end(), [&](uint32_t n) { return n == named.front(); });
    field.verdict = named.empty() ? FormatEvidence::Verdict::Absent
                    : bOneValue && !Contains(ruledOut, named.front())
                        ? FormatEvidence::Verdict::Agreed
                        : FormatEvidence::Verdict::Conflict;
    field.nValue = field.verdict == FormatEvidence::Verdict::Agreed ? named.front() : 0;
}
} // namespace

FormatEvidence::FormatEvidence(const Input& input)
{
    if (input.damagedFormat)
        ReadDamagedFormat(*input.damagedFormat);
    ReadBext(input.bext);
    ReadIXml(input.ixml);
    ReadAudio(input.audio);
    ReadCardTakes(input.cardTakes);
    if (input.bDataLengthTrusted &&
        !(Confirmed(Quantity::BitsPerSample) && Confirmed(Quantity::Channels)))
        ReadDataLength(input.nDataLength);
    for (Field& field : m_fields)
        Decide(field);
}

FormatEvidence FormatEvidence::Read(ChunkReader& reader, const RiffLayout& layout, bool bAudio,
                                    const CardTakeSource& cardTakes)
{
    const std::vector<uint8_t> bext = Payload(reader, layout, "bext", kMaxBextBytes);
    const std::vector<uint8_t> ixml = Payload(reader, layout, "iXML", kMaxIXmlBytes);
    const std::vector<uint8_t> audio =
        bAudio ? Payload(reader, layout, "data", kAudioBytesWanted) : std::vector<uint8_t>{};
    const RiffLayout::Entry* data = layout.Find("data");
    Input input;
    input.bext = bext;
    input.ixml = std::string_view(reinterpret_cast<const char*>(ixml.data()), ixml.size());
    input.nDataLength = data != nullptr ? data->nPayload : 0;
    input.bDataLengthTrusted = data != nullptr && !data->bUnfinished;
    input.audio = audio;
    input.damagedFormat = layout.damagedFormat;
    if (bAudio)
        input.cardTakes = cardTakes;
    return FormatEvidence(input);
}

const char* FormatEvidence::SourceName(Source source)
{
    switch (source)
    {
    case Source::DamagedFormat:
        return "the damaged format chunk";
    case Source::CodingHistory:
        return "CodingHistory";
    case Source::TimeReference:
        return "time reference";
    case Source::IXml:
        return "iXML";
    case Source::Audio:
        return "the audio";
    case Source::CardTakes:
        return "the card's other takes";
    case Source::DataLength:
        break;
    }
    return "the data length";
}

bool FormatEvidence::Confirmed(Quantity quantity) const
{
    const std::vector<Finding>& findings = Get(quantity).findings;
    const auto by = [&](auto test) { return std::any_of(findings.begin(), findings.end(), test); };
    return by([](const Finding& f) { return f.source == Source::Audio; }) &&
           by([](const Finding& f)
              { return f.source != Source::Audio && f.source != Source::DataLength; }) &&
           !by([&](const Finding& f)
               { return f.bRulesOut || f.nValue != findings.front().nValue; });
}

void FormatEvidence::Add(Quantity quantity, Source source, uint32_t nValue, std::string text,
                         bool bRulesOut)
{
    At(quantity).findings.push_back({source, nValue, std::move(text), bRulesOut});
}

void FormatEvidence::ReadDamagedFormat(const RiffLayout::DamagedFormat& damaged)
{
    const WavFormat& f = damaged.format;
    const std::string tag = "format tag " + std::to_string(damaged.nFormatTag) +
                            (damaged.nFormatTag == WavFormat::kExtensible
                                 ? ", sub-format " + std::to_string(f.nFormatTag)
                                 : "");
    Add(Quantity::SampleRate, Source::DamagedFormat, f.nSampleRate,
        "sample rate " + std::to_string(f.nSampleRate));
    Add(Quantity::BitsPerSample, Source::DamagedFormat, f.nBitsPerSample,
        damaged.bBitsMissing ? "block align " + std::to_string(f.BlockAlign()) + " of " +
                                   std::to_string(f.nChannels) + " channels, no bits field"
                             : "bits per sample " + std::to_string(f.nBitsPerSample));
    Add(Quantity::IsFloat, Source::DamagedFormat, f.IsFloat(), tag);
    Add(Quantity::Channels, Source::DamagedFormat, f.nChannels,
        "channels " + std::to_string(f.nChannels));
}

// The CodingHistory, and the rate the time reference gives when it is within
// kRateTolerance of one of kRates (the nearest, where two are that close).
void FormatEvidence::ReadBext(std::span<const uint8_t> bext)
{
    const std::string_view body(reinterpret_cast<const char*>(bext.data()), bext.size());
    if (body.size() > kCodingHistoryAt)
    {
        const std::string_view history = body.substr(kCodingHistoryAt);
        ReadCodingHistory(history.substr(0, history.find('\0')));
    }
    if (body.size() < kTimeReferenceAt + kTimeReferenceSize)
        return;
    uint64_t nTimeReference = 0;
    for (std::size_t i = kTimeReferenceSize; i-- > 0;)
        nTimeReference = nTimeReference << 8 | bext[kTimeReferenceAt + i];
    const std::string_view time = body.substr(kOriginationTimeAt, kOriginationTimeSize);
    const std::optional<uint32_t> seconds = SecondsSinceMidnight(time);
    if (nTimeReference == 0 || !seconds || *seconds < kMinSeconds)
        return;
    const double dQuotient = static_cast<double>(nTimeReference) / *seconds;
    const uint32_t nNearest =
        *std::min_element(kRates.begin(), kRates.end(),
                          [dQuotient](uint32_t a, uint32_t b)
                          { return std::fabs(dQuotient - a) < std::fabs(dQuotient - b); });
    if (std::fabs(dQuotient - nNearest) <= kRateTolerance * nNearest)
        Add(Quantity::SampleRate, Source::TimeReference, nNearest,
            "TimeReference=" + std::to_string(nTimeReference) +
                " OriginationTime=" + std::string(time));
}

// Only the last line describes the file; the lines before it are its history,
// and so is an analogue last line. Items are KEY=value, separated by commas.
void FormatEvidence::ReadCodingHistory(std::string_view history)
{
    std::string_view line;
    for (std::size_t at = 0; at < history.size();)
    {
        const std::size_t end = std::min(history.find_first_of("\r\n", at), history.size());
        if (!Trim(history.substr(at, end - at)).empty())
            line = history.substr(at, end - at);
        at = end + 1;
    }
    struct Item
    {
        char cKey;
        std::string_view text, value;
    };
    std::vector<Item> items;
    for (std::size_t at = 0; at <= line.size();)
    {
        const std::size_t end = std::min(line.find(',', at), line.size());
        const std::string_view text = Trim(line.substr(at, end - at));
        const std::size_t equals = text.find('=');
        if (equals != std::string_view::npos && Trim(text.substr(0, equals)).size() == 1)
            items.push_back({Lower(text[0]), text, text.substr(equals + 1)});
        at = end + 1;
    }
    const auto item = [&items](char cKey) -> const Item*
    {
        const auto found = std::find_if(items.begin(), items.end(),
                                        [cKey](const Item& i) { return i.cKey == cKey; });
        return found == items.end() ? nullptr : &*found;
    };
    // A=PCM says linear PCM, which float samples are too: it names no encoding.
    const Item* algorithm = item('a');
    if (algorithm && EqualsIgnoringCase(Trim(algorithm->value), "ANALOGUE"))
        return;
    const std::pair<char, Quantity> numbers[] = {{'f', Quantity::SampleRate},
                                                 {'w', Quantity::BitsPerSample}};
    for (const auto& [cKey, quantity] : numbers)
        if (const Item* found = item(cKey))
            if (const std::optional<uint32_t> n = ParseCount(found->value))
                Add(quantity, Source::CodingHistory, *n, std::string(found->text));
    if (const Item* mode = item('m'))
        if (const std::optional<uint32_t> n = ChannelsOfMode(mode->value))
            Add(Quantity::Channels, Source::CodingHistory, *n, std::string(mode->text));
}

void FormatEvidence::ReadIXml(std::string_view ixml)
{
    const struct
    {
        std::string_view parent, name;
        Quantity quantity;
    } paths[] = {{"SPEED", "FILE_SAMPLE_RATE", Quantity::SampleRate},
                 {"SPEED", "AUDIO_BIT_DEPTH", Quantity::BitsPerSample},
                 {"TRACK_LIST", "TRACK_COUNT", Quantity::Channels}};
    for (const auto& path : paths)
        if (const std::optional<std::string_view> parent = Element(ixml, path.parent))
            if (const std::optional<std::string_view> element =
                    Element(Content(*parent), path.name))
                if (const std::optional<uint32_t> n = ParseCount(Content(*element)))
                    Add(path.quantity, Source::IXml, *n, std::string(*element));
}

void FormatEvidence::ReadAudio(std::span<const uint8_t> audio)
{
    const AudioProbe::Result probe = AudioProbe::Probe(audio);
    if (!probe.encoding && !probe.channels)
        return;
    const AudioProbe::Reading& best = probe.readings.front();
    char text[128];
    std::snprintf(
        text, sizeof text, "cheapest reading: %s, %u channel%s, %.2f bits per byte%s",
        EncodingName(best.encoding), static_cast<unsigned>(best.nChannels),
        best.nChannels == 1 ? "" : "s", best.dBitsPerByte,
        probe.nCopies == 1
            ? ""
            : (", every channel " + std::to_string(probe.nCopies) + " times over").c_str());
    if (probe.encoding)
    {
        Add(Quantity::BitsPerSample, Source::Audio, AudioProbe::BitsPerSample(*probe.encoding),
            text);
        Add(Quantity::IsFloat, Source::Audio, AudioProbe::IsFloat(*probe.encoding), text);
    }
    if (probe.channels)
        Add(Quantity::Channels, Source::Audio, *probe.channels, text);
}

// Each part none of the file's own sources names, from the other takes when
// at least two state it and all of them alike. Whether the samples are float
// is taken only along with the depth it goes with.
void FormatEvidence::ReadCardTakes(const CardTakeSource& source)
{
    const auto unnamed = [this](Quantity quantity) { return At(quantity).findings.empty(); };
    if (!source || std::none_of(kQuantities.begin(), kQuantities.end(), unnamed))
        return;
    const std::span<const CardTake> cardTakes = source();
    if (cardTakes.size() < 2)
        return;
    std::string names;
    for (std::size_t i = 0; i < cardTakes.size() && i < kMaxCardTakeNames; ++i)
        names += (i == 0 ? "" : ", ") + cardTakes[i].name;
    if (cardTakes.size() > kMaxCardTakeNames)
        names += " and " + std::to_string(cardTakes.size() - kMaxCardTakeNames) + " more";
    const auto valueOf = [](Quantity quantity, const WavFormat& format) -> uint32_t
    {
        switch (quantity)
        {
        case Quantity::SampleRate:
            return format.nSampleRate;
        case Quantity::BitsPerSample:
            return format.nBitsPerSample;
        case Quantity::IsFloat:
            return format.IsFloat();
        case Quantity::Channels:
            break;
        }
        return format.nChannels;
    };
    const auto agreed = [&](Quantity quantity)
    {
        return std::all_of(cardTakes.begin(), cardTakes.end(),
                           [&](const CardTake& take) {
                               return valueOf(quantity, take.format) ==
                                      valueOf(quantity, cardTakes.front().format);
                           });
    };
    const uint32_t nTakesBits = valueOf(Quantity::BitsPerSample, cardTakes.front().format);
    const std::vector<Finding>& bits = At(Quantity::BitsPerSample).findings;
    const bool bBitsAlike = agreed(Quantity::BitsPerSample) &&
                            std::all_of(bits.begin(), bits.end(),
                                        [&](const Finding& f) { return f.nValue == nTakesBits; });
    for (Quantity quantity : kQuantities)
        if (unnamed(quantity) && agreed(quantity) && (quantity != Quantity::IsFloat || bBitsAlike))
            Add(quantity, Source::CardTakes, valueOf(quantity, cardTakes.front().format), names);
}

// A format (an encoding at a channel count) whose frame does not divide the
// length is ruled out. A quantity that every source naming it names alike, at
// a value some format left has, narrows the formats the other quantities are
// judged by. A value named is then ruled out when no format left has it; an
// unnamed quantity is named when the formats left have one value of it.
void FormatEvidence::ReadDataLength(uint64_t nDataLength)
{
    if (nDataLength == 0)
        return; // every frame divides nothing
    const auto named = [this](Quantity quantity)
    {
        std::vector<uint32_t> values;
        for (const Finding& finding : At(quantity).findings)
            if (!Contains(values, finding.nValue))
                values.push_back(finding.nValue);
        return values;
    };
    struct Format
    {
        Encoding encoding;
        uint32_t nChannels;
        uint32_t Value(Quantity quantity) const
        {
            return quantity == Quantity::Channels        ? nChannels
                   : quantity == Quantity::BitsPerSample ? AudioProbe::BitsPerSample(encoding)
                                                         : AudioProbe::IsFloat(encoding);
        }
    };
    std::vector<uint32_t> counts(AudioProbe::kChannelCounts.begin(),
                                 AudioProbe::kChannelCounts.end());
    for (uint32_t n : named(Quantity::Channels))
        if (!Contains(counts, n))
            counts.push_back(n);
    std::vector<Format> formats, fitting;
    formats.reserve(AudioProbe::kEncodings.size() * counts.size());
    fitting.reserve(formats.capacity());
    for (Encoding encoding : AudioProbe::kEncodings)
        for (uint32_t n : counts)
        {
            formats.push_back({encoding, n});
            if (nDataLength % (uint64_t{AudioProbe::BitsPerSample(encoding)} / 8 * n) == 0)
                fitting.push_back(formats.back());
        }
    const auto has = [](const std::vector<Format>& list, Quantity quantity, uint32_t n)
    {
        return std::any_of(list.begin(), list.end(),
                           [&](const Format& f) { return f.Value(quantity) == n; });
    };

    constexpr Quantity kJudged[] = {Quantity::BitsPerSample, Quantity::IsFloat, Quantity::Channels};
    std::vector<std::pair<Quantity, uint32_t>> known;
    for (Quantity quantity : kJudged)
        if (const std::vector<uint32_t> values = named(quantity);
            values.size() == 1 && has(fitting, quantity, values.front()))
            known.push_back({quantity, values.front()});
    const std::string text = "data length " + std::to_string(nDataLength);
    for (Quantity quantity : kJudged)
    {
        // The formats what the other quantities name allows, and those of them
        // whose frames divide the length: only what the second list lacks is the
        // length's own evidence.
        const auto allowedBy = [&](const std::vector<Format>& list)
        {
            std::vector<Format> allowed;
            allowed.reserve(list.size());
            std::copy_if(list.begin(), list.end(), std::back_inserter(allowed),
                         [&](const Format& f)
                         {
                             return std::all_of(known.begin(), known.end(),
                                                [&](const auto& k) {
                                                    return k.first == quantity ||
                                                           f.Value(k.first) == k.second;
                                                });
                         });
            return allowed;
        };
        const std::vector<Format> allowed = allowedBy(formats), left = allowedBy(fitting);
        const auto oneValue = [quantity](const std::vector<Format>& list)
        {
            return std::all_of(list.begin(), list.end(),
                               [&](const Format& f)
                               { return f.Value(quantity) == list.front().Value(quantity); });
        };
        if (left.empty())
            continue; // what the others name contradicts itself
        const std::vector<uint32_t> values = named(quantity);
        for (uint32_t n : values) // a word length no encoding has (20) is not judged
            if (has(allowed, quantity, n) && !has(left, quantity, n))
                Add(quantity, Source::DataLength, n, text, true);
        if (values.empty() && oneValue(left) && !oneValue(allowed))
            Add(quantity, Source::DataLength, left.front().Value(quantity), text);
    }
}
