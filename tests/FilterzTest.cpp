#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "dsp/Biquad.h"
#include "dsp/Filterz.h"

namespace
{
constexpr double twoPi = 6.283185307179586;

enum Preset
{
    overdrive = 0,
    telephone = 1,
    whale = 2,
    throughWall = 3,
    underwater = 4,
    megaphone = 5,
    radioDj = 6
};

Filterz::Parameters params(float preset, float colour = 0.5f, float drive = 0.3f,
                           float motion = 0.4f, float mix = 1.0f)
{
    Filterz::Parameters p;
    p.preset = preset;
    p.colour = colour;
    p.drive = drive;
    p.motion = motion;
    p.mix = mix;
    return p;
}

// Cut-off and q read back from an installed section, in double. Both designs
// share a1 = -2 cos w / a0 and a2 = (1 - alpha) / a0 with a0 = 1 + alpha.
double cosW(const Biquad& s)
{
    return -double(s.a1) / (1.0 + double(s.a2));
}

double cutoffOf(const Biquad& s, double sampleRate)
{
    return std::acos(cosW(s)) * sampleRate / twoPi;
}

double qOf(const Biquad& s)
{
    const double alpha = (1.0 - double(s.a2)) / (1.0 + double(s.a2));
    return std::sin(std::acos(cosW(s))) / (2.0 * alpha);
}

// Magnitude of an ideal second-order high-pass or low-pass of the same family,
// designed here in double, at frequency f.
double referenceMagnitude(bool highPass, double fc, double q, double sampleRate, double f)
{
    const double w0 = twoPi * fc / sampleRate;
    const double cs = std::cos(w0);
    const double alpha = std::sin(w0) / (2.0 * q);
    const double b0 = highPass ? (1.0 + cs) / 2.0 : (1.0 - cs) / 2.0;
    const double b1 = highPass ? -(1.0 + cs) : (1.0 - cs);
    const std::complex<double> z1 = std::polar(1.0, -twoPi * f / sampleRate);
    const std::complex<double> z2 = z1 * z1;
    const auto num = b0 + b1 * z1 + b0 * z2;
    const auto den = (1.0 + alpha) - 2.0 * cs * z1 + (1.0 - alpha) * z2;
    return std::abs(num / den);
}

std::vector<float> sine(double freq, double amplitude, double sampleRate, int length)
{
    std::vector<float> out(size_t(length), 0.0f);
    for (int i = 0; i < length; ++i)
        out[size_t(i)] = float(amplitude * std::sin(twoPi * freq * i / sampleRate));
    return out;
}

double rms(const float* data, int from, int to)
{
    double sum = 0.0;
    for (int i = from; i < to; ++i)
        sum += double(data[i]) * double(data[i]);
    return std::sqrt(sum / double(to - from));
}

// Reproducible noise-like test material, different per channel.
void fillTestSignal(juce::AudioBuffer<float>& buffer, int offset = 0)
{
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
        {
            const double t = double(i + offset);
            buffer.setSample(ch, i,
                             float(0.4 * std::sin(0.031 * t * (ch + 1)) +
                                   0.3 * std::sin(0.27 * t + ch) + 0.2 * std::sin(1.9 * t)));
        }
}

bool sameSamples(const juce::AudioBuffer<float>& a, int chA, const juce::AudioBuffer<float>& b,
                 int chB)
{
    for (int i = 0; i < a.getNumSamples(); ++i)
        if (a.getSample(chA, i) != b.getSample(chB, i))
            return false;
    return true;
}

bool sameState(const Biquad& a, const Biquad& b)
{
    return a.z1 == b.z1 && a.z2 == b.z2;
}

} // namespace

// ---------------------------------------------------------------------------
// Biquad section

TEST(FilterzBiquad, FreshSectionPassesInputThrough)
{
    Biquad s;
    for (float x : {0.5f, -1.0f, 0.25f, 0.0f, 3.0f})
        EXPECT_EQ(s.processSample(x), x);
}

