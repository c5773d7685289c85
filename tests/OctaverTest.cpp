#include <gtest/gtest.h>

#include "dsp/Octaver.h"

#include <cmath>
#include <vector>

namespace
{
constexpr double kRate = 48000.0;
constexpr double kTwoPi = 6.283185307179586;

std::vector<float> sine(double freq, float amp, int n, double phase = 0.0)
{
    std::vector<float> s((size_t)n);
    for (int i = 0; i < n; ++i)
        s[(size_t)i] = amp * (float)std::sin(kTwoPi * freq * i / kRate + phase);
    return s;
}

// Magnitude of the DFT of x[start, start + len) at freq.
double dftMagnitude(const std::vector<float>& x, int start, int len, double freq)
{
    double re = 0.0, im = 0.0;
    for (int i = 0; i < len; ++i)
    {
        const double w = kTwoPi * freq * i / kRate;
        re += x[(size_t)(start + i)] * std::cos(w);
        im += x[(size_t)(start + i)] * std::sin(w);
    }
    return std::sqrt(re * re + im * im);
}

double rms(const std::vector<float>& x, int start, int len)
{
    double sum = 0.0;
    for (int i = start; i < start + len; ++i)
        sum += (double)x[(size_t)i] * x[(size_t)i];
    return std::sqrt(sum / len);
}

// Coefficient of a one-pole low-pass with the given corner.
double onePole(double cornerHz, double rate)
{
    return 1.0 - std::exp(-kTwoPi * cornerHz / rate);
}

struct SignalState
{
    float envelope, inputLowPass, flipSign;
    int flipLatched;
    float subSignal, toneLowPass;

    bool operator==(const SignalState& o) const
    {
        return envelope == o.envelope && inputLowPass == o.inputLowPass && flipSign == o.flipSign &&
               flipLatched == o.flipLatched && subSignal == o.subSignal &&
               toneLowPass == o.toneLowPass;
    }
};

SignalState stateOf(const Octaver& o)
{
    return {o.envelope, o.inputLowPass, o.flipSign, o.flipLatched, o.subSignal, o.toneLowPass};
}

juce::AudioBuffer<float> bufferOf(const std::vector<std::vector<float>>& channels)
{
    juce::AudioBuffer<float> b((int)channels.size(), (int)channels[0].size());
    for (int ch = 0; ch < b.getNumChannels(); ++ch)
        for (int i = 0; i < b.getNumSamples(); ++i)
            b.setSample(ch, i, channels[(size_t)ch][(size_t)i]);
    return b;
}

std::vector<float> channelOf(const juce::AudioBuffer<float>& b, int ch)
{
    return {b.getReadPointer(ch), b.getReadPointer(ch) + b.getNumSamples()};
}

class OctaverTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        octaver.prepare(kRate, 2);
        params.on = 1.0f;
        params.range = 1.0f; // "Mid"
        params.dry = 0.0f;
    }

    // Runs a mono signal through the stage in blocks; returns the output.
    std::vector<float> run(const std::vector<float>& input, int blockSize = 256)
    {
        octaver.updateParameters(params);
        std::vector<float> out(input);
        for (size_t pos = 0; pos < out.size(); pos += (size_t)blockSize)
        {
            const int n = (int)std::min<size_t>((size_t)blockSize, out.size() - pos);
            float* chans[] = {out.data() + pos};
            juce::AudioBuffer<float> block(chans, 1, n);
            octaver.process(block);
        }
        return out;
    }

    Octaver octaver;
    Octaver::Parameters params;
};
} // namespace

// ---- Per-block and prepared coefficients ---------------------------------

TEST(OctaverCoefficients, EnvelopeTimesAreThreeAndSixtyMilliseconds)
{
    for (double rate : {44100.0, 48000.0, 96000.0})
    {
        Octaver o;
        o.prepare(rate, 2);
        EXPECT_NEAR(-1.0 / std::log((double)o.attack) / rate, 0.003, 1e-7) << rate;
        EXPECT_NEAR(-1.0 / std::log((double)o.release) / rate, 0.06, 1e-5) << rate;
    }
}

