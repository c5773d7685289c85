#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <limits>

#include "StationRig.h"

// Hosts prepare at any rate, send blocks of any size and channel count,
// re-prepare mid-stream, report odd tempi and push parameters to and past the
// ends of their ranges. The station must keep running through all of it: no
// crash, no sanitizer report, and for finite input no non-finite output.
// Channels beyond the prepared ones pass through untouched.
namespace
{
constexpr double sampleRates[] = {8000.0,  11025.0, 22050.0,  32000.0,  44100.0,  48000.0,
                                  88200.0, 96000.0, 176400.0, 192000.0, 352800.0, 384000.0};
constexpr int blockSizes[] = {0, 1, 2, 3, 7, 31, 64, 127, 441, 1000, 4095, 8192};
constexpr int maxBufferChannels = 8;

// Transport presses spread over the sweep, so the looper passes through all
// its states at odd block sizes and channel counts.
constexpr char commandCycle[] = "RRRRSRURSCRSUC";

class HostileHost : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        playHead.position = rig::makePosition(120.0, 4, 4);
        processor.setPlayHead(&playHead);
    }

    void TearDown() override { processor.setPlayHead(nullptr); }

    void allStagesOn()
    {
        for (const auto& id : rig::stageSwitches())
            rig::set(processor, id, 1.0f);
    }

    // Runs one block of the voice; returns false if a prepared channel came
    // out non-finite or an extra channel was changed.
    bool block(int numChannels, int numSamples, int preparedChannels)
    {
        buffer.setSize(numChannels, numSamples, false, false, true);
        rig::fillVoice(buffer, sampleRate, t);
        input.makeCopyOf(buffer, true);
        rig::process(processor, buffer);

        if (!rig::allFinite(buffer, preparedChannels))
            return false;
        for (int ch = preparedChannels; ch < numChannels; ++ch)
            if (std::memcmp(buffer.getReadPointer(ch), input.getReadPointer(ch),
                            sizeof(float) * (size_t)numSamples) != 0)
                return false;
        return true;
    }

    // Prepares, which discards whatever loop there was.
    void prepare(double rate)
    {
        sampleRate = rate;
        processor.prepareToPlay(rate, 512);
        EXPECT_EQ(processor.looper.getLoopState(), LoopState::Idle);
        EXPECT_EQ(processor.looper.getNumLayers(), 0);
    }

    LumiroLooperProcessor processor;
    rig::StubPlayHead playHead;
    juce::AudioBuffer<float> buffer{maxBufferChannels, 8192};
    juce::AudioBuffer<float> input{maxBufferChannels, 8192};
    double sampleRate = 44100.0;
    std::int64_t t = 0;
};

TEST_F(HostileHost, AnyRateBlockSizeAndChannelCount)
{
    for (int prepared : {1, 2})
    {
        rig::setLayout(processor, prepared);
        allStagesOn();
        rig::set(processor, "dlSync", 1.0f);
        rig::set(processor, "loopSync", 1.0f);
        for (double rate : sampleRates)
        {
            // Re-prepared mid-stream, in the middle of a loop.
            prepare(rate);
            size_t command = 0;
            for (int n : blockSizes)
            {
                for (int channels = 0; channels <= maxBufferChannels; ++channels)
                    ASSERT_TRUE(block(channels, n, prepared))
                        << rate << " Hz, " << prepared << " prepared, " << channels << " channels, "
                        << n << " samples";
                const char step[] = {commandCycle[command++ % (sizeof(commandCycle) - 1)], 0};
                rig::runSteps(processor.looper, step, [] {});
            }
        }
    }
}

