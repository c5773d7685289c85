#include "dsp/Autotune.h"
#include "dsp/PitchShifter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace
{
constexpr double pi = 3.14159265358979323846;

using Channels = std::vector<std::vector<float>>;

Autotune::Parameters switchedOn(int key = 0, int scale = 0, float speed = 1.0f, float mix = 1.0f)
{
    return {1.0f, static_cast<float>(key), static_cast<float>(scale), speed, mix};
}

std::vector<float> sine(double frequency, double sampleRate, int length, float amplitude = 0.5f)
{
    std::vector<float> x(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i)
        x[static_cast<size_t>(i)] =
            amplitude * static_cast<float>(std::sin(2.0 * pi * frequency * i / sampleRate));
    return x;
}

std::vector<float> noise(int length, juce::int64 seed)
{
    juce::Random random(seed);
    std::vector<float> x(static_cast<size_t>(length));
    for (auto& v : x)
        v = random.nextFloat() * 2.0f - 1.0f;
    return x;
}

// Runs the stage over the channels in place, in blocks of the given sizes
// (the last size repeats until the signal is used up).
void run(Autotune& stage, Channels& channels, std::vector<int> blockSizes = {512})
{
    const int length = static_cast<int>(channels[0].size());
    std::vector<float*> pointers(channels.size());
    for (int start = 0, b = 0; start < length; ++b)
    {
        const int size =
            std::min(blockSizes[std::min<size_t>(static_cast<size_t>(b), blockSizes.size() - 1)],
                     length - start);
        for (size_t k = 0; k < channels.size(); ++k)
            pointers[k] = channels[k].data() + start;
        juce::AudioBuffer<float> block(pointers.data(), static_cast<int>(channels.size()), size);
        stage.process(block);
        start += size;
    }
}

// Frequency from the upward zero crossings of a clean periodic signal.
double measureFrequency(const std::vector<float>& x, int from, int to, double sampleRate)
{
    double first = -1.0, last = -1.0;
    int crossings = 0;
    for (int i = from + 1; i < to; ++i)
    {
        const float a = x[static_cast<size_t>(i - 1)];
        const float b = x[static_cast<size_t>(i)];
        if (a < 0.0f && b >= 0.0f)
        {
            const double t = (i - 1) + a / (a - b);
            if (first < 0.0)
                first = t;
            last = t;
            ++crossings;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) * sampleRate / (last - first);
}

double noteFrequency(int note)
{
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

// The ratio an analysis sets for a detected lag that snaps to the given note,
// step by step in float.
float ratioFor(double sampleRate, int lag, int note)
{
    const float f = static_cast<float>(sampleRate / lag);
    const float t = 440.0f * std::pow(2.0f, static_cast<float>(note - 69) / 12.0f);
    return t / f;
}

// Everything the stage carries from block to block.
struct StageState
{
    std::vector<float> window;
    int index = 0;
    float target = 0.0f, current = 0.0f;
    std::vector<std::vector<float>> buffers;
    std::vector<int> writePositions;
    std::vector<float> offsets, rates;

    explicit StageState(const Autotune& stage)
        : window(stage.getAnalysisBuffer()), index(stage.getAnalysisIndex()),
          target(stage.getTargetRatio()), current(stage.getCurrentRatio())
    {
        for (const auto& s : stage.getShifters())
        {
            buffers.push_back(s.getBuffer());
            writePositions.push_back(s.getWritePos());
            offsets.push_back(s.getOffset());
            rates.push_back(s.getRate());
        }
    }

    bool operator==(const StageState& o) const
    {
        return window == o.window && index == o.index && target == o.target &&
               current == o.current && buffers == o.buffers && writePositions == o.writePositions &&
               offsets == o.offsets && rates == o.rates;
    }
};

class AutotuneStageTest : public ::testing::Test
{
  protected:
    static constexpr double rate = 48000.0;
    static constexpr int window = 2208; // 46 ms at 48 kHz

    // Period of exactly 64 samples: the analysis finds lag 64 (750 Hz, MIDI
    // 78.23), and 2048 samples are whole periods, so both shifter taps read
    // the same waveform and the output stays a clean tone.
    static constexpr double toneHz = 750.0;

    Autotune stage;

    void prepare(int channels, Autotune::Parameters p = switchedOn())
    {
        stage.prepare(rate, channels);
        stage.updateParameters(p);
    }
};
} // namespace

// ---------------------------------------------------------------------------
// Snapping to the scale

struct SnapCase
{
    int key;
    float scale;
    float pitch;
    int expected;
};

class AutotuneSnapTest : public ::testing::TestWithParam<SnapCase>
{
};

TEST_P(AutotuneSnapTest, SnapsToNearestScaleNote)
{
    const auto c = GetParam();
    Autotune stage;
    stage.updateParameters({1.0f, static_cast<float>(c.key), c.scale, 0.5f, 1.0f});
    EXPECT_EQ(stage.snapToScale(c.pitch), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AutotuneSnapTest,
    ::testing::Values(SnapCase{1, 0, 69.0f, 68},   // C# major: G# and A# equally near, lower wins
                      SnapCase{0, 0, 69.0f, 69},   // A is in C major
                      SnapCase{0, 0, 70.0f, 69},   // halfway A-B goes down
                      SnapCase{0, 0, 64.5f, 64},   // halfway E-F goes down
                      SnapCase{0, 0, 64.51f, 65},  // just past halfway goes up
                      SnapCase{0, 2, 60.5f, 60},   // chromatic halfway goes down
                      SnapCase{0, 0, 78.232f, 79}, // F# in C major: G is nearer than F
                      SnapCase{2, 0, 78.232f, 78}, // F# is in D major
                      SnapCase{9, 1, 61.0f, 60},   // A minor: C# between C and D
                      SnapCase{11, 0, 59.2f, 59},  // B major keeps B
                      SnapCase{0, 0, -0.6f, -1},   // below MIDI 0 the octaves continue
                      SnapCase{0, 5, 61.0f, 61},   // scale index above 2 is chromatic
                      SnapCase{0, -1, 61.0f, 60},  // scale index below 0 is major
                      SnapCase{0, 2.9f, 61.0f, 61} // a choice index is truncated
                      ));

TEST(AutotuneSnapAllTest, EveryKeyAndScaleGivesNearestNoteLowerOnTies)
{
    const std::vector<std::vector<int>> scaleNotes = {
        {0, 2, 4, 5, 7, 9, 11}, {0, 2, 3, 5, 7, 8, 10}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};

    for (int scale = 0; scale < 3; ++scale)
    {
        for (int key = 0; key < 12; ++key)
        {
            Autotune stage;
            stage.updateParameters(switchedOn(key, scale));

            for (float pitch = 24.0f; pitch <= 96.0f; pitch += 0.125f)
            {
                // Brute force over every MIDI note, ascending, strictly nearer wins.
                int expected = -1;
                float best = 1.0e9f;
                for (int note = 0; note < 128; ++note)
                {
                    const int degree = ((note - key) % 12 + 12) % 12;
                    const auto& notes = scaleNotes[static_cast<size_t>(scale)];
                    if (std::find(notes.begin(), notes.end(), degree) == notes.end())
                        continue;
                    const float d = std::abs(static_cast<float>(note) - pitch);
                    if (d < best)
                    {
                        best = d;
                        expected = note;
                    }
                }
                ASSERT_EQ(stage.snapToScale(pitch), expected)
                    << "key " << key << " scale " << scale << " pitch " << pitch;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Window and lag search

struct RangeCase
{
    double sampleRate;
    int length;
    int minLag;
    int maxLag;
};

class AutotuneRangeTest : public ::testing::TestWithParam<RangeCase>
{
};

TEST_P(AutotuneRangeTest, WindowAndLagsFollowSampleRate)
{
    const auto c = GetParam();
    const int length = Autotune::windowLength(c.sampleRate);
    EXPECT_EQ(length, c.length);
    const auto range = Autotune::lagRange(c.sampleRate, length);
    EXPECT_EQ(range.minLag, c.minLag);
    EXPECT_EQ(range.maxLag, c.maxLag);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, AutotuneRangeTest,
    ::testing::Values(RangeCase{48000.0, 2208, 48, 600}, RangeCase{44100.0, 2028, 44, 551},
                      RangeCase{96000.0, 4416, 96, 1200}, RangeCase{22050.0, 1014, 22, 275},
                      RangeCase{8000.0, 368, 8, 100}, RangeCase{1000.0, 46, 2, 12},
                      RangeCase{100.0, 4, 2, 1})); // empty range

TEST(AutotuneCorrelationTest, SeveralLagsAtOnceGiveBitIdenticalSums)
{
    const int length = 2208;
    const auto window = noise(length, 7);

    for (const int firstLag : {0, 1, 48, 331, 569, length - Autotune::lagsPerPass})
    {
        float sums[Autotune::lagsPerPass];
        Autotune::correlateLags(window.data(), length, firstLag, sums);
        for (int k = 0; k < Autotune::lagsPerPass; ++k)
        {
            const int lag = firstLag + k;
            float reference = 0.0f;
            for (int i = 0; i < length - lag; ++i)
                reference += window[static_cast<size_t>(i)] * window[static_cast<size_t>(i + lag)];

            const float single = Autotune::correlateLag(window.data(), length, lag);
            EXPECT_EQ(std::memcmp(&sums[k], &reference, sizeof(float)), 0) << "lag " << lag;
            EXPECT_EQ(std::memcmp(&single, &reference, sizeof(float)), 0) << "lag " << lag;
        }
    }
}

struct LagCase
{
    const char* name;
    int length;
    std::vector<std::pair<int, float>> impulses;
    int minLag;
    int maxLag;
    int expected;
};

class AutotuneLagTest : public ::testing::TestWithParam<LagCase>
{
};

TEST_P(AutotuneLagTest, KeepsFirstGreatestPositiveSum)
{
    const auto& c = GetParam();
    std::vector<float> window(static_cast<size_t>(c.length), 0.0f);
    for (const auto& [pos, value] : c.impulses)
        window[static_cast<size_t>(pos)] = value;
    EXPECT_EQ(Autotune::findBestLag(window.data(), c.length, {c.minLag, c.maxLag}), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AutotuneLagTest,
    ::testing::Values(
        LagCase{"single", 64, {{0, 1.0f}, {10, 1.0f}}, 2, 40, 10},
        LagCase{"tieSmallerWins", 64, {{0, 1.0f}, {10, 1.0f}, {30, 1.0f}, {45, 1.0f}}, 2, 50, 10},
        LagCase{"tieAboveMinLag", 64, {{0, 1.0f}, {10, 1.0f}, {30, 1.0f}, {45, 1.0f}}, 11, 50, 15},
        LagCase{"greaterLaterWins", 64, {{0, 1.0f}, {7, 1.0f}, {40, 2.0f}, {60, 2.0f}}, 2, 63, 20},
        LagCase{"negativeOnly", 64, {{0, 1.0f}, {10, -1.0f}}, 2, 40, 0},
        LagCase{"silence", 64, {}, 2, 40, 0},
        LagCase{"tieAt48k", 2208, {{100, 1.0f}, {200, 1.0f}, {400, 1.0f}}, 48, 600, 100},
        LagCase{"tieAcrossPasses",
                2208,
                {{0, 1.0f}, {79, 1.0f}, {1000, 1.0f}, {1080, 1.0f}},
                48,
                600,
                79},
        LagCase{"tieInLastPass",
                2208,
                {{0, 1.0f}, {595, 1.0f}, {1300, 1.0f}, {1898, 1.0f}},
                48,
                600,
                595},
        LagCase{"greaterInLastPass",
                2208,
                {{0, 1.0f}, {595, 1.0f}, {1300, 1.5f}, {1898, 1.0f}},
                48,
                600,
                598},
        LagCase{"lastLagOnly", 2208, {{0, 1.0f}, {600, 1.0f}}, 48, 600, 600}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AutotuneLagSearchTest, MatchesOneLagAtATimeOnVoiceLikeWindows)
{
    struct Range
    {
        int length, minLag, maxLag;
    };
    for (const auto r : {Range{2208, 48, 600}, Range{2028, 44, 551}, Range{368, 8, 100},
                         Range{46, 2, 12}, Range{46, 2, 45}, Range{40, 2, 33}})
    {
        for (juce::int64 seed = 1; seed <= 20; ++seed)
        {
            // A decaying pulse train with noise: many lags with close sums.
            auto w = noise(r.length, seed);
            const int period = r.minLag + static_cast<int>(seed) % (r.maxLag - r.minLag + 1);
            for (int i = 0; i < r.length; i += period)
                w[static_cast<size_t>(i)] += 4.0f;

            int expected = 0;
            float best = 0.0f;
            for (int lag = r.minLag; lag <= r.maxLag; ++lag)
            {
                float sum = 0.0f;
                for (int i = 0; i < r.length - lag; ++i)
                    sum += w[static_cast<size_t>(i)] * w[static_cast<size_t>(i + lag)];
                if (sum > best)
                {
                    best = sum;
                    expected = lag;
                }
            }
            ASSERT_EQ(Autotune::findBestLag(w.data(), r.length, {r.minLag, r.maxLag}), expected)
                << "length " << r.length << " seed " << seed;
        }
    }
}

// ---------------------------------------------------------------------------
// The stage

class AutotuneRestTest : public AutotuneStageTest, public ::testing::WithParamInterface<float>
{
};

TEST_P(AutotuneRestTest, BeforeTheFirstAnalysisOutputEqualsInput)
{
    const float mix = GetParam();
    prepare(2, switchedOn(0, 0, 1.0f, mix));
    Channels ch = {sine(toneHz, rate, window - 1), noise(window - 1, 3)};
    const Channels input = ch;
    run(stage, ch, {1, 7, 256, 1000});

    // Exact at the ends of the mix range, within rounding in between.
    if (mix == 0.0f || mix == 1.0f)
    {
        EXPECT_EQ(ch, input);
    }
    for (size_t k = 0; k < 2; ++k)
    {
        for (size_t i = 0; i < input[k].size(); ++i)
            ASSERT_NEAR(ch[k][i], input[k][i], 1.0e-6f);
    }
    EXPECT_EQ(stage.getAnalysisIndex(), window - 1);
    EXPECT_EQ(stage.getTargetRatio(), 1.0f);
    EXPECT_EQ(stage.getCurrentRatio(), 1.0f);
    for (const auto& s : stage.getShifters())
    {
        EXPECT_EQ(s.getRate(), 1.0f);
        EXPECT_EQ(s.getOffset(), 0.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(Mixes, AutotuneRestTest, ::testing::Values(1.0f, 0.0f, 0.3f));

struct GlideCase
{
    float speed;
    float coefficient;
};

class AutotuneGlideTest : public AutotuneStageTest, public ::testing::WithParamInterface<GlideCase>
{
};

TEST_P(AutotuneGlideTest, RatioGlidesPerSampleAtSpeedCoefficient)
{
    const auto c = GetParam();
    prepare(1, switchedOn(0, 0, c.speed));
    const auto tone = sine(toneHz, rate, window + 1250);

    // The window fills on the last sample of the first block; the glide then
    // runs one step per sample from 1 towards the new target.
    Channels first = {std::vector<float>(tone.begin(), tone.begin() + window)};
    run(stage, first, {window - 1, 1});
    Channels rest = {std::vector<float>(tone.begin() + window, tone.end())};
    run(stage, rest, {100});

    const float target = stage.getTargetRatio();
    ASSERT_FLOAT_EQ(target, ratioFor(rate, 64, 79));
    float expected = 1.0f;
    for (int i = 0; i < 1251; ++i)
        expected = expected + (target - expected) * c.coefficient;
    EXPECT_NEAR(stage.getCurrentRatio(), expected, 1.0e-6f);
    EXPECT_EQ(stage.getShifters()[0].getRate(), stage.getCurrentRatio());
}

INSTANTIATE_TEST_SUITE_P(Speeds, AutotuneGlideTest,
                         ::testing::Values(GlideCase{0.0f, 0.0008f}, // time constant 1250 samples
                                           GlideCase{0.5f, 0.0308f}, GlideCase{1.0f, 0.0608f},
                                           GlideCase{-2.0f, 0.0008f},  // held at speed 0
                                           GlideCase{3.0f, 0.0608f})); // held at speed 1

TEST_F(AutotuneStageTest, TheWindowFillsAcrossBlocksAndIsAnalysedWhenFull)
{
    prepare(1);
    const auto tone = sine(toneHz, rate, window);
    Channels most = {std::vector<float>(tone.begin(), tone.end() - 1)};
    run(stage, most, {1000});
    EXPECT_EQ(stage.getAnalysisIndex(), window - 1);
    EXPECT_EQ(stage.getTargetRatio(), 1.0f);

    Channels last = {{tone.back()}};
    run(stage, last);
    EXPECT_EQ(stage.getAnalysisIndex(), 0);
    EXPECT_FLOAT_EQ(stage.getTargetRatio(), ratioFor(rate, 64, 79));
}

TEST_F(AutotuneStageTest, MixZeroPassesInputWhileStateAdvances)
{
    prepare(2, switchedOn(0, 0, 1.0f, 0.0f));
    Channels ch = {sine(toneHz, rate, 3 * window), sine(toneHz, rate, 3 * window)};
    const Channels input = ch;
    run(stage, ch);

    EXPECT_EQ(ch, input);
    EXPECT_FLOAT_EQ(stage.getTargetRatio(), ratioFor(rate, 64, 79));
    EXPECT_GT(stage.getCurrentRatio(), 1.04f);
    for (const auto& s : stage.getShifters())
    {
        EXPECT_EQ(s.getWritePos(), (3 * window) % PitchShifter::size);
        EXPECT_GT(s.getOffset(), 0.0f);
    }
}

class AutotuneSwitchTest : public AutotuneStageTest, public ::testing::WithParamInterface<float>
{
};

TEST_P(AutotuneSwitchTest, SwitchedOffFreezesAndResumes)
{
    const int length = 3 * window;
    const Channels tone = {sine(toneHz, rate, length), sine(toneHz, rate, length, 0.25f)};

    // Reference: on for the whole signal.
    prepare(2);
    Channels reference = tone;
    run(stage, reference, {500});

    // Same signal with a switched-off block of other audio in the middle.
    prepare(2);
    Channels first = {std::vector<float>(tone[0].begin(), tone[0].begin() + 3000),
                      std::vector<float>(tone[1].begin(), tone[1].begin() + 3000)};
    run(stage, first, {500});

    const StageState frozen(stage);
    stage.updateParameters({GetParam(), 0.0f, 0.0f, 1.0f, 1.0f});
    Channels other = {noise(1500, 11), noise(1500, 12)};
    const Channels otherInput = other;
    run(stage, other);
    EXPECT_EQ(other, otherInput);
    EXPECT_TRUE(StageState(stage) == frozen);

    stage.updateParameters(switchedOn());
    Channels rest = {std::vector<float>(tone[0].begin() + 3000, tone[0].end()),
                     std::vector<float>(tone[1].begin() + 3000, tone[1].end())};
    run(stage, rest, {500});
    for (size_t k = 0; k < 2; ++k)
        EXPECT_TRUE(std::equal(rest[k].begin(), rest[k].end(), reference[k].begin() + 3000));
}

INSTANTIATE_TEST_SUITE_P(OffValues, AutotuneSwitchTest, ::testing::Values(0.0f, 0.5f));

TEST_F(AutotuneStageTest, EmptyBlocksChangeNothing)
{
    prepare(2);
    Channels ch = {sine(toneHz, rate, 3000), sine(toneHz, rate, 3000)};
    run(stage, ch);
    const StageState before(stage);

    juce::AudioBuffer<float> noSamples(2, 0);
    stage.process(noSamples);
    juce::AudioBuffer<float> noChannels(0, 512);
    stage.process(noChannels);

    EXPECT_TRUE(StageState(stage) == before);
}

struct QuietCase
{
    float amplitude;
    bool neutral;
};

class AutotuneQuietTest : public AutotuneStageTest, public ::testing::WithParamInterface<QuietCase>
{
};

TEST_P(AutotuneQuietTest, WindowsBelowTheGateSetNeutralRatio)
{
    prepare(1);
    Channels ch = {sine(toneHz, rate, window)};
    run(stage, ch);
    ASSERT_NE(stage.getTargetRatio(), 1.0f);

    // A sine's RMS is its amplitude / sqrt 2: the gate at 0.01 lies at 0.01414.
    Channels quiet = {sine(toneHz, rate, window, GetParam().amplitude)};
    run(stage, quiet);
    if (GetParam().neutral)
        EXPECT_EQ(stage.getTargetRatio(), 1.0f);
    else
        EXPECT_FLOAT_EQ(stage.getTargetRatio(), ratioFor(rate, 64, 79));
}

INSTANTIATE_TEST_SUITE_P(Levels, AutotuneQuietTest,
                         ::testing::Values(QuietCase{0.0f, true}, QuietCase{0.014f, true},
                                           QuietCase{0.0145f, false}));

TEST(AutotuneInTuneTest, SteadyA440InCMajorNeedsAlmostNoCorrection)
{
    for (const double rate : {44100.0, 48000.0})
    {
        Autotune stage;
        stage.prepare(rate, 1);
        stage.updateParameters(switchedOn(0, 0));
        Channels ch = {sine(440.0, rate, Autotune::windowLength(rate))};
        run(stage, ch);
        EXPECT_NEAR(stage.getTargetRatio(), 1.0f, 0.005f) << rate;
        EXPECT_NE(stage.getTargetRatio(), 1.0f) << "analysis ran";
    }
}

struct ToneCase
{
    int key;
    int scale;
    int note;
};

class AutotuneToneTest : public AutotuneStageTest, public ::testing::WithParamInterface<ToneCase>
{
};

TEST_P(AutotuneToneTest, ToneIsPulledToNearestScaleNote)
{
    const auto c = GetParam();
    prepare(1, switchedOn(c.key, c.scale));
    Channels ch = {sine(toneHz, rate, 48000)};
    run(stage, ch);

    EXPECT_FLOAT_EQ(stage.getTargetRatio(), ratioFor(rate, 64, c.note));
    const double measured = measureFrequency(ch[0], 8000, 48000, rate);
    EXPECT_NEAR(measured, noteFrequency(c.note), noteFrequency(c.note) * 0.001);
}

INSTANTIATE_TEST_SUITE_P(KeysAndScales, AutotuneToneTest,
                         ::testing::Values(ToneCase{0, 0, 79},   // C major: up to G
                                           ToneCase{0, 2, 78},   // chromatic: down to F#
                                           ToneCase{2, 0, 78},   // D major has F#
                                           ToneCase{9, 1, 79},   // A minor: up to G
                                           ToneCase{4, 1, 78},   // E minor has F#
                                           ToneCase{5, 0, 79})); // F major: G is nearer than F

TEST_F(AutotuneStageTest, SmallerLagWinsATieInTheAnalysis)
{
    // Three clicks 100 and 150 samples apart: lags 100, 150 and 250 all sum
    // to 1, so 480 Hz (MIDI 70.5, to B 71) wins over 320 Hz (to E 64).
    prepare(1);
    Channels ch = {std::vector<float>(window, 0.0f)};
    ch[0][0] = ch[0][100] = ch[0][250] = 1.0f;
    run(stage, ch);
    EXPECT_FLOAT_EQ(stage.getTargetRatio(), ratioFor(rate, 100, 71));
}

class AutotuneLongBlockTest : public AutotuneStageTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(AutotuneLongBlockTest, LongBlockAnalysesEachWindowAndGlidesToTheLast)
{
    const bool toneFirst = GetParam();
    prepare(1, switchedOn(0, 0, 0.3f));
    const auto tone = sine(toneHz, rate, window);
    const std::vector<float> silence(window, 0.0f);

    Channels ch = {toneFirst ? tone : silence};
    ch[0].insert(ch[0].end(), (toneFirst ? silence : tone).begin(),
                 (toneFirst ? silence : tone).end());
    ch[0].insert(ch[0].end(), 5, 0.0f);
    run(stage, ch, {2 * window + 5});

    const float last = toneFirst ? 1.0f : ratioFor(rate, 64, 79);
    EXPECT_EQ(stage.getAnalysisIndex(), 5);
    EXPECT_FLOAT_EQ(stage.getTargetRatio(), last);

    // The whole block glided towards the last result.
    const float a = 0.3f * 0.06f + 0.0008f;
    float expected = 1.0f;
    for (int i = 0; i < 2 * window + 5; ++i)
        expected = expected + (stage.getTargetRatio() - expected) * a;
    EXPECT_EQ(stage.getCurrentRatio(), expected);
}

INSTANTIATE_TEST_SUITE_P(Orders, AutotuneLongBlockTest, ::testing::Values(true, false));

struct LayoutCase
{
    int prepared;
    int inBlock;
};

class AutotuneLayoutTest : public AutotuneStageTest,
                           public ::testing::WithParamInterface<LayoutCase>
{
};

TEST_P(AutotuneLayoutTest, EachPreparedChannelHasItsOwnShifterAtTheSameRate)
{
    const auto c = GetParam();
    const int length = 3 * window;

    // Mono reference for channel 0.
    prepare(1);
    Channels mono = {sine(toneHz, rate, length)};
    run(stage, mono);

    // Channel k carries channel 0 scaled by 2^-k, which the shifter keeps exact.
    prepare(c.prepared);
    Channels ch(static_cast<size_t>(c.inBlock));
    for (int k = 0; k < c.inBlock; ++k)
        ch[static_cast<size_t>(k)] = sine(toneHz, rate, length, std::ldexp(0.5f, -k));
    const Channels input = ch;
    run(stage, ch);

    EXPECT_EQ(ch[0], mono[0]);
    for (int k = 1; k < c.inBlock; ++k)
    {
        const auto& out = ch[static_cast<size_t>(k)];
        if (k < c.prepared)
        {
            for (int i = 0; i < length; ++i)
                ASSERT_EQ(out[static_cast<size_t>(i)],
                          std::ldexp(mono[0][static_cast<size_t>(i)], -k))
                    << "channel " << k << " sample " << i;
        }
        else
        {
            EXPECT_EQ(out, input[static_cast<size_t>(k)]) << "channel " << k;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, AutotuneLayoutTest,
                         ::testing::Values(LayoutCase{1, 1}, LayoutCase{2, 2}, LayoutCase{2, 1},
                                           LayoutCase{1, 3}, LayoutCase{2, 4}));

class AutotuneLowRateTest : public ::testing::TestWithParam<double>
{
};

TEST_P(AutotuneLowRateTest, UnusableSampleRatesAreRaisedInPrepare)
{
    Autotune stage;
    stage.prepare(GetParam(), 1);
    stage.updateParameters(switchedOn());

    EXPECT_EQ(stage.sampleRate, Autotune::minSampleRate);
    EXPECT_EQ(static_cast<int>(stage.getAnalysisBuffer().size()), 4);

    // The lag range is empty at this rate, so nothing gets corrected.
    Channels ch = {noise(1000, 5)};
    const Channels input = ch;
    run(stage, ch, {37});
    EXPECT_EQ(ch, input);
    EXPECT_EQ(stage.getTargetRatio(), 1.0f);
}

INSTANTIATE_TEST_SUITE_P(Rates, AutotuneLowRateTest,
                         ::testing::Values(21.9, 0.0, -48000.0,
                                           std::numeric_limits<double>::quiet_NaN()));

// ---------------------------------------------------------------------------
// PitchShifter

TEST(PitchShifterTest, AtRestOutputEqualsInput)
{
    PitchShifter shifter;
    const auto x = noise(10000, 21);
    for (const float v : x)
        ASSERT_EQ(shifter.processSample(v), v);
    EXPECT_EQ(shifter.getOffset(), 0.0f);
    EXPECT_EQ(shifter.getWritePos(), 10000 % PitchShifter::size);
}

struct OffsetCase
{
    float rate;
    int samples;
    float offset;
};

class PitchShifterOffsetTest : public ::testing::TestWithParam<OffsetCase>
{
};

TEST_P(PitchShifterOffsetTest, OffsetMovesByOneMinusRateAndWrapsAtHalf)
{
    const auto c = GetParam();
    PitchShifter shifter;
    shifter.setRate(c.rate);
    for (int i = 0; i < c.samples; ++i)
        shifter.processSample(0.0f);
    EXPECT_EQ(shifter.getOffset(), c.offset);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, PitchShifterOffsetTest,
    ::testing::Values(OffsetCase{1.0f, 5000, 0.0f}, OffsetCase{0.5f, 1, 0.5f},
                      OffsetCase{0.5f, 4095, 2047.5f}, OffsetCase{0.5f, 4096, 0.0f}, // 2048 / 0.5
                      OffsetCase{0.75f, 100, 25.0f}, OffsetCase{1.5f, 1, 2047.5f},
                      OffsetCase{2.0f, 1, 2047.0f}, OffsetCase{2.0f, 2048, 0.0f},
                      OffsetCase{1.25f, 8192, 0.0f}, OffsetCase{3.0f, 1, 2047.0f}, // rate held at 2
                      OffsetCase{0.1f, 1, 0.5f})); // rate held at 0.5

struct BlendCase
{
    float offset;
    float g;
};

class PitchShifterBlendTest : public ::testing::TestWithParam<BlendCase>
{
};

TEST_P(PitchShifterBlendTest, AtRateOneOutputBlendsTwoDelays)
{
    // Walk tap A back to the offset at rate 0.5, then hold it at rate 1 and
    // feed a ramp, whose delayed copies are easy to tell apart.
    const auto c = GetParam();
    PitchShifter shifter;
    shifter.setRate(0.5f);
    int t = 0;
    for (; t < static_cast<int>(2.0f * c.offset); ++t)
        shifter.processSample(static_cast<float>(t));
    shifter.setRate(1.0f);
    ASSERT_EQ(shifter.getOffset(), c.offset);

    for (; t < 9000; ++t)
    {
        const float y = shifter.processSample(static_cast<float>(t));
        if (t >= 8000)
        {
            const float expected = (1.0f - c.g) * (static_cast<float>(t) - c.offset) +
                                   c.g * (static_cast<float>(t) - c.offset - 2048.0f);
            ASSERT_NEAR(y, expected, 0.01f) << "t " << t;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Offsets, PitchShifterBlendTest,
                         ::testing::Values(BlendCase{0.0f, 0.0f}, BlendCase{256.0f, 0.14644661f},
                                           BlendCase{512.0f, 0.5f}, BlendCase{1024.0f, 1.0f},
                                           BlendCase{1536.0f, 0.5f}));

class PitchShifterRateTest : public ::testing::TestWithParam<float>
{
};

TEST_P(PitchShifterRateTest, TransposesByRate)
{
    // 16 periods in 2048 samples: the taps' jumps by half a buffer land on
    // the same phase, so the output is a clean tone at rate times the input.
    const double rate = 48000.0, input = 375.0;
    const auto x = sine(input, rate, 24576);
    PitchShifter shifter;
    std::vector<float> y(x.size());
    for (size_t i = 0; i < x.size(); ++i)
    {
        if (i == 4096)
            shifter.setRate(GetParam());
        y[i] = shifter.processSample(x[i]);
    }
    const double expected = input * GetParam();
    EXPECT_NEAR(measureFrequency(y, 4200, 24576, rate), expected, expected * 0.001);
}

INSTANTIATE_TEST_SUITE_P(Rates, PitchShifterRateTest,
                         ::testing::Values(0.5f, 0.75f, 0.943874f, 1.0f, 1.059463f, 1.5f, 2.0f));
