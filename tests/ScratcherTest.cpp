#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "dsp/Scratcher.h"
#include "plugin/LumiroLooperProcessor.h"

namespace
{
constexpr float playThrough = 0.0f, live = 1.0f, patternMode = 2.0f;
constexpr float manual = 0.0f, baby = 1.0f, chirp = 2.0f, transformer = 3.0f, flare = 4.0f,
                scribble = 5.0f;

// A switched-on stage at the given rate: plain jog control, fader open, no dry.
Scratcher::Parameters switchedOn(double sampleRate, float mode, float pattern)
{
    Scratcher::Parameters p;
    p.on = 1.0f;
    p.mode = mode;
    p.pattern = pattern;
    p.jog = 0.0f;
    p.fader = 1.0f;
    p.depth = 0.5f;
    p.dry = 0.0f;
    p.sampleRate = sampleRate;
    return p;
}

Scratcher preparedWith(const Scratcher::Parameters& p, int channels)
{
    Scratcher s;
    s.prepare(p.sampleRate, channels);
    s.updateParameters(p);
    return s;
}

// Runs the whole buffer through the stage in blocks of blockSize samples.
void runInBlocks(Scratcher& s, juce::AudioBuffer<float>& buffer, int blockSize)
{
    for (int start = 0; start < buffer.getNumSamples(); start += blockSize)
    {
        const int len = juce::jmin(blockSize, buffer.getNumSamples() - start);
        juce::AudioBuffer<float> block(buffer.getArrayOfWritePointers(), buffer.getNumChannels(),
                                       start, len);
        s.process(block);
    }
}

// A distinct, non-zero value for every sample and channel.
float testInput(int ch, int k)
{
    return 0.25f + 0.5f * std::sin(0.01f * (float)k + 1.3f * (float)ch);
}

juce::AudioBuffer<float> testBuffer(int channels, int samples)
{
    juce::AudioBuffer<float> b(channels, samples);
    for (int ch = 0; ch < channels; ++ch)
        for (int k = 0; k < samples; ++k)
            b.setSample(ch, k, testInput(ch, k));
    return b;
}

float wrapIntoRing(double position, int ringLength)
{
    double r = std::fmod(position, (double)ringLength);
    return (float)(r < 0.0 ? r + ringLength : r);
}

// At 1024 Hz and 240 bpm one bar is exactly 1024 samples, so the phase steps are exact.
constexpr double exactRate = 1024.0;
constexpr double exactBpm = 240.0;
constexpr int exactPeriod = 1024;
} // namespace

// ---------------------------------------------------------------------------
// Pattern period

struct PeriodCase
{
    float bars;
    double bpm;
    double sampleRate;
    float expectedSamples;
};

class ScratcherPeriod : public ::testing::TestWithParam<PeriodCase>
{
};

TEST_P(ScratcherPeriod, IsBarsOfFourBeatsAtTheTempo)
{
    const auto c = GetParam();
    auto p = switchedOn(c.sampleRate, patternMode, baby);
    p.bars = c.bars;
    p.bpm = c.bpm;
    Scratcher s = preparedWith(p, 2);
    EXPECT_FLOAT_EQ(s.periodSamples, c.expectedSamples);
}

INSTANTIATE_TEST_SUITE_P(
    Bars, ScratcherPeriod,
    ::testing::Values(PeriodCase{0.0f, 120.0, 48000.0, 48000.0f},   // "1/2"
                      PeriodCase{1.0f, 120.0, 48000.0, 96000.0f},   // "1 Bar"
                      PeriodCase{2.0f, 120.0, 48000.0, 192000.0f},  // "2 Bars"
                      PeriodCase{3.0f, 120.0, 48000.0, 384000.0f},  // "4 Bars"
                      PeriodCase{4.0f, 120.0, 48000.0, 384000.0f},  // above the list
                      PeriodCase{11.0f, 120.0, 48000.0, 384000.0f}, // far above the list
                      PeriodCase{0.9f, 120.0, 48000.0, 48000.0f},   // truncated to "1/2"
                      PeriodCase{1.0f, 90.0, 44100.0, 117600.0f},
                      PeriodCase{0.0f, 1.0e9, 48000.0, 1.0f})); // never below one sample

struct SignatureCase
{
    int numerator;
    int denominator;
};

