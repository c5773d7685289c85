#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "dsp/DelayUnit.h"
#include "plugin/LumiroLooperProcessor.h"

namespace
{
using Mode = DelayUnit::DelayMode;

DelayUnit::Parameters settings(float timeMs, float feedback, float mix, Mode mode = Mode::Digital)
{
    DelayUnit::Parameters p;
    p.time = timeMs;
    p.feedback = feedback;
    p.mix = mix;
    p.mode = (float)mode;
    return p;
}

DelayUnit makeUnit(double sampleRate, int channels, const DelayUnit::Parameters& p)
{
    DelayUnit unit;
    unit.prepare(sampleRate, channels);
    unit.updateParameters(p);
    return unit;
}

// Runs one signal through channel 0 of a one-channel block and returns the output.
std::vector<float> run(DelayUnit& unit, const std::vector<float>& input)
{
    juce::AudioBuffer<float> buffer(1, (int)input.size());
    for (int n = 0; n < (int)input.size(); ++n)
        buffer.setSample(0, n, input[(size_t)n]);
    unit.process(buffer);
    return {buffer.getReadPointer(0), buffer.getReadPointer(0) + input.size()};
}

std::vector<float> impulse(int length, float amplitude = 1.0f)
{
    std::vector<float> x((size_t)length, 0.0f);
    x[0] = amplitude;
    return x;
}

std::vector<float> noise(int length)
{
    juce::Random random(1234);
    std::vector<float> x((size_t)length);
    for (auto& s : x)
        s = random.nextFloat() * 2.0f - 1.0f;
    return x;
}
} // namespace

// ---------------------------------------------------------------------------
// Delay target, glide and clamps

TEST(DelayUnitTarget, FirstBlockAfterPrepareSnapsToTheTarget)
{
    struct Case
    {
        double sampleRate;
        float timeMs;
        int lineLength;
        float samples;
    };
    const Case cases[] = {
        {48000.0, 350.0f, 120008, 16800.0f},   {44100.0, 350.0f, 110258, 15435.0f},
        {96000.0, 20.0f, 240008, 1920.0f},     {48000.0, 0.001f, 120008, 1.0f}, // below one sample
        {48000.0, 3000.0f, 120008, 120004.0f}, // longer than the line
        {44100.0, 2600.0f, 110258, 110254.0f},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.sampleRate << " Hz, " << c.timeMs << " ms");
        auto unit = makeUnit(c.sampleRate, 2, settings(c.timeMs, 0.4f, 0.35f));
        EXPECT_EQ(unit.lineLength, c.lineLength);
        EXPECT_EQ(unit.targetDelay, c.samples);
        EXPECT_EQ(unit.currentDelay, c.samples);
    }
}

TEST(DelayUnitTarget, GlideCoversAbout63PercentIn1250Samples)
{
    auto unit = makeUnit(48000.0, 1, settings(350.0f, 0.0f, 1.0f));
    unit.updateParameters(settings(700.0f, 0.0f, 1.0f));
    EXPECT_EQ(unit.targetDelay, 33600.0f);
    EXPECT_EQ(unit.currentDelay, 16800.0f);

    run(unit, std::vector<float>(1, 0.0f));
    EXPECT_FLOAT_EQ(unit.currentDelay, 16800.0f + 16800.0f * 0.0008f);

    run(unit, std::vector<float>(1249, 0.0f));
    const double covered = (unit.currentDelay - 16800.0) / 16800.0;
    EXPECT_NEAR(covered, 1.0 - std::pow(1.0 - 0.0008, 1250.0), 1e-4);
    EXPECT_NEAR(covered, 0.632, 0.001);
}

