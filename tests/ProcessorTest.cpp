#include <gtest/gtest.h>

#include <cstring>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "plugin/LumiroLooperProcessor.h"

namespace
{
struct ParamSpec
{
    const char* id;
    const char* name;
    float defaultValue;
};

// Every parameter as the host lists it, with the raw value of a fresh instance.
const ParamSpec expectedParams[] = {
    {"atOn", "Autotune On", 0},
    {"atKey", "Key", 0},
    {"atScale", "Scale", 0},
    {"atSpeed", "Retune Speed", 0.7f},
    {"atMix", "Tune Mix", 1},
    {"dlOn", "Delay On", 1},
    {"dlTime", "Delay Time", 350},
    {"dlFb", "Feedback", 0.4f},
    {"dlMix", "Delay Mix", 0.35f},
    {"dlMode", "Delay Mode", 0},
    {"dlSync", "Delay Sync", 0},
    {"dlDiv", "Delay Div", 1},
    {"loopSync", "Loop Sync", 0},
    {"loopBars", "Loop Bars", 0},
    {"octOn", "Octave On", 0},
    {"octLvl", "Octave Level", 0.8f},
    {"octDry", "Octave Dry", 1},
    {"octRange", "Octave Range", 1},
    {"octTone", "Octave Tone", 0.45f},
    {"octSens", "Octave Sens", 0.5f},
    {"octGate", "Octave Gate", -55},
    {"fzOn", "Filterz On", 0},
    {"fzPreset", "Filterz Preset", 1},
    {"fzMix", "Filterz Mix", 1},
    {"fzDrive", "Filterz Drive", 0.3f},
    {"fzColour", "Filterz Colour", 0.5f},
    {"fzMotion", "Filterz Motion", 0.4f},
    {"vcOn", "Vocoder On", 0},
    {"vcMix", "Vocoder Mix", 1},
    {"vcDry", "Vocoder Dry", 0.15f},
    {"vcCarrier", "Vocoder Carrier", 0},
    {"vcBright", "Vocoder Bright", 0.5f},
    {"vcBreath", "Vocoder Breath", 0.35f},
    {"vcGlide", "Vocoder Glide", 0.3f},
    {"scOn", "Scratch On", 0},
    {"scMode", "Scratch Mode", 2},
    {"scPattern", "Scratch Pattern", 1},
    {"scJog", "Scratch Jog", 0},
    {"scFader", "Scratch Fader", 1},
    {"scDepth", "Scratch Depth", 0.5f},
    {"scDry", "Scratch Dry", 0},
    {"scBars", "Scratch Bars", 1},
};

float rawValue(LumiroLooperProcessor& p, const char* id)
{
    return p.apvts.getRawParameterValue(id)->load();
}

void setRaw(LumiroLooperProcessor& p, const char* id, float value)
{
    auto* param = p.apvts.getParameter(id);
    param->setValueNotifyingHost(param->convertTo0to1(value));
}

juce::MemoryBlock saveState(LumiroLooperProcessor& p)
{
    juce::MemoryBlock block;
    p.getStateInformation(block);
    return block;
}

// A blob in the saved-state layout around an arbitrary text.
juce::MemoryBlock makeBlob(const juce::String& xml, juce::uint32 magic = 0x21324356,
                           juce::int64 lengthOverride = -1)
{
    juce::MemoryBlock block;
    juce::MemoryOutputStream out(block, false);
    out.writeInt((int)magic);
    const auto utf8 = xml.toUTF8();
    const auto length = (int)std::strlen(utf8);
    out.writeInt(lengthOverride >= 0 ? (int)lengthOverride : length);
    out.write(utf8, (size_t)length);
    out.writeByte(0);
    out.flush();
    return block;
}
} // namespace