TEST_F(HostileHost, EveryParameterAtBothEndsAndBeyond)
{
    prepare(44100.0);
    allStagesOn();
    rig::runSteps(processor.looper, "R....R..R", [&] { block(2, 512, 2); });

    for (const auto* idText : LumiroLooperProcessor::parameterIDs)
    {
        const std::string id = idText;
        auto* param = processor.apvts.getParameter(id);
        const auto range = param->getNormalisableRange();
        const float span = range.end - range.start;
        const float saved = processor.apvts.getRawParameterValue(id)->load();

        // Through the parameter, as hosts do, then raw values past the ends
        // (a debug build of the framework asserts on normalised values outside
        // 0..1, so those are written straight to the raw value).
        for (float normalised : {0.0f, 1.0f})
        {
            param->setValueNotifyingHost(normalised);
            for (int n : {1, 333, 4096})
                ASSERT_TRUE(block(2, n, 2)) << id << " normalised " << normalised;
        }
        for (float raw :
             {range.start - span, range.end + span, range.start - 1.0f, range.end + 1.0f})
        {
            rig::writeRaw(processor, id, raw);
            for (int n : {1, 333, 4096})
                ASSERT_TRUE(block(2, n, 2)) << id << " raw " << raw;
        }
        rig::set(processor, id, saved);
        rig::writeRaw(processor, id, saved);
    }
}

// A host may hand a parameter NaN as its normalised value: the framework
// passes it through to the raw value the audio thread reads. Every block must
// still come out finite.
TEST_F(HostileHost, NonFiniteParameterValuesFromTheHost)
{
    prepare(48000.0);
    allStagesOn();
    rig::runSteps(processor.looper, "R....R..R", [&] { block(2, 512, 2); });

    for (const auto* idText : LumiroLooperProcessor::parameterIDs)
    {
        const std::string id = idText;
        const float saved = processor.apvts.getRawParameterValue(id)->load();
        for (float v :
             {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
              -std::numeric_limits<float>::infinity()})
        {
            rig::writeRaw(processor, id, v);
            for (int n : {64, 1000})
                ASSERT_TRUE(block(2, n, 2)) << id << " set to " << v;
        }
        rig::writeRaw(processor, id, saved);
    }
}

juce::MemoryBlock blobAround(const juce::String& text)
{
    juce::MemoryBlock blob;
    juce::MemoryOutputStream out(blob, false);
    out.writeInt(0x21324356);
    out.writeInt((int)text.getNumBytesAsUTF8());
    out.write(text.toRawUTF8(), text.getNumBytesAsUTF8());
    out.writeByte(0);
    out.flush();
    return blob;
}

juce::String savedText(LumiroLooperProcessor& p)
{
    juce::MemoryBlock blob;
    p.getStateInformation(blob);
    return juce::String::fromUTF8((const char*)blob.getData() + 8, (int)blob.getSize() - 9);
}

float rawValue(LumiroLooperProcessor& p, const char* id)
{
    return p.apvts.getRawParameterValue(id)->load();
}

// Damaged projects: a value that is not a number gives that parameter its
// default; a value given twice counts once, the same way now and after the
// next save; text the framework cannot decode or parse safely is ignored.
TEST_F(HostileHost, DamagedStateBlobs)
{
    struct Case
    {
        const char* name;
        const char* find;
        const char* replace;
        float dlFb;    // expected after the restore; the saved value is 0.8, the live one 0.1
        float octGate; // saved -30, live -70
    };
    const Case cases[] = {
        {"a value that is not a number", "id=\"dlFb\" value=\"0.8", "id=\"dlFb\" value=\"nan", 0.4f,
         -30.0f},
        {"a value given twice", "id=\"dlFb\" value=\"0.8", "id=\"dlFb\" value=\"0.2\" value=\"0.9",
         0.2f, -30.0f},
        {"broken UTF-8 in a value", "id=\"dlFb\" value=\"0.8", "id=\"dlFb\" value=\"\xe2\xe2\xe2",
         0.1f, -70.0f},
        {"a processing instruction before text", "<PARAM ", "<?x?>text<PARAM ", 0.1f, -70.0f},
    };

    for (const auto& c : cases)
    {
        rig::set(processor, "dlFb", 0.8f);
        rig::set(processor, "octGate", -30.0f);
        auto text = savedText(processor);
        ASSERT_TRUE(text.contains(c.find)) << c.name;
        // Replaced byte for byte, so broken sequences stay broken.
        auto utf8 = std::string(text.toRawUTF8());
        utf8.replace(utf8.find(c.find), std::strlen(c.find), c.replace);
        juce::MemoryBlock blob;
        blob.append("\x56\x43\x32\x21", 4);
        const auto length = (juce::uint32)utf8.size();
        blob.append(&length, 4);
        blob.append(utf8.data(), utf8.size() + 1);

        rig::set(processor, "dlFb", 0.1f);
        rig::set(processor, "octGate", -70.0f);
        processor.setStateInformation(blob.getData(), (int)blob.getSize());
        EXPECT_FLOAT_EQ(rawValue(processor, "dlFb"), c.dlFb) << c.name;
        EXPECT_FLOAT_EQ(rawValue(processor, "octGate"), c.octGate) << c.name;

        // What the parameters now hold is what the next save writes.
        const auto resaved = blobAround(savedText(processor));
        processor.setStateInformation(resaved.getData(), (int)resaved.getSize());
        EXPECT_FLOAT_EQ(rawValue(processor, "dlFb"), c.dlFb) << c.name << ", saved again";
    }
}