TEST(DelayUnitTarget, SyncedTimeFollowsTempoAndDivision)
{
    struct Case
    {
        double bpm;
        float division;
        float ms;
    };
    const Case cases[] = {
        {120.0, 1.0f, 250.0f},     // "1/8"
        {120.0, 3.0f, 166.66667f}, // "1/8T"
        {120.0, 5.0f, 750.0f},     // "1/4."
        {120.0, 0.0f, 500.0f},     // "1/4"
        {120.0, 2.0f, 375.0f},     // "1/8."
        {120.0, 4.0f, 125.0f},     // "1/16"
        {120.0, 6.0f, 1000.0f},    // "1/2"
        {40.0, 6.0f, 2000.0f},     // 3000 ms, clamped
        {800.0, 4.0f, 20.0f},      // 18.75 ms, raised
        {120.0, -3.0f, 500.0f},    // index below the table
        {120.0, 9.0f, 1000.0f},    // index above the table
        {120.0, 1.7f, 250.0f},     // truncated
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.bpm << " bpm, division " << c.division);
        auto p = settings(1234.0f, 0.4f, 0.35f); // the free time plays no part
        p.sync = 1.0f;
        p.division = c.division;
        p.bpm = c.bpm;
        const auto unit = makeUnit(48000.0, 2, p);
        EXPECT_FLOAT_EQ(unit.targetDelay, (float)(c.ms * 0.001 * 48000.0));
    }
}

TEST(DelayUnitTarget, SwitchingSyncOffGlidesToTheFreeTime)
{
    auto p = settings(350.0f, 0.4f, 0.35f);
    p.sync = 1.0f; // "1/8" at 120 bpm
    auto unit = makeUnit(48000.0, 1, p);
    EXPECT_EQ(unit.currentDelay, 12000.0f);

    p.sync = 0.0f;
    unit.updateParameters(p);
    EXPECT_EQ(unit.targetDelay, 16800.0f);
    EXPECT_EQ(unit.currentDelay, 12000.0f);
    run(unit, std::vector<float>(100, 0.0f));
    EXPECT_GT(unit.currentDelay, 12000.0f);
    EXPECT_LT(unit.currentDelay, 16800.0f);
}

TEST(DelayUnitTarget, FeedbackMixAndModeAreClamped)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case
    {
        float rawFeedback, rawMix, rawMode;
        float feedback, mix;
        int mode;
    };
    const Case cases[] = {
        {0.5f, 0.25f, 1.0f, 0.5f, 0.25f, Mode::Analog},
        {0.96f, 1.3f, 2.9f, 0.95f, 1.0f, Mode::Tape},
        {2.0f, -0.5f, 3.0f, 0.95f, 0.0f, Mode::Reverse},
        {-0.2f, 0.0f, 7.0f, 0.0f, 0.0f, Mode::Digital},
        {nan, nan, nan, 0.0f, 0.0f, Mode::Digital},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "feedback " << c.rawFeedback << ", mix " << c.rawMix);
        DelayUnit::Parameters p;
        p.feedback = c.rawFeedback;
        p.mix = c.rawMix;
        p.mode = c.rawMode;
        const auto unit = makeUnit(48000.0, 2, p);
        EXPECT_EQ(unit.feedback, c.feedback);
        EXPECT_EQ(unit.mix, c.mix);
        EXPECT_EQ(unit.mode, c.mode);
    }
}

TEST(DelayUnitTarget, TimeThatIsNotANumberFallsToOneSample)
{
    auto unit = makeUnit(48000.0, 1, settings(std::numeric_limits<float>::quiet_NaN(), 0, 1));
    EXPECT_EQ(unit.targetDelay, 1.0f);
    const auto y = run(unit, impulse(4));
    EXPECT_EQ(y[1], 1.0f);
}

// ---------------------------------------------------------------------------
// Sound of the four modes

