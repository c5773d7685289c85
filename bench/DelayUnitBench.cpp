#include <benchmark/benchmark.h>

#include "dsp/DelayUnit.h"

// One stereo block of 512 samples at 48 kHz per iteration, with a glide in
// progress; the argument is the mode.
static void DelayUnitStereoBlock(benchmark::State& state)
{
    DelayUnit unit;
    unit.prepare(48000.0, 2);
    DelayUnit::Parameters p;
    p.mode = (float)state.range(0);
    unit.updateParameters(p);
    p.time = 700.0f;
    unit.updateParameters(p);

    juce::AudioBuffer<float> buffer(2, 512);
    juce::Random random(7);
    for (auto _ : state)
    {
        for (int ch = 0; ch < 2; ++ch)
            for (int n = 0; n < 512; ++n)
                buffer.setSample(ch, n, random.nextFloat() - 0.5f);
        unit.process(buffer);
        benchmark::DoNotOptimize(buffer.getReadPointer(0));
    }
    state.SetItemsProcessed(state.iterations() * 512);
}
BENCHMARK(DelayUnitStereoBlock)->DenseRange(0, 3);
