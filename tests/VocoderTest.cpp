#include "dsp/Vocoder.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <complex>
#include <vector>

namespace
{
constexpr double rate = 48000.0;

Vocoder::Parameters onParams()
{
    Vocoder::Parameters p;
    p.on = 1.0f;
    return p;
}

Vocoder makeVocoder(int channels, const Vocoder::Parameters& p = onParams(), double sr = rate)
{
    Vocoder v;
    v.prepare(sr, channels);
    v.updateParameters(p);
    return v;
}

// Deterministic, channel-distinct test signal: noise plus a tone per channel.
juce::AudioBuffer<float> makeSignal(int channels, int samples, int seed = 7)
{
    juce::AudioBuffer<float> b(channels, samples);
    juce::Random random(seed);
    for (int ch = 0; ch < channels; ++ch)
        for (int i = 0; i < samples; ++i)
            b.setSample(ch, i,
                        0.4f * std::sin(6.2831853f * (200.0f + 90.0f * (float)ch) * (float)i /
                                        (float)rate) +
                            0.2f * (random.nextFloat() * 2.0f - 1.0f));
    return b;
}

juce::AudioBuffer<float> makeSine(float hz, int samples, float amplitude = 0.5f, double sr = rate)
{
    juce::AudioBuffer<float> b(1, samples);
    for (int i = 0; i < samples; ++i)
        b.setSample(0, i, amplitude * (float)std::sin(2.0 * M_PI * hz * i / sr));
    return b;
}

void expectSameChannel(const juce::AudioBuffer<float>& a, int chA,
                       const juce::AudioBuffer<float>& b, int chB)
{
    ASSERT_EQ(a.getNumSamples(), b.getNumSamples());
    for (int i = 0; i < a.getNumSamples(); ++i)
        ASSERT_EQ(a.getSample(chA, i), b.getSample(chB, i)) << "sample " << i;
}
} // namespace

// ---------------------------------------------------------------------------
// Filter bank design

TEST(VocoderBank, CentreFrequenciesFollowTheTable)
{
    const float expected[Vocoder::numBands] = {180.00f,  237.19f,  312.54f,  411.84f,  542.68f,
                                               715.10f,  942.29f,  1241.66f, 1636.14f, 2155.95f,
                                               2840.91f, 3743.49f, 4932.82f, 6500.00f};
    for (int k = 0; k < Vocoder::numBands; ++k)
        EXPECT_NEAR(Vocoder::bandCentreHz(k), expected[k], 0.006f) << "band " << k;
}

TEST(VocoderBank, EachBandPeaksAtZeroDecibelsOnItsCentreWithQ4_5)
{
    Vocoder v = makeVocoder(2);
    for (int k = 0; k < Vocoder::numBands; ++k)
    {
        const auto c = v.bandCoefficients(k);
        EXPECT_EQ(c.b2, -c.b0);
        const auto gainAt = [&](double hz)
        {
            const std::complex<double> z1 = std::polar(1.0, -2.0 * M_PI * hz / rate);
            const std::complex<double> z2 = z1 * z1;
            return std::abs(((double)c.b0 + (double)c.b2 * z2) /
                            (1.0 + (double)c.a1 * z1 + (double)c.a2 * z2));
        };
        const double fc = Vocoder::bandCentreHz(k);
        EXPECT_NEAR(gainAt(fc), 1.0, 1e-3) << "band " << k;
        // An octave away a Q of 4.5 leaves 1 / sqrt(1 + 4.5^2 * 1.5^2), about 0.147; the top
        // bands come out a little narrower, as the design is not prewarped.
        for (const double hz : {fc * 2.0, fc * 0.5})
        {
            EXPECT_LT(gainAt(hz), 0.16) << "band " << k << " at " << hz << " Hz";
            EXPECT_GT(gainAt(hz), 0.09) << "band " << k << " at " << hz << " Hz";
        }
    }
}

TEST(VocoderBank, BandsAboveHalfTheSampleRateStaySilentAndTheOutputStaysBounded)
{
    for (const double sr : {8000.0, 11025.0})
    {
        Vocoder v = makeVocoder(1, onParams(), sr);
        for (int k = 0; k < Vocoder::numBands; ++k)
        {
            const auto c = v.bandCoefficients(k);
            if (Vocoder::bandCentreHz(k) >= 0.5f * (float)sr)
                EXPECT_TRUE(c.b0 == 0.0f && c.b2 == 0.0f && c.a1 == 0.0f && c.a2 == 0.0f)
                    << sr << " Hz, band " << k;
            else
                EXPECT_GT(c.b0, 0.0f) << sr << " Hz, band " << k;
        }

        auto b = makeSignal(1, (int)sr * 4);
        v.process(b);
        for (int i = 0; i < b.getNumSamples(); ++i)
            ASSERT_LE(std::abs(b.getSample(0, i)), 1.5f) << sr << " Hz, sample " << i;
        for (float e : v.bandEnvelope)
            EXPECT_LT(e, 2.0f) << sr << " Hz";
    }
}