class ScratcherPeriodInHost : public ::testing::TestWithParam<SignatureCase>
{
};

TEST_P(ScratcherPeriodInHost, IgnoresTheTimeSignature)
{
    struct FixedPlayHead : juce::AudioPlayHead
    {
        SignatureCase signature{};
        juce::Optional<PositionInfo> getPosition() const override
        {
            PositionInfo info;
            info.setBpm(120.0);
            info.setTimeSignature(TimeSignature{signature.numerator, signature.denominator});
            return info;
        }
    };

    FixedPlayHead head;
    head.signature = GetParam();
    LumiroLooperProcessor processor;
    processor.setPlayHead(&head);
    processor.prepareToPlay(48000.0, 64);

    juce::AudioBuffer<float> buffer(2, 64);
    buffer.clear();
    juce::MidiBuffer midi;
    processor.processBlock(buffer, midi);

    // Default "Scratch Bars" is "1 Bar": four beats at 120 bpm.
    EXPECT_FLOAT_EQ(processor.scratcher.periodSamples, 96000.0f);
    processor.setPlayHead(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Signatures, ScratcherPeriodInHost,
                         ::testing::Values(SignatureCase{4, 4}, SignatureCase{3, 4},
                                           SignatureCase{7, 8}, SignatureCase{2, 2}));

// ---------------------------------------------------------------------------
// Head with no motion

struct DelayCase
{
    double sampleRate;
    int channels;
    int blockSize;
    int expectedRingLength;
};

class ScratcherPlayThrough : public ::testing::TestWithParam<DelayCase>
{
};

TEST_P(ScratcherPlayThrough, IsSilentThenTheInputDelayedByRingLengthMinusOne)
{
    const auto c = GetParam();
    Scratcher s = preparedWith(switchedOn(c.sampleRate, playThrough, manual), c.channels);
    ASSERT_EQ(s.captureLength, c.expectedRingLength);

    const int delay = c.expectedRingLength - 1;
    const int length = 2 * c.expectedRingLength + 100;
    auto buffer = testBuffer(c.channels, length);
    runInBlocks(s, buffer, c.blockSize);

    for (int ch = 0; ch < c.channels; ++ch)
        for (int k = 0; k < length; ++k)
        {
            const float expected = k < delay ? 0.0f : testInput(ch, k - delay);
            ASSERT_EQ(buffer.getSample(ch, k), expected) << "channel " << ch << " sample " << k;
        }
}

INSTANTIATE_TEST_SUITE_P(Rates, ScratcherPlayThrough,
                         ::testing::Values(DelayCase{100.0, 1, 1, 600},
                                           DelayCase{1000.0, 2, 64, 6000},
                                           DelayCase{1234.5, 2, 37, 7407}));

struct HoldCase
{
    float mode;
    float pattern;
};

class ScratcherStandingHead : public ::testing::TestWithParam<HoldCase>
{
};

TEST_P(ScratcherStandingHead, HoldsRingIndexZeroUntilTheCaptureRewritesIt)
{
    const auto c = GetParam();
    Scratcher s = preparedWith(switchedOn(100.0, c.mode, c.pattern), 2);
    const int ring = s.captureLength;

    const int length = 3 * ring + 10;
    auto buffer = testBuffer(2, length);
    runInBlocks(s, buffer, 50);

    for (int ch = 0; ch < 2; ++ch)
        for (int k = 0; k < length; ++k)
            ASSERT_EQ(buffer.getSample(ch, k), testInput(ch, (k / ring) * ring))
                << "channel " << ch << " sample " << k;
}

INSTANTIATE_TEST_SUITE_P(ModesAndManual, ScratcherStandingHead,
                         ::testing::Values(HoldCase{live, manual}, HoldCase{patternMode, manual},
                                           HoldCase{7.0f, manual},  // unknown mode: no speed
                                           HoldCase{live, -3.0f})); // below the list: manual

// ---------------------------------------------------------------------------
// Jog

struct JogCase
{
    float mode;
    float jog;
    float depth;
};

class ScratcherJog : public ::testing::TestWithParam<JogCase>
{
};

TEST_P(ScratcherJog, MovesBySpeedAndOnceByTheDisplacement)
{
    const auto c = GetParam();
    auto p = switchedOn(1000.0, c.mode, manual);
    Scratcher s = preparedWith(p, 1);
    const int ring = s.captureLength;
    const double base = c.mode == playThrough ? 1.0 : 0.0;
    const double speed = (double)c.jog * c.depth;
    const double displacement = speed * 0.05 * 1000.0;

    auto run = [&](int samples)
    {
        auto buffer = testBuffer(1, samples);
        s.process(buffer);
    };

    run(100);
    EXPECT_NEAR(s.readPosition, wrapIntoRing(base * 100, ring), 1e-3);

    p.jog = c.jog;
    p.depth = c.depth;
    s.updateParameters(p);
    run(1);
    EXPECT_NEAR(s.readPosition, wrapIntoRing(base * 101 + speed + displacement, ring), 1e-3);

    run(200);
    EXPECT_NEAR(s.readPosition, wrapIntoRing(base * 301 + speed * 201 + displacement, ring), 1e-3);

    // Letting go of the jog takes the displacement back.
    p.jog = 0.0f;
    s.updateParameters(p);
    run(10);
    EXPECT_NEAR(s.readPosition, wrapIntoRing(base * 311 + speed * 201, ring), 1e-3);
}

INSTANTIATE_TEST_SUITE_P(
    Steady, ScratcherJog,
    ::testing::Values(JogCase{playThrough, 0.5f, 0.5f}, JogCase{live, 0.5f, 0.5f},
                      JogCase{live, -0.5f, 0.5f},        // backwards, across the ring's start
                      JogCase{playThrough, -1.0f, 1.0f}, // platter held still
                      JogCase{patternMode, 1.0f, 0.25f}));

// ---------------------------------------------------------------------------
// Patterns

struct GateCase
{
    float pattern;
    float (*gate)(int phaseIndex); // expected gate at phase phaseIndex / 1024
};

class ScratcherGate : public ::testing::TestWithParam<GateCase>
{
};

TEST_P(ScratcherGate, FaderFollowsThePatternGate)
{
    const auto c = GetParam();
    auto p = switchedOn(exactRate, live, c.pattern);
    p.bpm = exactBpm;
    p.depth = 0.0f; // head stays on index 0, which holds the constant input
    Scratcher s = preparedWith(p, 1);

    const int length = 3 * exactPeriod;
    juce::AudioBuffer<float> buffer(1, length);
    for (int k = 0; k < length; ++k)
        buffer.setSample(0, k, 1.0f);
    runInBlocks(s, buffer, 100);

    float level = 1.0f;
    for (int k = 0; k < length; ++k)
    {
        level += (c.gate((k + 1) % exactPeriod) - level) * 0.02f;
        ASSERT_NEAR(buffer.getSample(0, k), level, 1e-6f) << "sample " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, ScratcherGate,
    ::testing::Values(
        // Open for the first half of the period, shut for the second.
        GateCase{chirp, [](int i) { return i < exactPeriod / 2 ? 1.0f : 0.0f; }},
        // Eight segments, starting open.
        GateCase{transformer, [](int i) { return (i / 128) % 2 == 0 ? 1.0f : 0.0f; }},
        // Sixteen segments, each at 0.1 in its second half.
        GateCase{flare, [](int i) { return i % 64 < 32 ? 1.0f : 0.1f; }},
        GateCase{baby, [](int) { return 1.0f; }}, GateCase{scribble, [](int) { return 1.0f; }}));

struct MotionCase
{
    float pattern;
    int cyclesPerPeriod;
    float swing;
};

class ScratcherMotion : public ::testing::TestWithParam<MotionCase>
{
};

TEST_P(ScratcherMotion, HasItsCyclesAndSwingPerPeriod)
{
    const auto c = GetParam();
    auto p = switchedOn(exactRate, live, c.pattern);
    p.bpm = exactBpm;
    p.depth = 1.0f;
    Scratcher s = preparedWith(p, 1);
    const float jogScale = (float)(0.05 * exactRate);

    // previousOffset is the motion of the last sample times the 50 ms scale.
    int fallingCrossings = 0;
    float previous = 0.0f, largest = 0.0f;
    juce::AudioBuffer<float> one(1, 1);
    for (int k = 0; k < 2 * exactPeriod; ++k)
    {
        one.setSample(0, 0, 0.0f);
        s.process(one);
        const float motion = s.previousOffset / jogScale;
        if (previous > 0.0f && motion <= 0.0f)
            ++fallingCrossings;
        largest = std::max(largest, std::abs(motion));
        previous = motion;
    }

    EXPECT_EQ(fallingCrossings, 2 * c.cyclesPerPeriod);
    EXPECT_NEAR(largest, c.swing, 2e-3f);
}

INSTANTIATE_TEST_SUITE_P(Patterns, ScratcherMotion,
                         ::testing::Values(MotionCase{baby, 1, 0.8f},
                                           MotionCase{chirp, 1, 0.9f}, // in the first half only
                                           MotionCase{transformer, 1, 0.7f},
                                           MotionCase{flare, 1, 0.85f},
                                           MotionCase{scribble, 6, 0.6f},
                                           MotionCase{6.0f, 6, 0.6f}, // above the list
                                           MotionCase{40.0f, 6, 0.6f}));

struct ChirpCase
{
    float mode;
    float travelPerSample;
};

class ScratcherChirp : public ::testing::TestWithParam<ChirpCase>
{
};

TEST_P(ScratcherChirp, HeadMovesOnlyByPlatterSpeedWhileShut)
{
    const auto c = GetParam();
    auto p = switchedOn(exactRate, c.mode, chirp);
    p.bpm = exactBpm;
    p.depth = 1.0f;
    Scratcher s = preparedWith(p, 1);

    std::vector<float> position;
    juce::AudioBuffer<float> one(1, 1);
    for (int k = 0; k < exactPeriod; ++k)
    {
        one.setSample(0, 0, 0.5f);
        s.process(one);
        position.push_back(s.readPosition);
    }

    // From sample 511 on the phase is at or past the middle: no motion, fader shut.
    const int first = exactPeriod / 2 - 1, last = exactPeriod - 2;
    EXPECT_FLOAT_EQ(position[(size_t)last] - position[(size_t)first],
                    c.travelPerSample * (float)(last - first));
    EXPECT_NE(position[(size_t)first - 100], position[(size_t)first - 99]);
}

INSTANTIATE_TEST_SUITE_P(Modes, ScratcherChirp,
                         ::testing::Values(ChirpCase{live, 0.0f}, ChirpCase{patternMode, 0.0f},
                                           ChirpCase{playThrough, 1.0f}));

// ---------------------------------------------------------------------------
// Output mix and channels

class ScratcherDry : public ::testing::TestWithParam<float>
{
};

TEST_P(ScratcherDry, FullDryWithShutFaderSettlesToTheInput)
{
    auto p = switchedOn(1000.0, GetParam(), manual);
    p.dry = 1.0f;
    p.fader = 0.0f;
    Scratcher s = preparedWith(p, 2);

    const int length = 3000;
    auto buffer = testBuffer(2, length);
    runInBlocks(s, buffer, 128);

    for (int ch = 0; ch < 2; ++ch)
        for (int k = 1500; k < length; ++k)
            ASSERT_NEAR(buffer.getSample(ch, k), testInput(ch, k), 1e-6f) << "sample " << k;
    EXPECT_NEAR(s.faderLevel, 0.0f, 1e-9f);
}

INSTANTIATE_TEST_SUITE_P(Modes, ScratcherDry, ::testing::Values(playThrough, live, patternMode));

struct ChannelCase
{
    int prepared;
    int inBuffer;
};

class ScratcherChannels : public ::testing::TestWithParam<ChannelCase>
{
};

TEST_P(ScratcherChannels, ProcessesOnlyPreparedChannelsPresentInTheBlock)
{
    const auto c = GetParam();
    Scratcher s = preparedWith(switchedOn(100.0, playThrough, manual), c.prepared);

    const int length = 50;
    auto buffer = testBuffer(c.inBuffer, length);
    s.process(buffer);

    // Every block advances the capture, even one without channels.
    EXPECT_EQ(s.writePosition, length);
    for (int ch = 0; ch < c.inBuffer; ++ch)
        for (int k = 0; k < length; ++k)
        {
            // Play-through is still silent this early on processed channels.
            const float expected = ch < c.prepared ? 0.0f : testInput(ch, k);
            ASSERT_EQ(buffer.getSample(ch, k), expected) << "channel " << ch << " sample " << k;
        }
    // Rings of channels missing from the block are not written.
    for (int ch = c.inBuffer; ch < c.prepared; ++ch)
        for (float v : s.captures[(size_t)ch])
            ASSERT_EQ(v, 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Counts, ScratcherChannels,
                         ::testing::Values(ChannelCase{2, 3}, ChannelCase{1, 2}, ChannelCase{2, 1},
                                           ChannelCase{2, 0}));

// ---------------------------------------------------------------------------
// Lifecycle

TEST(ScratcherLifecycle, SwitchedOffOrEmptyBlocksChangeNothing)
{
    auto p = switchedOn(1000.0, patternMode, baby);
    Scratcher s = preparedWith(p, 2);
    auto warmUp = testBuffer(2, 777);
    s.process(warmUp);

    const int write = s.writePosition;
    const float read = s.readPosition, phase = s.patternPhase, level = s.faderLevel;
    auto unchanged = [&]
    {
        EXPECT_EQ(s.writePosition, write);
        EXPECT_EQ(s.readPosition, read);
        EXPECT_EQ(s.patternPhase, phase);
        EXPECT_EQ(s.faderLevel, level);
    };

    juce::AudioBuffer<float> empty(2, 0);
    s.process(empty);
    unchanged();

    p.on = 0.0f;
    s.updateParameters(p);
    auto buffer = testBuffer(2, 300);
    s.process(buffer);
    unchanged();
    for (int k = 0; k < 300; ++k)
        ASSERT_EQ(buffer.getSample(0, k), testInput(0, k));

    // Switching on again resumes from where it stood.
    p.on = 1.0f;
    s.updateParameters(p);
    s.process(buffer);
    EXPECT_EQ(s.writePosition, write + 300);
}

TEST(ScratcherLifecycle, PrepareResetsPositionsAndClearsTheRings)
{
    Scratcher s = preparedWith(switchedOn(1000.0, playThrough, flare), 2);
    auto buffer = testBuffer(2, 2000);
    s.process(buffer);

    s.prepare(500.0, 1);
    EXPECT_EQ(s.captureLength, 3000);
    ASSERT_EQ(s.captures.size(), 1u);
    EXPECT_EQ(s.captures[0].size(), 3000u);
    for (float v : s.captures[0])
        ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(s.writePosition, 0);
    EXPECT_EQ(s.readPosition, 0.0f);
    EXPECT_EQ(s.previousOffset, 0.0f);
    EXPECT_EQ(s.patternPhase, 0.0f);
    EXPECT_EQ(s.faderLevel, 1.0f);
}

// ---------------------------------------------------------------------------
// Read head at the ring's end

TEST(ScratcherRingEnd, PositionRoundedOntoTheEndReadsIndexZero)
{
    // At 48 kHz the ring is 288000 samples, where a float step is 1/32: a position a
    // hair below zero wraps to exactly the ring length.
    Scratcher s = preparedWith(switchedOn(48000.0, live, manual), 1);
    s.previousOffset = 1.0e-4f; // the jog just came back from a hair forward

    juce::AudioBuffer<float> one(1, 1);
    one.setSample(0, 0, 0.75f);
    s.process(one);
    EXPECT_EQ(s.readPosition, 288000.0f);
    EXPECT_EQ(one.getSample(0, 0), 0.75f);

    one.setSample(0, 0, 0.5f);
    s.process(one);
    EXPECT_EQ(s.readPosition, 0.0f);
    EXPECT_EQ(one.getSample(0, 0), 0.75f);
}

class ScratcherWildJog : public ::testing::TestWithParam<float>
{
};

TEST_P(ScratcherWildJog, KeepsTheHeadInsideTheRing)
{
    auto p = switchedOn(1000.0, live, manual);
    p.jog = GetParam();
    p.depth = 1.0f;
    Scratcher s = preparedWith(p, 1);

    juce::AudioBuffer<float> one(1, 1);
    for (int k = 0; k < 5; ++k)
    {
        one.setSample(0, 0, 0.5f);
        s.process(one);
        EXPECT_GE(s.readPosition, 0.0f);
        EXPECT_LE(s.readPosition, (float)s.captureLength);
        EXPECT_TRUE(std::isfinite(one.getSample(0, 0)));
    }
}

INSTANTIATE_TEST_SUITE_P(BeyondRange, ScratcherWildJog,
                         ::testing::Values(1000.0f, -1000.0f, 1.0e30f,
                                           std::numeric_limits<float>::infinity()));