TEST(OctaverCoefficients, RangeIndexSelectsDetectorCorner)
{
    struct Case
    {
        float raw;
        double cornerHz;
    };
    const Case cases[] = {{0.0f, 120.0},  {0.9f, 120.0}, {-0.5f, 120.0}, {1.0f, 260.0},
                          {1.7f, 260.0},  {2.0f, 520.0}, {2.99f, 520.0}, {3.0f, 520.0},
                          {-1.0f, 520.0}, {17.0f, 520.0}};
    for (double rate : {44100.0, 48000.0})
    {
        Octaver o;
        o.prepare(rate, 2);
        for (const auto& c : cases)
        {
            Octaver::Parameters p;
            p.range = c.raw;
            o.updateParameters(p);
            EXPECT_NEAR(o.inputCoeff, onePole(c.cornerHz, rate), 1e-6)
                << "range " << c.raw << " at " << rate;
        }
    }
}

TEST(OctaverCoefficients, ToneGateAndSensitivityMapping)
{
    struct Case
    {
        float tone, gateDb, sens;
        double toneCornerHz, threshold, hysteresis;
    };
    const Case cases[] = {
        {0.0f, -55.0f, 0.0f, 140.0, 0.0017782794, 0.022},
        {1.0f, -20.0f, 1.0f, 1800.0, 0.1, 0.002},
        {0.5f, -80.0f, 0.5f, 555.0, 0.0001, 0.012},
        {0.45f, -40.0f, 0.25f, 476.15, 0.01, 0.017},
    };
    Octaver o;
    o.prepare(kRate, 2);
    for (const auto& c : cases)
    {
        Octaver::Parameters p;
        p.tone = c.tone;
        p.gate = c.gateDb;
        p.sens = c.sens;
        p.level = 0.3f;
        p.dry = 0.7f;
        p.on = 1.0f;
        o.updateParameters(p);
        EXPECT_NEAR(o.toneCoeff, onePole(c.toneCornerHz, kRate), 1e-6) << c.tone;
        EXPECT_NEAR(o.gateThreshold, c.threshold, c.threshold * 1e-5) << c.gateDb;
        EXPECT_NEAR(o.hysteresis, c.hysteresis, 1e-7) << c.sens;
        EXPECT_EQ(o.tone, c.tone);
        EXPECT_EQ(o.level, 0.3f);
        EXPECT_EQ(o.dry, 0.7f);
        EXPECT_TRUE(o.enabled);
    }
}

TEST(OctaverCoefficients, SwitchIsOnAboveHalf)
{
    Octaver o;
    for (auto [raw, on] : {std::pair{0.0f, false}, {0.5f, false}, {0.51f, true}, {1.0f, true}})
    {
        Octaver::Parameters p;
        p.on = raw;
        o.updateParameters(p);
        EXPECT_EQ(o.enabled, on) << raw;
    }
}

// ---- Switching, pass-through and reset ------------------------------------

TEST_F(OctaverTest, SwitchedOffLeavesBlockAndStateFrozenThenResumes)
{
    run(sine(200.0, 0.5f, 4800));
    const SignalState frozen = stateOf(octaver);
    ASSERT_NE(frozen.subSignal, 0.0f);

    params.on = 0.0f;
    params.range = 0.0f;
    octaver.updateParameters(params);
    EXPECT_NEAR(octaver.inputCoeff, onePole(120.0, kRate), 1e-6); // still updated while off

    auto in = bufferOf({sine(200.0, 0.5f, 512), sine(300.0, 0.2f, 512)});
    auto block = in;
    octaver.process(block);
    for (int ch = 0; ch < 2; ++ch)
        EXPECT_EQ(channelOf(block, ch), channelOf(in, ch));
    EXPECT_TRUE(stateOf(octaver) == frozen);

    // Switched back on, it carries on exactly as a stage that never stopped.
    params.on = 1.0f;
    params.range = 1.0f;
    const auto next = sine(150.0, 0.3f, 960);
    const auto resumed = run(next);

    Octaver uninterrupted;
    uninterrupted.prepare(kRate, 2);
    std::swap(octaver, uninterrupted);
    run(sine(200.0, 0.5f, 4800));
    EXPECT_EQ(run(next), resumed);
}

TEST_F(OctaverTest, LevelZeroWithFullDryPassesInputExactly)
{
    params.level = 0.0f;
    params.dry = 1.0f;
    octaver.updateParameters(params);
    auto in = bufferOf({sine(200.0, 0.7f, 4096), sine(110.0, 0.3f, 4096, 1.0)});
    auto block = in;
    octaver.process(block);
    for (int ch = 0; ch < 2; ++ch)
        EXPECT_EQ(channelOf(block, ch), channelOf(in, ch));
    EXPECT_NE(octaver.subSignal, 0.0f); // the detector still ran
}