TEST(DelayUnitSound, DigitalImpulseComesOutOnceExactlyDSamplesLater)
{
    struct Case
    {
        double sampleRate;
        float timeMs;
        int delay;
    };
    const Case cases[] = {{48000.0, 10.0f, 480}, {48000.0, 350.0f, 16800}, {44100.0, 20.0f, 882}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.sampleRate << " Hz, " << c.timeMs << " ms");
        auto unit = makeUnit(c.sampleRate, 1, settings(c.timeMs, 0.0f, 1.0f));
        const auto y = run(unit, impulse(3 * c.delay));
        for (int n = 0; n < (int)y.size(); ++n)
            ASSERT_EQ(y[(size_t)n], n == c.delay ? 1.0f : 0.0f) << "sample " << n;
    }
}

TEST(DelayUnitSound, MixBlendsDryAndPlainRead)
{
    auto unit = makeUnit(48000.0, 1, settings(10.0f, 0.0f, 0.35f));
    const auto y = run(unit, impulse(1000));
    EXPECT_FLOAT_EQ(y[0], 0.65f);
    EXPECT_FLOAT_EQ(y[480], 0.35f);
}

TEST(DelayUnitSound, DigitalRepeatsScaleByTheClampedFeedback)
{
    struct Case
    {
        float rawFeedback, gain;
    };
    const Case cases[] = {{0.5f, 0.5f}, {0.95f, 0.95f}, {2.0f, 0.95f}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "feedback " << c.rawFeedback);
        auto unit = makeUnit(48000.0, 1, settings(10.0f, c.rawFeedback, 1.0f));
        const auto y = run(unit, impulse(4 * 480 + 1));
        float expected = 1.0f;
        for (int k = 1; k <= 4; ++k, expected *= c.gain)
        {
            EXPECT_FLOAT_EQ(y[(size_t)(k * 480)], expected) << "repeat " << k;
            EXPECT_EQ(y[(size_t)(k * 480 - 1)], 0.0f);
        }
    }
}

TEST(DelayUnitSound, AnalogWithoutFeedbackEqualsDigital)
{
    const auto x = noise(4000);
    auto digital = makeUnit(48000.0, 1, settings(37.0f, 0.0f, 0.35f, Mode::Digital));
    auto analog = makeUnit(48000.0, 1, settings(37.0f, 0.0f, 0.35f, Mode::Analog));
    // A glide in progress gives fractional reads on both.
    digital.updateParameters(settings(45.0f, 0.0f, 0.35f, Mode::Digital));
    analog.updateParameters(settings(45.0f, 0.0f, 0.35f, Mode::Analog));
    EXPECT_EQ(run(digital, x), run(analog, x));
}

TEST(DelayUnitSound, AnalogFirstRepeatIsCleanLaterRepeatsPassTheToneFilter)
{
    auto unit = makeUnit(48000.0, 1, settings(10.0f, 0.5f, 1.0f, Mode::Analog));
    const auto y = run(unit, impulse(2 * 480 + 40));

    EXPECT_EQ(y[480], 1.0f);
    EXPECT_EQ(y[481], 0.0f);
    EXPECT_EQ(y[2 * 480 - 1], 0.0f);
    // Second repeat: the impulse's share of feedback through one pass of the
    // one-pole low-pass (coefficient 0.28 per sample).
    for (int j = 0; j < 40; ++j)
        EXPECT_NEAR(y[(size_t)(2 * 480 + j)], 0.5 * 0.28 * std::pow(0.72, j), 1e-7) << j;
}

TEST(DelayUnitSound, TapeFirstRepeatIsCleanLaterRepeatsAreSaturated)
{
    const int delay = 4800; // 100 ms at 48 kHz
    auto unit = makeUnit(48000.0, 1, settings(100.0f, 0.95f, 1.0f, Mode::Tape));
    const auto y = run(unit, impulse(2 * delay + 400, 4.0f));

    // The wow moves the read, so the first repeat may fall between two
    // samples, but it carries the whole impulse.
    float first = 0.0f;
    for (int n = delay - 60; n < delay + 60; ++n)
        first += y[(size_t)n];
    EXPECT_NEAR(first, 4.0f, 0.05f);

    // What is written back is at most 0.8 (tanh) times the feedback, so
    // the second repeat can never reach 0.95 × 0.8 however loud the input.
    float secondPeak = 0.0f;
    for (int n = 2 * delay - 120; n < 2 * delay + 400; ++n)
        secondPeak = std::max(secondPeak, std::abs(y[(size_t)n]));
    EXPECT_LE(secondPeak, 0.95f * 0.8f);
    EXPECT_GT(secondPeak, 0.1f);
}

