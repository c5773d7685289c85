#include "dsp/Vocoder.h"

#include <benchmark/benchmark.h>

// Cost of the vocoder per sample at 48 kHz stereo, for each carrier.
static void BM_VocoderStereo48k(benchmark::State& state)
{
    constexpr int blockSize = 512;
    Vocoder vocoder;
    vocoder.prepare(48000.0, 2);
    Vocoder::Parameters p;
    p.on = 1.0f;
    p.carrier = (float)state.range(0);
    vocoder.updateParameters(p);

    juce::AudioBuffer<float> input(2, blockSize), block(2, blockSize);
    juce::Random random(1);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < blockSize; ++i)
            input.setSample(ch, i,
                            0.5f * std::sin(0.0288f * (float)i) +
                                0.1f * (random.nextFloat() * 2.0f - 1.0f));

    for (auto _ : state)
    {
        for (int ch = 0; ch < 2; ++ch)
            block.copyFrom(ch, 0, input, ch, 0, blockSize);
        vocoder.process(block);
        benchmark::DoNotOptimize(block.getReadPointer(0));
        benchmark::ClobberMemory();
    }

    state.SetItemsProcessed(state.iterations() * blockSize);
    // Seconds per stereo sample frame.
    state.counters["per_sample"] =
        benchmark::Counter((double)blockSize, benchmark::Counter::kIsIterationInvariantRate |
                                                  benchmark::Counter::kInvert);
}
BENCHMARK(BM_VocoderStereo48k)->ArgName("carrier")->Arg(0)->Arg(1)->Arg(2);
