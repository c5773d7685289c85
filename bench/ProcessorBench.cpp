// The whole station at 48 kHz stereo, block by block as a host drives it.
//
// Each benchmark is one configuration at one block size. It runs several
// passes; each pass builds a fresh processor, sets it up (switches, loop
// layers), warms it up for half a second and then times 20 s of audio block
// by block. Every pass feeds the same input, so block k does the same work in
// every pass: the smallest time a block took in any pass is its cost without
// the other programs on this machine, and the largest of those minima is the
// worst block. Counters:
//   rtf, rtf_best   seconds of audio per second of thread CPU time, median and
//                   best pass
//   worst_pct       worst block as a percentage of its real-time budget
//                   (64 samples at 48 kHz: 1.333 ms), as above
//   worst_pass_pct  the same from the median pass alone, preemptions included
//   layers          loop layers playing while timed
//   inst_MB         heap held by one prepared instance, its loop included
//   peak_MB         peak resident memory of this process so far
//
//   lumiro_bench --benchmark_filter=Processor --benchmark_counters_tabular=true

#include <benchmark/benchmark.h>

#include "plugin/LumiroLooperProcessor.h"

#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

namespace
{
constexpr double sampleRate = 48000.0;
constexpr double timedSeconds = 20.0;
constexpr double warmUpSeconds = 0.5;
constexpr double takeSeconds = 4.0;     // two bars at 120 bpm
constexpr double overdubSeconds = 0.25; // each pass adds a full-length layer
constexpr int passes = 5;

struct Setting
{
    const char* id;
    float value;
};

struct Configuration
{
    const char* name;
    std::vector<Setting> settings; // on top of a fresh instance's defaults
    int layers;
};

// A fresh instance has only the delay on; every "alone" row switches it off.
const std::vector<Configuration>& configurations()
{
    static const std::vector<Configuration> list = {
        {"DefaultDelayAlone", {}, 0},
        {"AutotuneAlone", {{"dlOn", 0.0f}, {"atOn", 1.0f}}, 0},
        {"VocoderAlone", {{"dlOn", 0.0f}, {"vcOn", 1.0f}}, 0},
        {"OctaverAlone", {{"dlOn", 0.0f}, {"octOn", 1.0f}}, 0},
        {"FilterzAlone", {{"dlOn", 0.0f}, {"fzOn", 1.0f}}, 0},
        // "Whale/Ethereal" sweeps its low-pass every sample.
        {"FilterzSweepAlone", {{"dlOn", 0.0f}, {"fzOn", 1.0f}, {"fzPreset", 2.0f}}, 0},
        {"ScratcherAlone", {{"dlOn", 0.0f}, {"scOn", 1.0f}}, 0},
        {"AllSix8Layers",
         {{"atOn", 1.0f}, {"vcOn", 1.0f}, {"octOn", 1.0f}, {"fzOn", 1.0f}, {"scOn", 1.0f}},
         8},
        {"Looper8Layers", {{"dlOn", 0.0f}}, 8},
        {"Looper32Layers", {{"dlOn", 0.0f}}, 32},
    };
    return list;
}

// Ten seconds of a sung line in stereo: a legato glide through a fifth with
// vibrato, harmonics that change with the vowel, breath noise, and a right
// channel a little behind and darker than the left. Loud enough throughout
// that every pitch analysis does its full search.
juce::AudioBuffer<float> makeInput()
{
    const int length = 1 << 19;
    juce::AudioBuffer<float> input(2, length);
    juce::Random random(12);
    double phase = 0.0;
    float previous = 0.0f;
    for (int i = 0; i < length; ++i)
    {
        const double t = i / sampleRate;
        const double glide = 0.5 - 0.5 * std::cos(2.0 * juce::MathConstants<double>::pi * t / 3.1);
        const double vibrato = 0.3 * std::sin(2.0 * juce::MathConstants<double>::pi * 5.3 * t);
        const double f0 = 196.0 * std::pow(2.0, (7.0 * glide + vibrato) / 12.0);
        phase += f0 / sampleRate;
        phase -= std::floor(phase);

        const double vowel = 0.5 + 0.5 * std::sin(2.0 * juce::MathConstants<double>::pi * t / 1.7);
        double v = 0.0;
        for (int k = 1; k <= 12; ++k)
            v += std::pow(0.55 + 0.3 * vowel, k) *
                 std::sin(2.0 * juce::MathConstants<double>::pi * k * phase);

        const float left = (float)(0.3 * v) + 0.02f * (random.nextFloat() - 0.5f);
        input.setSample(0, i, left);
        input.setSample(1, i, 0.7f * left + 0.25f * previous);
        previous = left;
    }
    return input;
}

const juce::AudioBuffer<float>& input()
{
    static const juce::AudioBuffer<float> buffer = makeInput();
    return buffer;
}

double threadSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return (double)ts.tv_sec + 1.0e-9 * (double)ts.tv_nsec;
}