TEST(DelayUnitSound, TapeWowSwingsTheReadAt07Hz)
{
    struct Case
    {
        double sampleRate;
        float timeMs;
        double delay;
    };
    const Case cases[] = {{48000.0, 20.0f, 960.0}, {44100.0, 20.0f, 882.0}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.sampleRate << " Hz");
        auto unit = makeUnit(c.sampleRate, 1, settings(c.timeMs, 0.0f, 1.0f, Mode::Tape));

        // A ramp read back gives the read position itself: delay = n - y[n].
        const int length = (int)(1.5 * c.sampleRate);
        std::vector<float> ramp((size_t)length);
        for (int n = 0; n < length; ++n)
            ramp[(size_t)n] = (float)n;
        const auto y = run(unit, ramp);

        const double depth = 0.0009 * c.sampleRate;
        double lowest = 1e9, highest = -1e9;
        for (int n = (int)(c.delay + depth) + 2; n < length; ++n)
        {
            const double measured = n - (double)y[(size_t)n];
            const double phase = (n + 1) * 4.39822971502571 / c.sampleRate;
            ASSERT_NEAR(measured, c.delay + depth * std::sin(phase), 0.02) << "sample " << n;
            lowest = std::min(lowest, measured);
            highest = std::max(highest, measured);
        }
        EXPECT_NEAR(highest - c.delay, depth, 0.02);
        EXPECT_NEAR(c.delay - lowest, depth, 0.02);
        EXPECT_EQ(unit.currentDelay, (float)c.delay); // the wow leaves the glide alone
    }
}

TEST(DelayUnitSound, ReverseHoldsOneSamplePerDelayPeriod)
{
    // 10 ms at 10 kHz: exactly 100 samples.
    auto unit = makeUnit(10000.0, 1, settings(10.0f, 0.0f, 1.0f, Mode::Reverse));
    ASSERT_EQ(unit.targetDelay, 100.0f);

    std::vector<float> x(400);
    for (int n = 0; n < 400; ++n)
        x[(size_t)n] = (float)(n + 1);
    // Split over blocks: the counters carry across block edges.
    auto y = run(unit, {x.begin(), x.begin() + 150});
    const auto rest = run(unit, {x.begin() + 150, x.end()});
    y.insert(y.end(), rest.begin(), rest.end());

    for (int cycle = 0; cycle < 4; ++cycle)
    {
        const int start = cycle * 100;
        EXPECT_EQ(y[(size_t)start], 0.0f) << "cycle " << cycle;
        for (int j = 1; j < 100; ++j)
            ASSERT_EQ(y[(size_t)(start + j)], x[(size_t)start]) << "sample " << start + j;
    }
}