TEST_F(HostileHost, OddTempiAndTimeSignatures)
{
    struct Timing
    {
        bool hasPlayHead;
        bool hasPosition;
        double bpm;
        int numerator;
        int denominator;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Timing timings[] = {
        {false, false, 0, 0, 0},         {true, false, 0, 0, 0},
        {true, true, 0.0, 4, 4},         {true, true, -90.0, 4, 4},
        {true, true, nan, 4, 4},         {true, true, inf, 4, 4},
        {true, true, 1.0e-9, 4, 4},      {true, true, 1.0e-300, 4, 4},
        {true, true, 1.0e9, 4, 4},       {true, true, 120.0, 0, 4},
        {true, true, 120.0, 4, 0},       {true, true, 120.0, -3, 4},
        {true, true, 120.0, 4, -8},      {true, true, 120.0, 1000, 1},
        {true, true, 120.0, 1, 1000},    {true, true, 120.0, INT_MAX, 1},
        {true, true, 120.0, INT_MIN, 1}, {true, true, 20.0, 64, 1},
    };

    allStagesOn();
    rig::set(processor, "dlSync", 1.0f);
    rig::set(processor, "loopSync", 1.0f);
    const int scBars = processor.apvts.getParameter("scBars")->getNumSteps();
    const int loopBars = processor.apvts.getParameter("loopBars")->getNumSteps();
    const int dlDiv = processor.apvts.getParameter("dlDiv")->getNumSteps();
    const int scPattern = processor.apvts.getParameter("scPattern")->getNumSteps();

    int index = 0;
    for (const auto& timing : timings)
    {
        processor.setPlayHead(timing.hasPlayHead ? &playHead : nullptr);
        if (timing.hasPosition)
            playHead.position = rig::makePosition(timing.bpm, timing.numerator, timing.denominator);
        else
            playHead.position = {};

        for (int choice = 0; choice < juce::jmax(scBars, loopBars, dlDiv); ++choice, ++index)
        {
            prepare(48000.0);
            rig::set(processor, "scBars", (float)(choice % scBars));
            rig::set(processor, "loopBars", (float)(choice % loopBars));
            rig::set(processor, "dlDiv", (float)(choice % dlDiv));
            rig::set(processor, "scPattern", (float)(index % scPattern));

            // Take a few blocks and close them into a loop fitted to the bar.
            const auto context = [&]
            {
                return ::testing::Message() << "bpm " << timing.bpm << ", " << timing.numerator
                                            << "/" << timing.denominator << ", choice " << choice;
            };
            bool ok = true;
            rig::runSteps(processor.looper, "R...R...R..S.R..",
                          [&] { ok = ok && block(2, 700, 2); });
            EXPECT_TRUE(ok) << context();
            EXPECT_EQ(processor.looper.getNumLayers(), 2) << context();
        }
    }
}

TEST_F(HostileHost, BlocksBeforeAnyPrepareAndPrepareRepeated)
{
    // A fresh instance runs on its construction defaults until prepared.
    allStagesOn();
    rig::runSteps(processor.looper, "R..R..", [&] { EXPECT_TRUE(block(2, 256, 2)); });

    for (int i = 0; i < 3; ++i)
    {
        prepare(44100.0);
        prepare(44100.0);
        rig::runSteps(processor.looper, "R..R.R.", [&] { EXPECT_TRUE(block(2, 300, 2)); });
        processor.releaseResources();
        EXPECT_TRUE(block(2, 300, 2));
    }
}
} // namespace