TEST_F(OctaverTest, PrepareResetsSignalState)
{
    run(sine(200.0, 0.5f, 3000));
    ASSERT_NE(octaver.envelope, 0.0f);
    octaver.prepare(44100.0, 1);
    EXPECT_TRUE(stateOf(octaver) == (SignalState{0.0f, 0.0f, 1.0f, 0, 0.0f, 0.0f}));
    EXPECT_EQ(octaver.sampleRate, 44100.0);
    EXPECT_EQ(octaver.numChannels, 1);
}

TEST_F(OctaverTest, EmptyBlocksChangeNothing)
{
    run(sine(200.0, 0.5f, 1000));
    const SignalState before = stateOf(octaver);

    juce::AudioBuffer<float> noSamples(2, 0);
    octaver.process(noSamples);
    juce::AudioBuffer<float> noChannels(0, 64);
    octaver.process(noChannels);
    EXPECT_TRUE(stateOf(octaver) == before);
}

// ---- The sub-octave -------------------------------------------------------

TEST_F(OctaverTest, TwoHundredHertzSineGivesHundredHertzSub)
{
    const int n = 48000;
    const int start = 9600;    // skip the first 200 ms of settling
    const int len = n - start; // 0.8 s: bins at multiples of 1.25 Hz are orthogonal

    // The flip-flop toggles once per input cycle.
    octaver.updateParameters(params);
    const auto in = sine(200.0, 0.5f, n);
    std::vector<float> wet(in);
    int flips = 0;
    for (int i = 0; i < n; ++i)
    {
        const float before = octaver.flipSign;
        float* chan[] = {wet.data() + i};
        juce::AudioBuffer<float> one(chan, 1, 1);
        octaver.process(one);
        flips += octaver.flipSign != before ? 1 : 0;
    }
    EXPECT_EQ(flips, 200);

    int crossings = 0;
    for (int i = start + 1; i < n; ++i)
        crossings += (wet[(size_t)i - 1] < 0.0f) != (wet[(size_t)i] < 0.0f) ? 1 : 0;
    EXPECT_NEAR(crossings, 160, 1); // 100 Hz: two crossings per period

    double bestFreq = 0.0, bestMag = 0.0;
    for (double f = 25.0; f <= 1000.0; f += 12.5)
    {
        const double m = dftMagnitude(wet, start, len, f);
        if (m > bestMag)
        {
            bestMag = m;
            bestFreq = f;
        }
    }
    EXPECT_EQ(bestFreq, 100.0);
    EXPECT_LT(dftMagnitude(wet, start, len, 200.0), 0.05 * bestMag); // a square: no even harmonic
    EXPECT_LT(dftMagnitude(wet, start, len, 300.0), 0.5 * bestMag);
}

TEST_F(OctaverTest, SubAmplitudeFollowsTheEnvelope)
{
    // Loud, then a quarter as loud: the sub follows down by the same ratio.
    auto in = sine(200.0, 0.6f, 24000);
    const auto quiet = sine(200.0, 0.15f, 24000);
    in.insert(in.end(), quiet.begin(), quiet.end());
    const auto wet = run(in);

    const double loudRms = rms(wet, 9600, 14400);
    const double quietRms = rms(wet, 24000 + 14400, 9600);
    EXPECT_GT(loudRms, 0.1);
    EXPECT_NEAR(quietRms / loudRms, 0.25, 0.01);
}

TEST_F(OctaverTest, BelowHysteresisNeverTogglesAndGivesDcOffset)
{
    params.sens = 0.0f; // hysteresis 0.022
    params.gate = -80.0f;
    params.level = 0.8f;
    octaver.updateParameters(params);

    // 0.02 peak, and the "Mid" low-pass only lowers it further.
    auto wet = sine(200.0, 0.02f, 24000);
    double envelopeSum = 0.0, wetSum = 0.0;
    for (size_t i = 0; i < wet.size(); ++i)
    {
        float* chan[] = {wet.data() + i};
        juce::AudioBuffer<float> one(chan, 1, 1);
        octaver.process(one);
        ASSERT_EQ(octaver.flipSign, 1.0f) << i;
        ASSERT_EQ(octaver.flipLatched, 0) << i;
        if (i >= 19200)
        {
            envelopeSum += octaver.envelope;
            wetSum += wet[i];
            EXPECT_GT(wet[i], 0.0f) << i;
        }
    }
    // envelope x flipSign x 2 x level, after smoothing.
    EXPECT_NEAR(wetSum / envelopeSum, 2.0 * 0.8, 0.02);
}