TEST(FilterzBiquad, StepMatchesTheDifferenceEquation)
{
    struct Case
    {
        bool highPass;
        float cutoff, q, sampleRate;
    };
    const Case cases[] = {
        {true, 400.0f, 0.9f, 44100.0f},
        {false, 2800.0f, 0.9f, 44100.0f},
        {false, 1800.0f, 2.5f, 48000.0f},
        {true, 90.0f, 0.7f, 22050.0f},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << (c.highPass ? "high-pass " : "low-pass ") << c.cutoff);
        Biquad s;
        if (c.highPass)
            s.setHighPass(c.cutoff, c.q, c.sampleRate);
        else
            s.setLowPass(c.cutoff, c.q, c.sampleRate);

        // y[n] = b0 x[n] + b1 x[n-1] + b2 x[n-2] - a1 y[n-1] - a2 y[n-2]
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (int n = 0; n < 400; ++n)
        {
            const float x = n == 0 ? 1.0f : float(0.3 * std::sin(0.05 * n));
            const double expected =
                s.b0 * double(x) + s.b1 * x1 + s.b2 * x2 - s.a1 * y1 - s.a2 * y2;
            const float y = s.processSample(x);
            ASSERT_NEAR(y, expected, 1e-5) << "sample " << n;
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = expected;
        }
    }
}

TEST(FilterzBiquad, DesignHoldsCutoffAndQToTheirLimits)
{
    struct Case
    {
        float cutoff, q, sampleRate;
        double expectedCutoff, expectedQ, tolerance;
    };
    const Case cases[] = {
        {10.0f, 0.7f, 44100.0f, 20.0, 0.7, 0.05},
        {-300.0f, 0.7f, 44100.0f, 20.0, 0.7, 0.05},
        {14400.0f, 0.7f, 22050.0f, 9922.5, 0.7, 1e-4},
        {30000.0f, 0.7f, 44100.0f, 19845.0, 0.7, 1e-4},
        {1000.0f, 0.1f, 44100.0f, 1000.0, 0.3, 1e-3},
        {1000.0f, 0.3f, 44100.0f, 1000.0, 0.3, 1e-3},
        {1000.0f, 4.0f, 44100.0f, 1000.0, 4.0, 1e-3},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message()
                     << "cut-off " << c.cutoff << " q " << c.q << " at " << c.sampleRate);
        Biquad hp, lp;
        hp.setHighPass(c.cutoff, c.q, c.sampleRate);
        lp.setLowPass(c.cutoff, c.q, c.sampleRate);
        for (const Biquad* s : {&hp, &lp})
        {
            EXPECT_NEAR(cutoffOf(*s, c.sampleRate) / c.expectedCutoff, 1.0, c.tolerance);
            EXPECT_NEAR(qOf(*s) / c.expectedQ, 1.0, 0.05);
        }
    }
}

TEST(FilterzBiquad, RetuningKeepsTheStates)
{
    Biquad s;
    s.setLowPass(1000.0f, 0.7f, 44100.0f);
    for (int i = 0; i < 50; ++i)
        s.processSample(0.5f);
    const float z1 = s.z1, z2 = s.z2;
    ASSERT_NE(z1, 0.0f);
    s.setHighPass(300.0f, 2.0f, 48000.0f);
    EXPECT_EQ(s.z1, z1);
    EXPECT_EQ(s.z2, z2);
}

// ---------------------------------------------------------------------------
// Preset table, colour and clamps as installed by updateParameters