// ---------------------------------------------------------------------------
// Breath noise

TEST(VocoderNoise, SequenceFromTheSeedIsFixed)
{
    std::uint32_t state = 12345u;
    EXPECT_FLOAT_EQ(Vocoder::nextNoise(state), 0.3103081f);
    EXPECT_FLOAT_EQ(Vocoder::nextNoise(state), -0.39037138f);
    EXPECT_FLOAT_EQ(Vocoder::nextNoise(state), 0.34992123f);
}

TEST(VocoderNoise, AdvancesOncePerSampleFromTheSeedAfterPrepare)
{
    Vocoder v = makeVocoder(2);
    auto b = makeSignal(2, 64);
    v.process(b);
    v.prepare(rate, 2);
    EXPECT_EQ(v.noiseState, 12345u);

    auto three = makeSignal(2, 3);
    v.process(three);
    std::uint32_t expected = 12345u;
    for (int i = 0; i < 3; ++i)
        Vocoder::nextNoise(expected);
    EXPECT_EQ(v.noiseState, expected);
}

// ---------------------------------------------------------------------------
// Pitch tracking and glide

TEST(VocoderPitch, SteadyTone220HzIsTrackedFromTheCrossingInterval)
{
    Vocoder v = makeVocoder(1);
    auto b = makeSine(220.0f, 48000);
    v.process(b);
    const float a = 48000.0f / 218.0f, c = 48000.0f / 219.0f;
    EXPECT_TRUE(v.trackedPitch == a || v.trackedPitch == c) << v.trackedPitch;
    EXPECT_GE(v.glidedPitch, c - 0.01f);
    EXPECT_LE(v.glidedPitch, a + 0.01f);
}

TEST(VocoderPitch, TonesOutsideTheRangeLeaveThePitchAt110Hz)
{
    for (const float hz : {40.0f, 1500.0f})
    {
        Vocoder v = makeVocoder(1);
        auto b = makeSine(hz, 48000);
        v.process(b);
        EXPECT_EQ(v.trackedPitch, 110.0f) << hz << " Hz";
        EXPECT_EQ(v.glidedPitch, 110.0f) << hz << " Hz";
    }
}

TEST(VocoderPitch, GlideCoefficientRunsFromFastToSlowPerSample)
{
    struct Case
    {
        float glide, coefficient;
    };
    for (const Case c : {Case{0.0f, 0.0505f}, Case{0.3f, 0.025f}, Case{1.0f, 0.0005f}})
    {
        auto p = onParams();
        p.glide = c.glide;
        Vocoder v = makeVocoder(1, p);
        v.trackedPitch = 220.0f; // silence finds no crossing, so the target stays
        juce::AudioBuffer<float> b(1, 1);
        b.clear();
        v.process(b);
        EXPECT_NEAR(v.glidedPitch, 110.0f + 110.0f * c.coefficient, 1e-4f) << "glide " << c.glide;
        EXPECT_EQ(v.trackedPitch, 220.0f);
    }
}

TEST(VocoderPitch, CrossingCounterSaturatesInLongSilenceAndStillResets)
{
    Vocoder v = makeVocoder(1);
    v.samplesSinceCrossing = INT_MAX - 3;
    juce::AudioBuffer<float> b(1, 16);
    b.clear();
    v.process(b);
    EXPECT_EQ(v.samplesSinceCrossing, INT_MAX);

    // The next upward crossing is rejected (far too long) but restarts the count.
    juce::AudioBuffer<float> one(1, 1);
    one.setSample(0, 0, 0.5f);
    v.process(one);
    EXPECT_EQ(v.samplesSinceCrossing, 0);
    EXPECT_EQ(v.trackedPitch, 110.0f);
}

// ---------------------------------------------------------------------------
// Carrier

TEST(VocoderCarrier, SubOscillatorResumesItsPhaseAfterSwitchingAway)
{
    auto p = onParams();
    p.carrier = 2.0f;
    Vocoder v = makeVocoder(2, p);
    juce::AudioBuffer<float> silence(2, 1000);

    // Silence keeps the oscillator at 110 Hz, so the sub advances 55 Hz / rate a sample.
    silence.clear();
    v.process(silence);
    const float held = v.subPhase;
    EXPECT_NEAR(held, std::fmod(1000.0f * 55.0f / 48000.0f, 1.0f), 1e-4f);

    for (const float other : {0.0f, 1.0f})
    {
        p.carrier = other;
        v.updateParameters(p);
        silence.clear();
        v.process(silence);
        EXPECT_EQ(v.subPhase, held) << "carrier " << other;
    }

    p.carrier = 2.0f;
    v.updateParameters(p);
    silence.clear();
    v.process(silence);
    EXPECT_NEAR(v.subPhase, std::fmod(2000.0f * 55.0f / 48000.0f, 1.0f), 1e-4f);
}