TEST(DelayUnitSound, ReadIndexStaysInsideTheLine)
{
    {
        // A delay just above 480 samples: at write position 480 the read is a
        // tiny negative number, and adding the length rounds to the length.
        auto unit = makeUnit(48000.0, 1, settings(10.00002f, 0.0f, 1.0f));
        const float d = unit.targetDelay;
        ASSERT_EQ(480.0f - d + (float)unit.lineLength, (float)unit.lineLength);
        const auto y = run(unit, impulse(600));
        EXPECT_NEAR(y[480], 1.0f, 0.002f);
        EXPECT_NEAR(y[481], d - 480.0f, 0.002f);
    }
    {
        // A one-sample delay under the Tape wow reads ahead of the write
        // position, past the end of the line once the write position is
        // near it (about 2.5 s in, where the wow is at its deepest).
        auto unit = makeUnit(48000.0, 1, settings(0.01f, 0.0f, 1.0f, Mode::Tape));
        ASSERT_EQ(unit.targetDelay, 1.0f);
        const int length = unit.lineLength;
        std::vector<float> ramp((size_t)length);
        for (int n = 0; n < length; ++n)
            ramp[(size_t)n] = (float)n;
        const auto y = run(unit, ramp);

        int foldedReads = 0;
        for (int n = 100; n < length; ++n)
        {
            const double phase = (n + 1) * 4.39822971502571 / 48000.0;
            double position = n - (1.0 + (double)(float)(48000.0 * 0.0009 * std::sin(phase)));
            if (position >= length)
            {
                position -= length;
                ++foldedReads;
            }
            // Reads that touch what this pass has not yet written are no ramp.
            if (position > n - 1.5)
                continue;
            ASSERT_NEAR(y[(size_t)n], position, 0.02) << "sample " << n;
        }
        EXPECT_GT(foldedReads, 30);
    }
}

// ---------------------------------------------------------------------------
// Channels

TEST(DelayUnitChannels, ProcessesOnlyPreparedChannelsOfTheBlock)
{
    struct Case
    {
        int prepared, inBlock;
    };
    const Case cases[] = {{1, 1}, {1, 2}, {2, 2}, {2, 3}, {2, 1}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.prepared << " prepared, " << c.inBlock << " in block");
        auto unit = makeUnit(48000.0, c.prepared, settings(10.0f, 0.0f, 1.0f));
        EXPECT_EQ((int)unit.lines.size(), c.prepared);

        juce::AudioBuffer<float> buffer(c.inBlock, 1000);
        buffer.clear();
        for (int ch = 0; ch < c.inBlock; ++ch)
            buffer.setSample(ch, 0, 1.0f);
        unit.process(buffer);

        for (int ch = 0; ch < c.inBlock; ++ch)
        {
            const bool processed = ch < c.prepared;
            EXPECT_EQ(buffer.getSample(ch, 0), processed ? 0.0f : 1.0f) << "channel " << ch;
            EXPECT_EQ(buffer.getSample(ch, 480), processed ? 1.0f : 0.0f) << "channel " << ch;
        }
    }
}

TEST(DelayUnitChannels, LinesAreIndependent)
{
    auto unit = makeUnit(48000.0, 2, settings(10.0f, 0.9f, 1.0f, Mode::Tape));
    juce::AudioBuffer<float> buffer(2, 4000);
    buffer.clear();
    buffer.setSample(0, 0, 1.0f);
    unit.process(buffer);
    EXPECT_EQ(buffer.findMinMax(1, 0, 4000), juce::Range<float>(0.0f, 0.0f));
    EXPECT_GT(buffer.getMagnitude(0, 0, 4000), 0.5f);
}

TEST(DelayUnitChannels, LineMissingFromABlockKeepsItsPosition)
{
    auto unit = makeUnit(48000.0, 2, settings(10.0f, 0.0f, 1.0f));
    juce::AudioBuffer<float> first(2, 10);
    first.clear();
    first.setSample(0, 0, 1.0f);
    first.setSample(1, 0, 1.0f);
    unit.process(first);

    juce::AudioBuffer<float> monoBlock(1, 100);
    monoBlock.clear();
    unit.process(monoBlock);

    juce::AudioBuffer<float> last(2, 500);
    last.clear();
    unit.process(last);
    EXPECT_EQ(last.getSample(0, 480 - 110), 1.0f);
    EXPECT_EQ(last.getSample(1, 480 - 10), 1.0f);
    EXPECT_EQ(last.getMagnitude(0, 500), 1.0f);
}

// ---------------------------------------------------------------------------
// Lifecycle