TEST(FilterzDesign, PresetsAndColourGiveTheseSections)
{
    struct Case
    {
        const char* name;
        float preset, colour;
        double sampleRate, highPassHz, lowPassHz, q, sweepDepth, driveBase;
    };
    const Case cases[] = {
        {"Telephone", telephone, 0.5f, 44100, 400, 2800, 0.9, 0, 0.25},
        {"Telephone colour 0", telephone, 0.0f, 44100, 240, 1120, 0.9, 0, 0.25},
        {"Telephone colour 1", telephone, 1.0f, 44100, 560, 4480, 0.9, 0, 0.25},
        {"Overdrive", overdrive, 0.5f, 44100, 90, 9000, 0.7, 0, 0.55},
        {"Overdrive colour 1", overdrive, 1.0f, 44100, 126, 14400, 0.7, 0, 0.55},
        {"Overdrive colour 1 at 22050", overdrive, 1.0f, 22050, 126, 9922.5, 0.7, 0, 0.55},
        {"Whale/Ethereal", whale, 0.5f, 44100, 300, 1800, 2.5, 600, 0.15},
        {"Through-Wall colour 0", throughWall, 0.0f, 48000, 72, 280, 0.7, 0, 0.1},
        {"Underwater", underwater, 0.5f, 44100, 200, 1200, 1.4, 120, 0.1},
        {"Megaphone colour 0.25", megaphone, 0.25f, 96000, 400, 2450, 1.1, 0, 0.75},
        {"Radio DJ", radioDj, 0.5f, 44100, 150, 7500, 0.7, 0, 0.45},
        {"index 7", 7.0f, 0.5f, 44100, 150, 7500, 0.7, 0, 0.45},
        {"index 100", 100.0f, 0.5f, 44100, 150, 7500, 0.7, 0, 0.45},
        {"index -1", -1.0f, 0.5f, 44100, 150, 7500, 0.7, 0, 0.45},
        {"index NaN", std::nanf(""), 0.5f, 44100, 150, 7500, 0.7, 0, 0.45},
        {"raw 5.9 truncates to Megaphone", 5.9f, 0.5f, 44100, 500, 3500, 1.1, 0, 0.75},
        {"raw -0.5 truncates to Overdrive", -0.5f, 0.5f, 44100, 90, 9000, 0.7, 0, 0.55},
        {"colour -1 holds both at 20 Hz", telephone, -1.0f, 44100, 20, 20, 0.9, 0, 0.25},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Filterz fz;
        fz.prepare(c.sampleRate, 2);
        fz.updateParameters(params(c.preset, c.colour, 0.0f));

        EXPECT_FLOAT_EQ(fz.q, float(c.q));
        EXPECT_FLOAT_EQ(fz.sweepDepth, float(c.sweepDepth));
        EXPECT_FLOAT_EQ(fz.drive, float(c.driveBase));
        // The sweep centre is the coloured low-pass before it is held in range.
        if (c.lowPassHz > 20.0 && c.lowPassHz < 0.45 * c.sampleRate)
        {
            EXPECT_NEAR(fz.sweepCentre, c.lowPassHz, 1e-3);
        }

        const double tolerance = c.highPassHz <= 20.0 ? 0.05 : 2e-3;
        for (int ch = 0; ch < 2; ++ch)
        {
            const Biquad& hp = fz.highPass[ch];
            const Biquad& lp = fz.lowPass[ch];
            EXPECT_NEAR(cutoffOf(hp, c.sampleRate) / c.highPassHz, 1.0, tolerance);
            EXPECT_NEAR(cutoffOf(lp, c.sampleRate) / c.lowPassHz, 1.0, tolerance);
            EXPECT_NEAR(qOf(hp), c.q, c.q * tolerance);
            EXPECT_NEAR(qOf(lp), c.q, c.q * tolerance);
            // Section shapes: b0 = b2 in both, b1 = -2 b0 in the high-pass, +2 b0 in the low-pass.
            EXPECT_EQ(hp.b0, hp.b2);
            EXPECT_FLOAT_EQ(hp.b1, -2.0f * hp.b0);
            EXPECT_EQ(lp.b0, lp.b2);
            EXPECT_FLOAT_EQ(lp.b1, 2.0f * lp.b0);
        }
    }
}

TEST(FilterzDesign, FreshStageHoldsItsDefaults)
{
    Filterz fz;
    EXPECT_EQ(fz.sampleRate, 44100.0);
    EXPECT_EQ(fz.numChannels, 2);
    EXPECT_EQ(fz.mix, 1.0f);
    EXPECT_EQ(fz.motion, 0.0f);
    EXPECT_EQ(fz.drive, 0.3f);
    EXPECT_EQ(fz.q, 0.7f);
    EXPECT_EQ(fz.sweepDepth, 0.0f);
    EXPECT_EQ(fz.sweepCentre, 8000.0f);
    EXPECT_EQ(fz.lfoPhase, 0.0f);
    for (const Biquad* s : {&fz.highPass[0], &fz.highPass[1], &fz.lowPass[0], &fz.lowPass[1]})
    {
        EXPECT_EQ(s->b0, 1.0f);
        EXPECT_EQ(s->b1, 0.0f);
        EXPECT_EQ(s->b2, 0.0f);
        EXPECT_EQ(s->a1, 0.0f);
        EXPECT_EQ(s->a2, 0.0f);
        EXPECT_EQ(s->z1, 0.0f);
        EXPECT_EQ(s->z2, 0.0f);
    }
}