TEST_F(OctaverTest, ClosingGateDecaysSmoothlyToSilence)
{
    params.gate = -40.0f; // 0.01
    params.tone = 1.0f;   // wet is the smoothed sub itself
    params.level = 0.5f;
    octaver.updateParameters(params);

    auto wet = sine(200.0, 0.5f, 14400);
    wet.resize(14400 + 24000, 0.0f);
    std::vector<float> sub(wet.size());
    int closedAt = -1;
    for (size_t i = 0; i < wet.size(); ++i)
    {
        float* chan[] = {wet.data() + i};
        juce::AudioBuffer<float> one(chan, 1, 1);
        octaver.process(one);
        sub[i] = octaver.subSignal;
        if (closedAt < 0 && i > 14400 && octaver.envelope <= octaver.gateThreshold)
            closedAt = (int)i;
    }
    ASSERT_GT(closedAt, 14400);
    const float atClose = std::abs(sub[(size_t)closedAt - 1]);
    ASSERT_GT(atClose, 0.005f);

    // After the gate closes the sub shrinks by the fixed 0.01 step each sample.
    for (size_t i = (size_t)closedAt; i < (size_t)closedAt + 480; ++i)
    {
        EXPECT_LT(std::abs(sub[i]), std::abs(sub[i - 1])) << i;
        EXPECT_NEAR(std::abs(sub[i]), 0.99f * std::abs(sub[i - 1]), 1e-7f) << i;
    }
    EXPECT_GT(std::abs(wet[(size_t)closedAt + 48]), 0.5f * std::abs(wet[(size_t)closedAt - 1]));
    EXPECT_LT(std::abs(wet.back()), 1e-9f);
}

TEST_F(OctaverTest, HighGateAgainstQuieterInputGivesNoSub)
{
    params.gate = -20.0f; // 0.1
    params.dry = 1.0f;
    octaver.updateParameters(params);
    auto in = bufferOf({sine(200.0, 0.09f, 9600), sine(200.0, 0.09f, 9600, 0.3)});
    auto block = in;
    octaver.process(block);
    for (int ch = 0; ch < 2; ++ch)
        EXPECT_EQ(channelOf(block, ch), channelOf(in, ch));
    EXPECT_EQ(octaver.subSignal, 0.0f);
    EXPECT_GT(octaver.envelope, 0.05f);
}

// ---- Channels -------------------------------------------------------------

TEST_F(OctaverTest, MonoDetectsOnChannelZeroAlone)
{
    octaver.prepare(kRate, 1);
    params.dry = 0.5f;
    octaver.updateParameters(params);
    const auto left = sine(200.0, 0.5f, 4800);
    auto in = bufferOf({left, sine(330.0, 0.8f, 4800)});
    auto block = in;
    octaver.process(block);

    Octaver reference;
    reference.prepare(kRate, 1);
    reference.updateParameters(params);
    auto alone = bufferOf({left});
    reference.process(alone);

    EXPECT_EQ(channelOf(block, 0), channelOf(alone, 0));
    EXPECT_EQ(channelOf(block, 1), channelOf(in, 1)); // beyond the prepared channels
}

TEST_F(OctaverTest, StereoDetectsOnTheAverageAndAddsTheSameSubToBoth)
{
    params.dry = 0.5f;
    octaver.updateParameters(params);
    const int n = 4800;
    const auto left = sine(200.0, 0.6f, n);
    const auto right = sine(200.0, 0.2f, n, 0.7);
    const auto third = sine(50.0, 0.9f, n);
    auto in = bufferOf({left, right, third});
    auto block = in;
    octaver.process(block);

    // The sub alone, from a mono stage fed the average of the first two channels.
    std::vector<float> average((size_t)n);
    for (size_t i = 0; i < average.size(); ++i)
        average[i] = (left[i] + right[i]) * 0.5f;
    Octaver reference;
    reference.prepare(kRate, 1);
    auto refParams = params;
    refParams.dry = 0.0f;
    reference.updateParameters(refParams);
    auto wet = bufferOf({average});
    reference.process(wet);

    for (size_t i = 0; i < (size_t)n; ++i)
    {
        ASSERT_EQ(block.getSample(0, (int)i), left[i] * 0.5f + wet.getSample(0, (int)i)) << i;
        ASSERT_EQ(block.getSample(1, (int)i), right[i] * 0.5f + wet.getSample(0, (int)i)) << i;
    }
    EXPECT_EQ(channelOf(block, 2), third); // never averaged, never touched
    EXPECT_GT(rms(channelOf(wet, 0), 2400, 2400), 0.05);
}