TEST(VocoderCarrier, IndexTruncatesAndUnknownValuesFallBackToSaw)
{
    struct Case
    {
        float raw, same;
    };
    for (const Case c : {Case{3.0f, 0.0f}, Case{-1.0f, 0.0f}, Case{0.9f, 0.0f}, Case{1.7f, 1.0f},
                         Case{2.99f, 2.0f}})
    {
        auto p = onParams();
        p.dry = 0.0f;
        p.carrier = c.raw;
        Vocoder a = makeVocoder(2, p);
        p.carrier = c.same;
        Vocoder b = makeVocoder(2, p);
        auto outA = makeSignal(2, 4096);
        auto outB = makeSignal(2, 4096);
        a.process(outA);
        b.process(outB);
        SCOPED_TRACE(testing::Message() << "carrier " << c.raw);
        expectSameChannel(outA, 0, outB, 0);
    }
}

TEST(VocoderCarrier, CarriersSoundDifferent)
{
    std::vector<float> firstSamples;
    for (const float carrier : {0.0f, 1.0f, 2.0f})
    {
        auto p = onParams();
        p.dry = 0.0f;
        p.carrier = carrier;
        Vocoder v = makeVocoder(1, p);
        auto b = makeSignal(1, 4096);
        v.process(b);
        firstSamples.push_back(b.getSample(0, 4095));
    }
    EXPECT_NE(firstSamples[0], firstSamples[1]);
    EXPECT_NE(firstSamples[0], firstSamples[2]);
    EXPECT_NE(firstSamples[1], firstSamples[2]);
}

// ---------------------------------------------------------------------------
// Switch, mix and channels

TEST(VocoderSwitch, OffLeavesTheBlockAndTheStateUntouched)
{
    auto p = onParams();
    Vocoder frozen = makeVocoder(2, p);
    Vocoder reference = makeVocoder(2, p);

    auto warm = makeSignal(2, 2048, 1);
    auto warmCopy = makeSignal(2, 2048, 1);
    frozen.process(warm);
    reference.process(warmCopy);

    p.on = 0.0f;
    frozen.updateParameters(p);
    auto offBlock = makeSignal(2, 4096, 2);
    const auto original = makeSignal(2, 4096, 2);
    frozen.process(offBlock);
    for (int ch = 0; ch < 2; ++ch)
        expectSameChannel(offBlock, ch, original, ch);

    // Switched on again it carries on exactly as if the off block never happened.
    p.on = 1.0f;
    frozen.updateParameters(p);
    auto a = makeSignal(2, 4096, 3);
    auto b = makeSignal(2, 4096, 3);
    frozen.process(a);
    reference.process(b);
    for (int ch = 0; ch < 2; ++ch)
        expectSameChannel(a, ch, b, ch);
}

TEST(VocoderSwitch, EmptyBlocksChangeNothing)
{
    Vocoder v = makeVocoder(2);
    juce::AudioBuffer<float> noSamples(2, 0);
    v.process(noSamples);
    juce::AudioBuffer<float> noChannels(0, 64);
    v.process(noChannels);
    EXPECT_EQ(v.noiseState, 12345u);
    EXPECT_EQ(v.samplesSinceCrossing, 0);
    EXPECT_EQ(v.phase, 0.0f);
}

TEST(VocoderMix, MixZeroDryOnePassesTheInputExactly)
{
    auto p = onParams();
    p.mix = 0.0f;
    p.dry = 1.0f;
    Vocoder v = makeVocoder(2, p);
    auto b = makeSignal(2, 8192);
    const auto original = makeSignal(2, 8192);
    v.process(b);
    for (int ch = 0; ch < 2; ++ch)
        expectSameChannel(b, ch, original, ch);
}

TEST(VocoderMix, DryZeroGivesTheSameWetSignalOnEveryProcessedChannel)
{
    struct Case
    {
        int prepared, inBuffer;
    };
    for (const Case c : {Case{2, 2}, Case{3, 3}, Case{2, 3}, Case{3, 2}})
    {
        auto p = onParams();
        p.dry = 0.0f;
        Vocoder v = makeVocoder(c.prepared, p);
        auto b = makeSignal(c.inBuffer, 4096);
        const auto original = makeSignal(c.inBuffer, 4096);
        v.process(b);

        SCOPED_TRACE(testing::Message() << c.prepared << " prepared, " << c.inBuffer << " given");
        const int m = std::min(c.prepared, c.inBuffer);
        float peak = 0.0f;
        for (int i = 0; i < 4096; ++i)
            peak = std::max(peak, std::abs(b.getSample(0, i)));
        EXPECT_GT(peak, 0.01f);
        EXPECT_LT(peak, 1.0f);
        for (int ch = 1; ch < m; ++ch)
            expectSameChannel(b, ch, b, 0);
        for (int ch = m; ch < c.inBuffer; ++ch)
            expectSameChannel(b, ch, original, ch);
    }
}

