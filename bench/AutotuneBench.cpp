#include "dsp/Autotune.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <vector>

namespace
{
constexpr double sampleRate = 48000.0;

// A sung-like tone: 220 Hz with a few harmonics and a little breath noise.
std::vector<float> voice(int length)
{
    juce::Random random(1);
    std::vector<float> x(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i)
    {
        const double phase = 2.0 * 3.14159265358979323846 * 223.0 * i / sampleRate;
        x[static_cast<size_t>(i)] =
            static_cast<float>(0.4 * std::sin(phase) + 0.2 * std::sin(2.0 * phase) +
                               0.1 * std::sin(3.0 * phase)) +
            0.01f * (random.nextFloat() - 0.5f);
    }
    return x;
}

// Feeds the stage one stereo block at a time from a looping source signal.
struct StereoFeed
{
    explicit StereoFeed(int blockSize) : block(2, blockSize), source(voice(1 << 16)) {}

    void next(Autotune& stage)
    {
        for (int k = 0; k < 2; ++k)
        {
            float* out = block.getWritePointer(k);
            for (int i = 0; i < block.getNumSamples(); ++i)
                out[i] = source[(position + static_cast<size_t>(i)) & (source.size() - 1)];
        }
        position = (position + static_cast<size_t>(block.getNumSamples())) & (source.size() - 1);
        stage.process(block);
    }

    juce::AudioBuffer<float> block;
    std::vector<float> source;
    size_t position = 0;
};

Autotune preparedStage()
{
    Autotune stage;
    stage.prepare(sampleRate, 2);
    stage.updateParameters({1.0f, 0.0f, 0.0f, 0.7f, 1.0f});
    return stage;
}
} // namespace

// Mean cost over a long run, analyses included, reported per stereo sample.
static void BM_AutotuneStereo48k(benchmark::State& state)
{
    const int blockSize = static_cast<int>(state.range(0));
    Autotune stage = preparedStage();
    StereoFeed feed(blockSize);

    for (auto _ : state)
    {
        feed.next(stage);
        benchmark::DoNotOptimize(feed.block.getReadPointer(0));
    }
    state.SetItemsProcessed(state.iterations() * blockSize);
    state.counters["per_sample"] = benchmark::Counter(
        blockSize, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AutotuneStereo48k)->Arg(64)->Arg(512)->Arg(2048);

// Cost of the one block in which the analysis window fills, timed alone.
static void BM_AutotuneAnalysisBlock48k(benchmark::State& state)
{
    const int blockSize = static_cast<int>(state.range(0));
    const int window = Autotune::windowLength(sampleRate);
    Autotune stage = preparedStage();
    StereoFeed feed(blockSize);

    for (auto _ : state)
    {
        while (stage.getAnalysisIndex() + blockSize < window)
            feed.next(stage);

        const auto start = std::chrono::high_resolution_clock::now();
        feed.next(stage);
        const auto end = std::chrono::high_resolution_clock::now();
        benchmark::DoNotOptimize(feed.block.getReadPointer(0));
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
}
BENCHMARK(BM_AutotuneAnalysisBlock48k)->Arg(64)->Arg(512)->UseManualTime();

// The lag search of one 48 kHz window: one lag at a time versus several
// lags per pass over the window (same sums, bit for bit).
static void BM_AutotuneLagSearchOneLagAtATime(benchmark::State& state)
{
    const auto window = voice(Autotune::windowLength(sampleRate));
    const int length = static_cast<int>(window.size());
    const auto range = Autotune::lagRange(sampleRate, length);

    for (auto _ : state)
    {
        float best = 0.0f;
        int bestLag = 0;
        for (int lag = range.minLag; lag <= range.maxLag; ++lag)
        {
            const float sum = Autotune::correlateLag(window.data(), length, lag);
            if (sum > best)
            {
                best = sum;
                bestLag = lag;
            }
        }
        benchmark::DoNotOptimize(bestLag);
    }
}
BENCHMARK(BM_AutotuneLagSearchOneLagAtATime);

static void BM_AutotuneLagSearchSeveralLags(benchmark::State& state)
{
    const auto window = voice(Autotune::windowLength(sampleRate));
    const int length = static_cast<int>(window.size());
    const auto range = Autotune::lagRange(sampleRate, length);

    for (auto _ : state)
        benchmark::DoNotOptimize(Autotune::findBestLag(window.data(), length, range));
}
BENCHMARK(BM_AutotuneLagSearchSeveralLags);