TEST(Parameters, HostSeesFortyTwoInTableOrderWithNamesAndDefaults)
{
    LumiroLooperProcessor p;
    const auto& params = p.getParameters();
    ASSERT_EQ(params.size(), 42);
    ASSERT_EQ(std::size(expectedParams), 42u);

    for (int i = 0; i < 42; ++i)
    {
        const auto& e = expectedParams[i];
        SCOPED_TRACE(e.id);
        auto* withId = dynamic_cast<juce::RangedAudioParameter*>(params[i]);
        ASSERT_NE(withId, nullptr);
        EXPECT_EQ(withId->getParameterID(), e.id);
        EXPECT_EQ(withId->getName(100), e.name);
        EXPECT_EQ(withId->getVersionHint(), 1);
        EXPECT_EQ(withId->getLabel(), "");
        EXPECT_FLOAT_EQ(rawValue(p, e.id), e.defaultValue);
        EXPECT_EQ(juce::String(LumiroLooperProcessor::parameterIDs[(size_t)i]), e.id);
    }
}

TEST(Parameters, RangesStepsAndChoices)
{
    LumiroLooperProcessor p;
    auto range = [&](const char* id) { return p.apvts.getParameterRange(id); };

    EXPECT_FLOAT_EQ(range("dlTime").start, 20.0f);
    EXPECT_FLOAT_EQ(range("dlTime").end, 2000.0f);
    EXPECT_FLOAT_EQ(range("dlTime").interval, 1.0f);
    EXPECT_FLOAT_EQ(range("dlTime").skew, 0.4f);
    EXPECT_FALSE(range("dlTime").symmetricSkew);
    EXPECT_FLOAT_EQ(range("dlFb").end, 0.95f);
    EXPECT_FLOAT_EQ(range("octGate").start, -80.0f);
    EXPECT_FLOAT_EQ(range("octGate").end, -20.0f);
    EXPECT_FLOAT_EQ(range("octGate").interval, 0.1f);
    EXPECT_FLOAT_EQ(range("scJog").start, -1.0f);
    EXPECT_FLOAT_EQ(range("atSpeed").interval, 0.001f);

    auto choices = [&](const char* id)
    { return dynamic_cast<juce::AudioParameterChoice*>(p.apvts.getParameter(id))->choices; };
    EXPECT_EQ(choices("atKey").joinIntoString(","), "C,C#,D,D#,E,F,F#,G,G#,A,A#,B");
    EXPECT_EQ(choices("dlDiv").joinIntoString(","), "1/4,1/8,1/8.,1/8T,1/16,1/4.,1/2");
    EXPECT_EQ(choices("loopBars").joinIntoString(","), "Nearest,1 Bar,2 Bars,4 Bars,8 Bars");
    EXPECT_EQ(choices("fzPreset").joinIntoString(","),
              "Overdrive,Telephone,Whale/Ethereal,Through-Wall,Underwater,Megaphone,Radio DJ");
    EXPECT_EQ(choices("scPattern").joinIntoString(","),
              "Manual,Baby,Chirp,Transformer,Flare,Scribble");
    EXPECT_EQ(choices("scBars").joinIntoString(","), "1/2,1 Bar,2 Bars,4 Bars");
    EXPECT_EQ(choices("dlMode").joinIntoString(","), "Digital,Analog,Tape,Reverse");
    EXPECT_EQ(choices("vcCarrier").joinIntoString(","), "Saw,Square,Saw+Sub");
    EXPECT_EQ(choices("scMode").joinIntoString(","), "Play-through,Live,Pattern");
}

TEST(Parameters, ValuesBetweenStepsSnapToTheNearestStep)
{
    struct Case
    {
        const char* id;
        float set;
        float expected;
    };
    const Case cases[] = {
        {"dlTime", 350.4f, 350.0f},   {"dlTime", 20.6f, 21.0f},     {"octGate", -55.04f, -55.0f},
        {"octGate", -79.94f, -79.9f}, {"atSpeed", 0.3334f, 0.333f}, {"scJog", -0.2506f, -0.251f},
        {"dlFb", 2.0f, 0.95f},
    };
    LumiroLooperProcessor p;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(juce::String(c.id) + " " + juce::String(c.set));
        setRaw(p, c.id, c.set);
        EXPECT_NEAR(rawValue(p, c.id), c.expected, 1e-4f);
    }
}