// ---------------------------------------------------------------------------
// Measured response: small sines stay in the linear part of tanh, so the
// output level is (gain into tanh) x (make-up) x |high-pass| x |low-pass|.

TEST(FilterzResponse, SmallSinesFollowTheDesignedFilters)
{
    struct Case
    {
        const char* name;
        float preset, colour, fzDrive;
        double highPassHz, lowPassHz, q, drive;
        std::vector<double> freqs;
    };
    const Case cases[] = {
        {"Telephone", telephone, 0.5f, 0.3f, 400, 2800, 0.9, 0.46, {100, 400, 1000, 2800, 8000}},
        {"Through-Wall", throughWall, 0.5f, 0.0f, 120, 700, 0.7, 0.1, {50, 300, 2000}},
        {"Megaphone colour 0", megaphone, 0.0f, 1.0f, 300, 1400, 1.1, 1.45, {100, 600, 5000}},
        // Without motion the sweeping preset rests on its centre; q 2.5 peaks there.
        {"Whale/Ethereal still", whale, 0.5f, 0.0f, 300, 1800, 2.5, 0.15, {200, 1800, 4000}},
    };
    const double sr = 44100.0;
    const int length = 44100;
    for (const auto& c : cases)
        for (double f : c.freqs)
        {
            SCOPED_TRACE(testing::Message() << c.name << " at " << f << " Hz");
            Filterz fz;
            fz.prepare(sr, 2);
            fz.updateParameters(params(c.preset, c.colour, c.fzDrive, 0.0f, 1.0f));

            const auto in = sine(f, 1e-4, sr, length);
            juce::AudioBuffer<float> buffer(2, length);
            for (int ch = 0; ch < 2; ++ch)
                buffer.copyFrom(ch, 0, in.data(), length);
            fz.process(buffer);

            const double linearGain = (1.0 + 8.0 * c.drive) / (1.0 + 1.5 * c.drive);
            const double expected = linearGain *
                                    referenceMagnitude(true, c.highPassHz, c.q, sr, f) *
                                    referenceMagnitude(false, c.lowPassHz, c.q, sr, f);
            // Half a second of whole periods after the filters have settled.
            const double inLevel = rms(in.data(), length / 2, length);
            for (int ch = 0; ch < 2; ++ch)
            {
                const double measured =
                    rms(buffer.getReadPointer(ch), length / 2, length) / inLevel;
                EXPECT_NEAR(measured / expected, 1.0, 5e-3) << "channel " << ch;
            }
        }
}

TEST(FilterzResponse, DriveAndMakeUpFollowPresetAndDriveKnob)
{
    struct Case
    {
        const char* name;
        float preset, fzDrive;
        float drive, gain, makeUp;
        double passbandHz;
    };
    const Case cases[] = {
        {"Telephone defaults", telephone, 0.3f, 0.46f, 4.68f, 0.5917f, 1000},
        {"Through-Wall, no drive", throughWall, 0.0f, 0.1f, 1.8f, 0.8696f, 300},
        {"Megaphone, full drive", megaphone, 1.0f, 1.45f, 12.6f, 0.31496f, 1300},
        {"Radio DJ, half drive", radioDj, 0.5f, 0.8f, 7.4f, 0.45455f, 1000},
    };
    const double sr = 44100.0;
    const int length = 22050;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Filterz fz;
        fz.prepare(sr, 1);
        fz.updateParameters(params(c.preset, 0.5f, c.fzDrive, 0.0f, 1.0f));
        EXPECT_NEAR(fz.drive, c.drive, 1e-6);
        EXPECT_NEAR(1.0f + 8.0f * fz.drive, c.gain, 1e-5);

        // A loud passband sine drives tanh flat: the peaks sit at the make-up level.
        const auto in = sine(c.passbandHz, 50.0, sr, length);
        juce::AudioBuffer<float> buffer(1, length);
        buffer.copyFrom(0, 0, in.data(), length);
        fz.process(buffer);
        const auto range = buffer.findMinMax(0, length / 2, length / 2);
        EXPECT_NEAR(range.getEnd(), c.makeUp, 1e-4);
        EXPECT_NEAR(range.getStart(), -c.makeUp, 1e-4);
    }
}