TEST(DelayUnitLifecycle, SwitchedOffTheUnitStandsStillAndEchoesReturn)
{
    auto unit = makeUnit(48000.0, 1, settings(10.0f, 0.0f, 1.0f));
    run(unit, impulse(100));

    // Off: only the parameter updates run; the target follows, nothing else moves.
    unit.updateParameters(settings(700.0f, 0.0f, 1.0f));
    EXPECT_EQ(unit.targetDelay, 33600.0f);
    EXPECT_EQ(unit.currentDelay, 480.0f);
    unit.updateParameters(settings(10.0f, 0.0f, 1.0f));
    EXPECT_EQ(unit.writePositions[0], 100);

    const auto y = run(unit, std::vector<float>(500, 0.0f));
    EXPECT_EQ(y[380], 1.0f);
}

TEST(DelayUnitLifecycle, PrepareClearsEchoesAndSnapsAgain)
{
    auto unit = makeUnit(48000.0, 1, settings(10.0f, 0.9f, 0.5f, Mode::Analog));
    run(unit, impulse(2000));
    unit.updateParameters(settings(20.0f, 0.9f, 0.5f, Mode::Analog));

    unit.prepare(48000.0, 1);
    // The last update's values stay until the next one.
    EXPECT_EQ(unit.targetDelay, 960.0f);
    EXPECT_EQ(unit.feedback, 0.9f);
    EXPECT_EQ(unit.mix, 0.5f);
    EXPECT_EQ(unit.mode, Mode::Analog);
    EXPECT_EQ(unit.currentDelay, 0.0f);

    unit.updateParameters(settings(30.0f, 0.9f, 0.5f, Mode::Analog));
    EXPECT_EQ(unit.currentDelay, 1440.0f);
    for (float s : run(unit, std::vector<float>(4000, 0.0f)))
        ASSERT_EQ(s, 0.0f);
}

TEST(DelayUnitLifecycle, EmptyBlockChangesNothing)
{
    auto unit = makeUnit(48000.0, 2, settings(10.0f, 0.5f, 0.5f, Mode::Tape));
    unit.updateParameters(settings(20.0f, 0.5f, 0.5f, Mode::Tape));
    juce::AudioBuffer<float> empty(2, 0);
    unit.process(empty);
    EXPECT_EQ(unit.currentDelay, 480.0f);
    EXPECT_EQ(unit.wowPhase, 0.0);
    EXPECT_EQ(unit.writePositions, (std::vector<int>{0, 0}));
}

// ---------------------------------------------------------------------------
// Through the processor

TEST(DelayUnitProcessor, FreshInstanceEchoesAnImpulse350msLater)
{
    LumiroLooperProcessor processor;
    processor.prepareToPlay(48000.0, 512);

    const int blocks = 70; // 35840 samples, past the second repeat at 33600
    std::vector<float> left, right;
    juce::MidiBuffer midi;
    for (int b = 0; b < blocks; ++b)
    {
        juce::AudioBuffer<float> buffer(2, 512);
        buffer.clear();
        if (b == 0)
        {
            buffer.setSample(0, 0, 1.0f);
            buffer.setSample(1, 0, 1.0f);
        }
        processor.processBlock(buffer, midi);
        left.insert(left.end(), buffer.getReadPointer(0), buffer.getReadPointer(0) + 512);
        right.insert(right.end(), buffer.getReadPointer(1), buffer.getReadPointer(1) + 512);
    }

    for (const auto* out : {&left, &right})
    {
        for (int n = 0; n < (int)out->size(); ++n)
        {
            float expected = 0.0f;
            if (n == 0)
                expected = 0.65f;
            else if (n == 16800)
                expected = 0.35f;
            else if (n == 33600)
                expected = 0.35f * 0.4f;
            ASSERT_FLOAT_EQ((*out)[(size_t)n], expected) << "sample " << n;
        }
    }
}