TEST(Processor, IdentityProgramsAndTail)
{
    LumiroLooperProcessor p;
    EXPECT_EQ(p.getName(), "Lumiro Looper Station");
    EXPECT_FALSE(p.acceptsMidi());
    EXPECT_FALSE(p.producesMidi());
    EXPECT_FALSE(p.isMidiEffect());
    EXPECT_DOUBLE_EQ(p.getTailLengthSeconds(), 2.5);
    EXPECT_EQ(p.getNumPrograms(), 1);
    EXPECT_EQ(p.getCurrentProgram(), 0);
    p.setCurrentProgram(3);
    EXPECT_EQ(p.getCurrentProgram(), 0);
    EXPECT_EQ(p.getProgramName(0), "");
    EXPECT_TRUE(p.hasEditor());
    EXPECT_EQ(p.lastTapMs, 0.0);

    ASSERT_EQ(p.getBusCount(true), 1);
    ASSERT_EQ(p.getBusCount(false), 1);
    EXPECT_EQ(p.getBus(true, 0)->getName(), "Input");
    EXPECT_EQ(p.getBus(false, 0)->getName(), "Output");
    EXPECT_EQ(p.getBus(true, 0)->getDefaultLayout(), juce::AudioChannelSet::stereo());
    EXPECT_EQ(p.getBus(false, 0)->getDefaultLayout(), juce::AudioChannelSet::stereo());
}

TEST(Processor, AcceptsOnlyMonoToMonoAndStereoToStereo)
{
    using Set = juce::AudioChannelSet;
    struct Case
    {
        const char* what;
        juce::Array<Set> in, out;
        bool accepted;
    };
    const Case cases[] = {
        {"mono to mono", {Set::mono()}, {Set::mono()}, true},
        {"stereo to stereo", {Set::stereo()}, {Set::stereo()}, true},
        {"stereo to stereo, extra buses ignored",
         {Set::stereo(), Set::quadraphonic()},
         {Set::stereo(), Set::mono()},
         true},
        {"disabled input, stereo out", {Set::disabled()}, {Set::stereo()}, false},
        {"no input bus, stereo out", {}, {Set::stereo()}, false},
        {"mono to stereo", {Set::mono()}, {Set::stereo()}, false},
        {"stereo to mono", {Set::stereo()}, {Set::mono()}, false},
        {"surround", {Set::create5point1()}, {Set::create5point1()}, false},
        {"no buses", {}, {}, false},
    };
    LumiroLooperProcessor p;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses = c.in;
        layout.outputBuses = c.out;
        EXPECT_EQ(p.isBusesLayoutSupported(layout), c.accepted);
    }
}