// ---------------------------------------------------------------------------
// Sweep of the low-pass cut-off

TEST(FilterzSweep, LowPassCutoffMovesAroundTheCentre)
{
    struct Case
    {
        const char* name;
        float preset, colour, motion;
        double lowest, highest;
        bool sweeps;
    };
    const Case cases[] = {
        {"Whale/Ethereal", whale, 0.5f, 0.4f, 1560, 2040, true},
        {"Whale/Ethereal without motion", whale, 0.5f, 0.0f, 1800, 1800, true},
        {"Underwater full motion", underwater, 0.5f, 1.0f, 1080, 1320, true},
        {"Underwater colour 0", underwater, 0.0f, 0.5f, 420, 540, true},
        {"Telephone does not sweep", telephone, 0.5f, 1.0f, 2800, 2800, false},
    };
    const double sr = 44100.0;
    const int periodSamples = 73500; // 1.6667 s at 0.6 Hz
    const int length = 2 * periodSamples + 1000;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Filterz fz;
        fz.prepare(sr, 2);
        fz.updateParameters(params(c.preset, c.colour, 0.3f, c.motion, 1.0f));

        // One-sample blocks without fresh parameters, so the coefficients the
        // sweep installed can be read after every sample.
        juce::AudioBuffer<float> buffer(2, 1);
        double lowest = 1e9, highest = 0;
        float previousPhase = fz.lfoPhase;
        std::vector<int> wraps;
        for (int i = 0; i < length; ++i)
        {
            buffer.setSample(0, 0, 0.1f);
            buffer.setSample(1, 0, -0.1f);
            fz.process(buffer);
            const double cutoff = cutoffOf(fz.lowPass[0], sr);
            lowest = std::min(lowest, cutoff);
            highest = std::max(highest, cutoff);
            ASSERT_EQ(fz.lowPass[1].a1, fz.lowPass[0].a1);
            ASSERT_EQ(fz.lowPass[1].b0, fz.lowPass[0].b0);
            if (fz.lfoPhase < previousPhase)
                wraps.push_back(i);
            previousPhase = fz.lfoPhase;
        }
        EXPECT_NEAR(lowest, c.lowest, 0.05);
        EXPECT_NEAR(highest, c.highest, 0.05);

        if (c.sweeps)
        {
            // The phase keeps running with or without motion.
            ASSERT_EQ(wraps.size(), 2u);
            EXPECT_NEAR(wraps[0] + 1, periodSamples, periodSamples * 2e-3);
            EXPECT_NEAR(wraps[1] - wraps[0], periodSamples, periodSamples * 2e-3);
        }
        else
        {
            EXPECT_TRUE(wraps.empty());
            EXPECT_EQ(fz.lfoPhase, 0.0f);
        }
    }
}

TEST(FilterzSweep, MotionActsOnThePhaseThatHasRunMeanwhile)
{
    const double sr = 48000.0;
    Filterz fz;
    fz.prepare(sr, 2);
    fz.updateParameters(params(whale, 0.5f, 0.3f, 0.0f));
    juce::AudioBuffer<float> buffer(2, 10000);
    buffer.clear();
    fz.process(buffer);
    EXPECT_NEAR(fz.lfoPhase, 10000 * 0.6 / sr, 1e-4);
    EXPECT_NEAR(cutoffOf(fz.lowPass[0], sr), 1800.0, 0.05);

    // Motion 1 from here: one more sample moves the cut-off by 600 Hz x sin of the phase.
    fz.updateParameters(params(whale, 0.5f, 0.3f, 1.0f));
    juce::AudioBuffer<float> one(2, 1);
    one.clear();
    fz.process(one);
    const double expected = 1800.0 + 600.0 * std::sin(twoPi * 10001 * 0.6 / sr);
    EXPECT_NEAR(cutoffOf(fz.lowPass[0], sr), expected, 0.5);
}