double heapBytes()
{
    const auto info = mallinfo2();
    return (double)info.uordblks + (double)info.hblkhd;
}

double peakResidentMB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (double)usage.ru_maxrss / 1024.0;
}

// One processor fed from the looping input, one block at a time.
struct Rig
{
    Rig(const Configuration& config, int blockSize)
        : processor(std::make_unique<LumiroLooperProcessor>()), block(2, blockSize)
    {
        for (const auto& s : config.settings)
        {
            auto* param = processor->apvts.getParameter(s.id);
            param->setValueNotifyingHost(param->convertTo0to1(s.value));
        }
        processor->prepareToPlay(sampleRate, blockSize);
    }

    void fill()
    {
        const auto& source = input();
        const int n = block.getNumSamples();
        for (int ch = 0; ch < 2; ++ch)
        {
            const float* from = source.getReadPointer(ch);
            float* to = block.getWritePointer(ch);
            for (int i = 0; i < n; ++i)
                to[i] = from[(position + i) & (source.getNumSamples() - 1)];
        }
        position = (position + n) & (source.getNumSamples() - 1);
    }

    void step()
    {
        fill();
        processor->processBlock(block, midi);
    }

    void run(double seconds)
    {
        const int blocks = (int)std::ceil(seconds * sampleRate / block.getNumSamples());
        for (int b = 0; b < blocks; ++b)
            step();
    }

    // A take of two bars, then one overdub pass per further layer.
    void buildLoop(int layers)
    {
        if (layers < 1)
            return;
        auto& looper = processor->looper;
        looper.recordPressed();
        run(takeSeconds);
        looper.recordPressed();
        for (int l = 1; l < layers; ++l)
        {
            looper.recordPressed();
            run(overdubSeconds);
            looper.recordPressed();
        }
    }

    std::unique_ptr<LumiroLooperProcessor> processor;
    juce::AudioBuffer<float> block;
    juce::MidiBuffer midi;
    int position = 0;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

void runConfiguration(benchmark::State& state, const Configuration& config)
{
    const int blockSize = (int)state.range(0);
    const int blocks = (int)std::ceil(timedSeconds * sampleRate / blockSize);
    const double audioSeconds = (double)blocks * blockSize / sampleRate;
    const double budget = blockSize / sampleRate;

    // blockTimes[pass][k], sized before any timing starts.
    std::vector<std::vector<double>> blockTimes((size_t)passes,
                                                std::vector<double>((size_t)blocks));
    std::vector<double> cpuSeconds;
    std::vector<double> passWorst;
    double instanceBytes = 0.0;
    int layers = 0;

    for (auto _ : state)
    {
        cpuSeconds.clear();
        passWorst.clear();
        for (int pass = 0; pass < passes; ++pass)
        {
            const double heapBefore = heapBytes();
            Rig rig(config, blockSize);
            rig.buildLoop(config.layers);
            rig.run(warmUpSeconds);
            instanceBytes = heapBytes() - heapBefore;
            layers = rig.processor->looper.getNumLayers();

            auto& times = blockTimes[(size_t)pass];
            const double cpuStart = threadSeconds();
            for (int k = 0; k < blocks; ++k)
            {
                rig.fill();
                const auto start = std::chrono::steady_clock::now();
                rig.processor->processBlock(rig.block, rig.midi);
                const auto end = std::chrono::steady_clock::now();
                times[(size_t)k] = std::chrono::duration<double>(end - start).count();
            }
            cpuSeconds.push_back(threadSeconds() - cpuStart);
            passWorst.push_back(*std::max_element(times.begin(), times.end()));
            benchmark::DoNotOptimize(rig.block.getReadPointer(0));
        }
        state.SetIterationTime(median(cpuSeconds));
    }

    double worst = 0.0;
    for (int k = 0; k < blocks; ++k)
    {
        double fastest = blockTimes[0][(size_t)k];
        for (int pass = 1; pass < passes; ++pass)
            fastest = std::min(fastest, blockTimes[(size_t)pass][(size_t)k]);
        worst = std::max(worst, fastest);
    }

    state.counters["rtf"] = audioSeconds / median(cpuSeconds);
    state.counters["rtf_best"] =
        audioSeconds / *std::min_element(cpuSeconds.begin(), cpuSeconds.end());
    state.counters["worst_pct"] = 100.0 * worst / budget;
    state.counters["worst_pass_pct"] = 100.0 * median(passWorst) / budget;
    state.counters["layers"] = layers;
    state.counters["inst_MB"] = instanceBytes / (1024.0 * 1024.0);
    state.counters["peak_MB"] = peakResidentMB();
}

const bool registered = []
{
    for (const auto& config : configurations())
    {
        const std::string name = std::string("Processor/") + config.name;
        benchmark::RegisterBenchmark(name.c_str(), [&config](benchmark::State& state)
                                     { runConfiguration(state, config); })
            ->Arg(64)
            ->Arg(128)
            ->Arg(512)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();
} // namespace