TEST(State, BlobLayoutAndRoundTrip)
{
    LumiroLooperProcessor source;
    setRaw(source, "dlTime", 777.0f);
    setRaw(source, "fzPreset", 4.0f);
    setRaw(source, "octGate", -33.3f);
    setRaw(source, "scOn", 1.0f);
    setRaw(source, "dlOn", 0.0f);

    const auto blob = saveState(source);
    ASSERT_GT(blob.getSize(), 9u);
    const auto* bytes = static_cast<const unsigned char*>(blob.getData());
    EXPECT_EQ(bytes[0], 0x56);
    EXPECT_EQ(bytes[1], 0x43);
    EXPECT_EQ(bytes[2], 0x32);
    EXPECT_EQ(bytes[3], 0x21);
    EXPECT_EQ(juce::ByteOrder::littleEndianInt(bytes + 4), (juce::uint32)blob.getSize() - 9);
    EXPECT_EQ(bytes[blob.getSize() - 1], 0);

    const juce::String text(reinterpret_cast<const char*>(bytes + 8));
    EXPECT_TRUE(text.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?> <PARAMS>"));
    EXPECT_FALSE(text.containsChar('\n'));
    EXPECT_TRUE(text.contains("<PARAM id=\"dlTime\" value=\"777.0\"/>"));

    LumiroLooperProcessor target;
    target.setStateInformation(blob.getData(), (int)blob.getSize());
    for (const auto* id : LumiroLooperProcessor::parameterIDs)
    {
        SCOPED_TRACE(id);
        EXPECT_FLOAT_EQ(rawValue(target, id), rawValue(source, id));
    }
}

TEST(State, RestoreFailuresLeaveEveryParameterAsItWas)
{
    LumiroLooperProcessor reference;
    setRaw(reference, "dlTime", 1000.0f);
    const auto good = saveState(reference);

    auto withMagic = good;
    static_cast<unsigned char*>(withMagic.getData())[0] = 0x57;

    struct Case
    {
        const char* what;
        juce::MemoryBlock blob;
    };
    const Case cases[] = {
        {"empty", {}},
        {"eight bytes", juce::MemoryBlock(good.getData(), 8)},
        {"wrong magic", withMagic},
        {"length zero", makeBlob("<PARAMS/>", 0x21324356, 0)},
        {"negative length", makeBlob("<PARAMS/>", 0x21324356, 0xffffffffu)},
        {"not XML", makeBlob("this is not xml")},
        {"truncated XML", makeBlob("<PARAMS><PARAM id=\"dlTime\" val")},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        LumiroLooperProcessor p;
        setRaw(p, "dlTime", 123.0f);
        setRaw(p, "fzPreset", 5.0f);
        p.setStateInformation(c.blob.getData(), (int)c.blob.getSize());
        EXPECT_FLOAT_EQ(rawValue(p, "dlTime"), 123.0f);
        EXPECT_FLOAT_EQ(rawValue(p, "fzPreset"), 5.0f);
    }
}

TEST(State, PartialForeignAndOverlongBlobs)
{
    {
        SCOPED_TRACE("missing children return to defaults");
        LumiroLooperProcessor p;
        setRaw(p, "dlTime", 123.0f);
        setRaw(p, "fzPreset", 5.0f);
        const auto blob = makeBlob("<PARAMS><PARAM id=\"fzPreset\" value=\"3\"/></PARAMS>");
        p.setStateInformation(blob.getData(), (int)blob.getSize());
        EXPECT_FLOAT_EQ(rawValue(p, "fzPreset"), 3.0f);
        EXPECT_FLOAT_EQ(rawValue(p, "dlTime"), 350.0f);
    }
    {
        SCOPED_TRACE("another root element is matched by ids alone");
        LumiroLooperProcessor p;
        setRaw(p, "atSpeed", 0.1f);
        const auto blob = makeBlob("<OTHER><PARAM id=\"dlMix\" value=\"0.9\"/></OTHER>");
        p.setStateInformation(blob.getData(), (int)blob.getSize());
        EXPECT_FLOAT_EQ(rawValue(p, "dlMix"), 0.9f);
        EXPECT_FLOAT_EQ(rawValue(p, "atSpeed"), 0.7f);
    }
    {
        SCOPED_TRACE("a length field beyond the data is cut to the data");
        LumiroLooperProcessor p;
        const auto blob =
            makeBlob("<PARAMS><PARAM id=\"dlTime\" value=\"500\"/></PARAMS>", 0x21324356, 100000);
        p.setStateInformation(blob.getData(), (int)blob.getSize());
        EXPECT_FLOAT_EQ(rawValue(p, "dlTime"), 500.0f);
    }
}

namespace
{
class FakePlayHead : public juce::AudioPlayHead
{
  public:
    juce::Optional<PositionInfo> position;
    juce::Optional<PositionInfo> getPosition() const override { return position; }
};

juce::AudioPlayHead::PositionInfo
makePosition(juce::Optional<double> bpm, juce::Optional<juce::AudioPlayHead::TimeSignature> sig)
{
    juce::AudioPlayHead::PositionInfo info;
    info.setBpm(bpm);
    info.setTimeSignature(sig);
    return info;
}
} // namespace

TEST(HostTimingFromPlayHead, FallsBackToOneTwentyInFourFour)
{
    using TS = juce::AudioPlayHead::TimeSignature;
    struct Case
    {
        const char* what;
        bool hasPlayHead;
        bool hasPosition;
        juce::Optional<double> bpm;
        juce::Optional<TS> sig;
        double expectedBpm;
        int expectedNum, expectedDen;
    };
    const Case cases[] = {
        {"no play head", false, false, {}, {}, 120.0, 4, 4},
        {"no position", true, false, {}, {}, 120.0, 4, 4},
        {"empty position", true, true, {}, {}, 120.0, 4, 4},
        {"tempo and signature", true, true, 93.5, TS{7, 8}, 93.5, 7, 8},
        {"tempo without signature", true, true, 140.0, {}, 140.0, 4, 4},
        {"signature without tempo", true, true, {}, TS{3, 4}, 120.0, 3, 4},
        {"tempo zero", true, true, 0.0, TS{6, 8}, 120.0, 6, 8},
        {"negative tempo", true, true, -60.0, TS{5, 4}, 120.0, 5, 4},
        {"denominator zero counts as no signature", true, true, 100.0, TS{3, 0}, 100.0, 4, 4},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        FakePlayHead head;
        if (c.hasPosition)
            head.position = makePosition(c.bpm, c.sig);
        const auto t = LumiroLooperProcessor::readHostTiming(c.hasPlayHead ? &head : nullptr);
        EXPECT_DOUBLE_EQ(t.bpm, c.expectedBpm);
        EXPECT_EQ(t.numerator, c.expectedNum);
        EXPECT_EQ(t.denominator, c.expectedDen);
    }
}

namespace
{
juce::AudioBuffer<float> noise(int channels, int samples, int seed)
{
    juce::Random random(seed);
    juce::AudioBuffer<float> b(channels, samples);
    for (int c = 0; c < channels; ++c)
        for (int s = 0; s < samples; ++s)
            b.setSample(c, s, random.nextFloat() * 2.0f - 1.0f);
    return b;
}

bool sameSamples(const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b, int channel)
{
    return std::memcmp(a.getReadPointer(channel), b.getReadPointer(channel),
                       sizeof(float) * (size_t)a.getNumSamples()) == 0;
}

void switchAllStages(LumiroLooperProcessor& p, bool on)
{
    for (const auto* id : {"atOn", "vcOn", "octOn", "fzOn", "dlOn", "scOn"})
        setRaw(p, id, on ? 1.0f : 0.0f);
}
} // namespace

TEST(Pipeline, WithEveryStageOffTheOutputIsTheInput)
{
    LumiroLooperProcessor p;
    switchAllStages(p, false);
    p.prepareToPlay(48000.0, 512);
    auto buffer = noise(2, 512, 1);
    const auto input = buffer;
    juce::MidiBuffer midi;
    for (int block = 0; block < 4; ++block)
        p.processBlock(buffer, midi);
    EXPECT_TRUE(sameSamples(buffer, input, 0));
    EXPECT_TRUE(sameSamples(buffer, input, 1));
}

TEST(Pipeline, ChannelsBeyondThePreparedCountPassUntouched)
{
    LumiroLooperProcessor p;
    switchAllStages(p, true);
    p.prepareToPlay(48000.0, 256);
    juce::MidiBuffer midi;
    for (int block = 0; block < 8; ++block)
    {
        auto buffer = noise(5, 256, 10 + block);
        const auto input = buffer;
        p.processBlock(buffer, midi);
        for (int c = 2; c < 5; ++c)
            EXPECT_TRUE(sameSamples(buffer, input, c)) << "channel " << c << " block " << block;
    }
}

TEST(Pipeline, AZeroSampleBlockChangesNothing)
{
    // Two instances get the same blocks; one also gets empty blocks in between.
    LumiroLooperProcessor plain, withEmpty;
    for (auto* p : {&plain, &withEmpty})
    {
        switchAllStages(*p, true);
        p->prepareToPlay(44100.0, 128);
    }
    juce::MidiBuffer midi;
    for (int block = 0; block < 6; ++block)
    {
        auto a = noise(2, 128, 100 + block);
        auto b = a;
        juce::AudioBuffer<float> empty(2, 0);
        withEmpty.processBlock(empty, midi);
        plain.processBlock(a, midi);
        withEmpty.processBlock(b, midi);
        EXPECT_TRUE(sameSamples(a, b, 0)) << "block " << block;
        EXPECT_TRUE(sameSamples(a, b, 1)) << "block " << block;
    }
}

TEST(Pipeline, FlushesDenormalsOnlyForTheBlock)
{
#if defined(__SSE__)
    LumiroLooperProcessor p;
    p.prepareToPlay(48000.0, 64);
    auto buffer = noise(2, 64, 7);
    juce::MidiBuffer midi;
    const auto before = _mm_getcsr();
    p.processBlock(buffer, midi);
    EXPECT_EQ(_mm_getcsr(), before);
#else
    GTEST_SKIP() << "x86 only";
#endif
}