TEST(FilterzSweep, MonoBlockRetunesOnlyChannelZero)
{
    Filterz fz;
    fz.prepare(44100.0, 2);
    fz.updateParameters(params(whale, 0.5f, 0.3f, 1.0f));
    const Biquad blockDesign = fz.lowPass[1];
    juce::AudioBuffer<float> mono(1, 4000);
    fillTestSignal(mono);
    fz.process(mono);
    EXPECT_GT(cutoffOf(fz.lowPass[0], 44100.0), 1900.0);
    EXPECT_EQ(fz.lowPass[1].b0, blockDesign.b0);
    EXPECT_EQ(fz.lowPass[1].a1, blockDesign.a1);
    EXPECT_EQ(fz.lowPass[1].z1, 0.0f);
}

// ---------------------------------------------------------------------------
// Mix, channels, switching and prepare

TEST(FilterzBlock, MixZeroPassesInputExactlyWhileFiltersRun)
{
    const int length = 2048;
    juce::AudioBuffer<float> first(2, length), second(2, length);
    fillTestSignal(first);
    fillTestSignal(second, length);

    Filterz dryFirst, wetThroughout;
    for (Filterz* fz : {&dryFirst, &wetThroughout})
        fz->prepare(44100.0, 2);

    juce::AudioBuffer<float> a(first), b(first);
    dryFirst.updateParameters(params(whale, 0.7f, 0.8f, 0.6f, 0.0f));
    wetThroughout.updateParameters(params(whale, 0.7f, 0.8f, 0.6f, 1.0f));
    dryFirst.process(a);
    wetThroughout.process(b);
    for (int ch = 0; ch < 2; ++ch)
        EXPECT_TRUE(sameSamples(a, ch, first, ch)) << "channel " << ch;

    // The dry block still ran the filters and the sweep: the next wet block is
    // identical to that of a stage that was wet all along.
    EXPECT_EQ(dryFirst.lfoPhase, wetThroughout.lfoPhase);
    a.makeCopyOf(second);
    b.makeCopyOf(second);
    dryFirst.updateParameters(params(whale, 0.7f, 0.8f, 0.6f, 1.0f));
    wetThroughout.updateParameters(params(whale, 0.7f, 0.8f, 0.6f, 1.0f));
    dryFirst.process(a);
    wetThroughout.process(b);
    for (int ch = 0; ch < 2; ++ch)
        EXPECT_TRUE(sameSamples(a, ch, b, ch)) << "channel " << ch;
}

TEST(FilterzBlock, ProcessesAtMostTwoChannels)
{
    struct Case
    {
        int prepared, bufferChannels, processed;
    };
    const Case cases[] = {{2, 2, 2}, {2, 4, 2}, {2, 1, 1}, {1, 2, 1},
                          {1, 1, 1}, {4, 4, 2}, {2, 0, 0}};
    const int length = 3000;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "prepared " << c.prepared << ", buffer "
                                        << c.bufferChannels << " channels");
        juce::AudioBuffer<float> input(juce::jmax(c.bufferChannels, 2), length);
        fillTestSignal(input);

        // Reference: a stereo stage on the first two channels of the same signal.
        Filterz reference;
        reference.prepare(44100.0, 2);
        reference.updateParameters(params(underwater, 0.6f, 0.5f, 1.0f));
        juce::AudioBuffer<float> expected(2, length);
        for (int ch = 0; ch < 2; ++ch)
            expected.copyFrom(ch, 0, input, ch, 0, length);
        reference.process(expected);

        Filterz fz;
        fz.prepare(44100.0, c.prepared);
        fz.updateParameters(params(underwater, 0.6f, 0.5f, 1.0f));
        juce::AudioBuffer<float> buffer(c.bufferChannels, length);
        for (int ch = 0; ch < c.bufferChannels; ++ch)
            buffer.copyFrom(ch, 0, input, ch, 0, length);
        fz.process(buffer);

        for (int ch = 0; ch < c.bufferChannels; ++ch)
        {
            if (ch < c.processed)
                EXPECT_TRUE(sameSamples(buffer, ch, expected, ch)) << "channel " << ch;
            else
                EXPECT_TRUE(sameSamples(buffer, ch, input, ch)) << "channel " << ch;
        }
        // The sweep runs once per sample, shared by the channels.
        EXPECT_EQ(fz.lfoPhase, reference.lfoPhase);
    }
}

