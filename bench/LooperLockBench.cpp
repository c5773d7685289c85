// How long the audio thread's looper step can take while a one-minute stereo
// take at 48 kHz is started and closed from another thread. The step starts
// by taking the looper's spin lock, so its longest run is the longest wait
// for that lock plus a few microseconds of audio work.
//
// BM_TakeWithLockHeldThroughCopy replays the commands as a lock-everything
// design would run them: zeroing the take, allocating the first layer and
// copying the take into it, all while holding the lock the audio step needs.
// BM_TakeWithLooper runs the same take through Looper itself.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "looper/Looper.h"

namespace
{
constexpr double rate = 48000.0;
constexpr int channels = 2;
constexpr int blockSize = 64;
constexpr int takeSamples = 2880000; // one minute at 48 kHz
constexpr int takeBlocks = takeSamples / blockSize;

using Clock = std::chrono::steady_clock;

// Longest audio step, in microseconds, that overlapped each command.
struct Longest
{
    double start = 0.0; // the take is started
    double close = 0.0; // the take is closed into the first layer
};

// Runs `step` block after block on an audio thread while `commands` runs on
// this thread; `command(index, f)` wraps each command (0 starts the take, 1
// closes it) so the blocks that overlap it are told apart. The take itself
// is recorded flat out; around each command the audio thread rests between
// blocks as a real one does, so it has a core to itself when a block starts
// and a long step means it waited for the lock.
template <typename Step, typename Commands> Longest runTake(Step step, Commands commands)
{
    std::atomic<bool> running{true};
    std::atomic<int> runningCommand{-1};
    std::atomic<int> blocksDone{0};
    std::atomic<bool> paced{false};
    double longest[2] = {0.0, 0.0};

    std::thread audio(
        [&]
        {
            while (running.load())
            {
                const int before = runningCommand.load();
                const auto start = Clock::now();
                step();
                const double micros =
                    std::chrono::duration<double, std::micro>(Clock::now() - start).count();
                const int after = runningCommand.load();

                for (const int index : {before, after})
                    if (index >= 0)
                        longest[index] = std::max(longest[index], micros);
                blocksDone.fetch_add(1);
                if (paced.load())
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
        });

    auto waitBlocks = [&](int n)
    {
        const int target = blocksDone.load() + n;
        while (blocksDone.load() < target)
            std::this_thread::yield();
    };
    auto command = [&](int index, auto&& f)
    {
        paced.store(true);
        waitBlocks(20);
        runningCommand.store(index);
        f();
        runningCommand.store(-1);
        waitBlocks(20);
        paced.store(false);
    };

    commands(waitBlocks, command);
    running.store(false);
    audio.join();
    return {longest[0], longest[1]};
}

// A descheduled audio thread also makes a long step, and this machine is
// shared; the lock's own wait shows in every run, so the median over the runs
// is the figure to read, the maximum the worst seen.
void report(benchmark::State& state, std::vector<Longest> runs)
{
    auto median = [&](double Longest::*field)
    {
        std::vector<double> v;
        for (const auto& r : runs)
            v.push_back(r.*field);
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    auto worst = [&](double Longest::*field)
    {
        double m = 0.0;
        for (const auto& r : runs)
            m = std::max(m, r.*field);
        return m;
    };
    state.counters["start_median_us"] = median(&Longest::start);
    state.counters["close_median_us"] = median(&Longest::close);
    state.counters["start_worst_us"] = worst(&Longest::start);
    state.counters["close_worst_us"] = worst(&Longest::close);
}

void BM_TakeWithLockHeldThroughCopy(benchmark::State& state)
{
    juce::AudioBuffer<float> input(channels, blockSize);
    for (int c = 0; c < channels; ++c)
        for (int s = 0; s < blockSize; ++s)
            input.setSample(c, s, 0.001f * static_cast<float>(s - c));

    std::vector<Longest> runs;
    for (auto _ : state)
    {
        juce::SpinLock lock;
        juce::AudioBuffer<float> take(channels, takeSamples);
        take.clear();
        take.setNotClear(); // as after an earlier take, so zeroing does its work
        int recordPosition = 0;
        bool recording = false;
        std::unique_ptr<juce::AudioBuffer<float>> layer;

        const auto longest = runTake(
            [&]
            {
                const juce::SpinLock::ScopedLockType hold(lock);
                const int n = std::min(blockSize, takeSamples - recordPosition);
                if (!recording || n <= 0)
                    return;
                for (int c = 0; c < channels; ++c)
                    take.copyFrom(c, recordPosition, input, c, 0, n);
                recordPosition += n;
            },
            [&](auto waitBlocks, auto command)
            {
                waitBlocks(100);
                command(0,
                        [&]
                        {
                            const juce::SpinLock::ScopedLockType hold(lock);
                            take.clear();
                            recordPosition = 0;
                            recording = true;
                        });
                waitBlocks(takeBlocks + 100);
                command(1,
                        [&]
                        {
                            const juce::SpinLock::ScopedLockType hold(lock);
                            const int length = std::max(recordPosition, 1);
                            layer = std::make_unique<juce::AudioBuffer<float>>(channels, length);
                            for (int c = 0; c < channels; ++c)
                                layer->copyFrom(c, 0, take, c, 0, length);
                            recording = false;
                        });
                waitBlocks(100);
            });

        runs.push_back(longest);
        benchmark::DoNotOptimize(layer.get());
    }
    report(state, runs);
}

void BM_TakeWithLooper(benchmark::State& state)
{
    juce::AudioBuffer<float> input(channels, blockSize);
    for (int c = 0; c < channels; ++c)
        for (int s = 0; s < blockSize; ++s)
            input.setSample(c, s, 0.001f * static_cast<float>(s - c));

    std::vector<Longest> runs;
    for (auto _ : state)
    {
        Looper looper;
        looper.prepare(rate, channels);
        juce::AudioBuffer<float> buffer(channels, blockSize);

        const auto longest = runTake(
            [&]
            {
                for (int c = 0; c < channels; ++c)
                    buffer.copyFrom(c, 0, input, c, 0, blockSize);
                looper.process(buffer);
            },
            [&](auto waitBlocks, auto command)
            {
                // A short take first, so the measured one finds the take
                // memory used and really zeroes it.
                looper.recordPressed();
                waitBlocks(100);
                looper.clear();
                command(0, [&] { looper.recordPressed(); });
                waitBlocks(takeBlocks + 100);
                command(1, [&] { looper.recordPressed(); });
                waitBlocks(100);
            });

        if (looper.getLoopState() != LoopState::Playing)
            state.SkipWithError("the take did not close");
        runs.push_back(longest);
    }
    report(state, runs);
}
} // namespace

BENCHMARK(BM_TakeWithLockHeldThroughCopy)
    ->Iterations(9)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TakeWithLooper)->Iterations(9)->UseRealTime()->Unit(benchmark::kMillisecond);