TEST(VocoderMix, WetAddsOnTopOfEachChannelsOwnDrySignal)
{
    auto p = onParams();
    p.dry = 0.0f;
    Vocoder wetOnly = makeVocoder(2, p);
    p.dry = 0.5f;
    Vocoder withDry = makeVocoder(2, p);
    auto wet = makeSignal(2, 2048);
    auto mixed = makeSignal(2, 2048);
    const auto original = makeSignal(2, 2048);
    wetOnly.process(wet);
    withDry.process(mixed);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < 2048; ++i)
            ASSERT_EQ(mixed.getSample(ch, i),
                      0.5f * original.getSample(ch, i) + wet.getSample(ch, i));
}

TEST(VocoderMix, ModulatorIsChannel0ForMonoAndTheAverageOfChannels0And1Otherwise)
{
    auto p = onParams();
    p.dry = 0.0f;
    const int n = 4096;
    const auto stereo = makeSignal(3, n);

    // Mono: channel 0 alone.
    juce::AudioBuffer<float> mono(1, n);
    mono.copyFrom(0, 0, stereo, 0, 0, n);
    juce::AudioBuffer<float> monoInStereo(2, n);
    monoInStereo.copyFrom(0, 0, stereo, 0, 0, n);
    monoInStereo.copyFrom(1, 0, stereo, 0, 0, n); // (x + x) / 2 == x
    Vocoder a = makeVocoder(1, p), b = makeVocoder(2, p);
    a.process(mono);
    b.process(monoInStereo);
    expectSameChannel(mono, 0, monoInStereo, 0);

    // Stereo and wider: the average of channels 0 and 1, whatever channel 2 holds.
    juce::AudioBuffer<float> average(1, n);
    for (int i = 0; i < n; ++i)
        average.setSample(0, i, (stereo.getSample(0, i) + stereo.getSample(1, i)) * 0.5f);
    juce::AudioBuffer<float> two(2, n), three(3, n);
    for (int ch = 0; ch < 2; ++ch)
        two.copyFrom(ch, 0, stereo, ch, 0, n);
    for (int ch = 0; ch < 3; ++ch)
        three.copyFrom(ch, 0, stereo, ch, 0, n);
    Vocoder c = makeVocoder(1, p), d = makeVocoder(2, p), e = makeVocoder(3, p);
    c.process(average);
    d.process(two);
    e.process(three);
    expectSameChannel(two, 0, average, 0);
    expectSameChannel(three, 0, average, 0);
    expectSameChannel(three, 2, average, 0);
}

TEST(VocoderMix, SilenceDecaysTheWetSignalToZero)
{
    Vocoder v = makeVocoder(2); // default mix 1, dry 0.15
    auto loud = makeSignal(2, 24000);
    v.process(loud);
    const float phaseBefore = v.phase;
    const auto noiseBefore = v.noiseState;

    juce::AudioBuffer<float> silence(2, 48000);
    silence.clear();
    v.process(silence);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 47000; i < 48000; ++i)
            ASSERT_LT(std::abs(silence.getSample(ch, i)), 1e-6f) << "sample " << i;
    for (float e : v.bandEnvelope)
        EXPECT_LT(e, 1e-9f);
    // Oscillator and noise keep running meanwhile.
    EXPECT_NE(v.phase, phaseBefore);
    EXPECT_NE(v.noiseState, noiseBefore);
}

TEST(VocoderLifecycle, PrepareResetsTheSignalStateButKeepsTheControls)
{
    auto p = onParams();
    p.dry = 0.0f;
    p.carrier = 2.0f;
    Vocoder used = makeVocoder(2, p);
    auto b = makeSine(220.0f, 48000);
    juce::AudioBuffer<float> warm(2, 48000);
    warm.copyFrom(0, 0, b, 0, 0, 48000);
    warm.copyFrom(1, 0, b, 0, 0, 48000);
    used.process(warm);
    used.prepare(rate, 2);

    EXPECT_EQ(used.trackedPitch, 110.0f);
    EXPECT_EQ(used.glidedPitch, 110.0f);
    EXPECT_EQ(used.samplesSinceCrossing, 0);

    // Same controls, fresh state: identical to a new instance.
    Vocoder fresh = makeVocoder(2, p);
    auto x = makeSignal(2, 4096);
    auto y = makeSignal(2, 4096);
    used.process(x);
    fresh.process(y);
    expectSameChannel(x, 0, y, 0);
}