TEST(FilterzBlock, EmptyBlockChangesNothing)
{
    Filterz fz;
    fz.prepare(44100.0, 2);
    fz.updateParameters(params(whale, 0.5f, 0.3f, 1.0f));
    juce::AudioBuffer<float> warm(2, 500);
    fillTestSignal(warm);
    fz.process(warm);
    const Filterz before = fz;

    juce::AudioBuffer<float> empty(2, 0);
    fz.process(empty);
    EXPECT_EQ(fz.lfoPhase, before.lfoPhase);
    for (int ch = 0; ch < 2; ++ch)
    {
        EXPECT_TRUE(sameState(fz.highPass[ch], before.highPass[ch]));
        EXPECT_TRUE(sameState(fz.lowPass[ch], before.lowPass[ch]));
        EXPECT_EQ(fz.lowPass[ch].b0, before.lowPass[ch].b0);
    }
}

TEST(FilterzBlock, SwitchingOffAndOnResumesWithoutReset)
{
    const int length = 1024;
    juce::AudioBuffer<float> first(2, length), second(2, length);
    fillTestSignal(first);
    fillTestSignal(second, length);

    // Stage A is switched off between the two blocks: only its parameters are
    // updated, to other presets and finally to "Megaphone".
    Filterz switched, continuous, fresh;
    for (Filterz* fz : {&switched, &continuous, &fresh})
        fz->prepare(44100.0, 2);

    juce::AudioBuffer<float> a(first), b(first);
    switched.updateParameters(params(whale, 0.5f, 0.3f, 0.8f));
    continuous.updateParameters(params(whale, 0.5f, 0.3f, 0.8f));
    switched.process(a);
    continuous.process(b);

    const float phase = switched.lfoPhase;
    const Biquad lowPassState = switched.lowPass[0];
    for (float preset : {float(overdrive), float(underwater), float(radioDj)})
    {
        switched.updateParameters(params(preset, 0.2f, 0.9f, 1.0f));
        EXPECT_EQ(switched.lfoPhase, phase);
        EXPECT_TRUE(sameState(switched.lowPass[0], lowPassState));
    }

    switched.updateParameters(params(megaphone, 0.5f, 0.3f, 0.4f));
    continuous.updateParameters(params(megaphone, 0.5f, 0.3f, 0.4f));
    fresh.updateParameters(params(megaphone, 0.5f, 0.3f, 0.4f));
    a.makeCopyOf(second);
    b.makeCopyOf(second);
    juce::AudioBuffer<float> c(second);
    switched.process(a);
    continuous.process(b);
    fresh.process(c);

    for (int ch = 0; ch < 2; ++ch)
    {
        EXPECT_TRUE(sameSamples(a, ch, b, ch)) << "channel " << ch;
        // A reset stage would sound different at the start of the block.
        EXPECT_FALSE(sameSamples(a, ch, c, ch)) << "channel " << ch;
    }
}

TEST(FilterzBlock, PrepareRestartsOnlyTheSweep)
{
    Filterz fz;
    fz.prepare(44100.0, 2);
    fz.updateParameters(params(whale, 0.5f, 0.3f, 1.0f));
    juce::AudioBuffer<float> buffer(2, 5000);
    fillTestSignal(buffer);
    fz.process(buffer);
    ASSERT_GT(fz.lfoPhase, 0.0f);
    const Filterz before = fz;

    fz.prepare(48000.0, 1);
    EXPECT_EQ(fz.sampleRate, 48000.0);
    EXPECT_EQ(fz.numChannels, 1);
    EXPECT_EQ(fz.lfoPhase, 0.0f);
    for (int ch = 0; ch < 2; ++ch)
    {
        EXPECT_TRUE(sameState(fz.highPass[ch], before.highPass[ch]));
        EXPECT_TRUE(sameState(fz.lowPass[ch], before.lowPass[ch]));
    }
}
