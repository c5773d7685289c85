#include <gtest/gtest.h>

#include "AllocationCounter.h"
#include "StationRig.h"

// The audio thread must never touch the heap once a stage has seen its first
// block: every stage configuration and every looper state is run through
// processBlock inside a counting scope, at block sizes from 0 to 8192 (larger
// than the size given to prepareToPlay).
namespace
{
constexpr int blockSizes[] = {512, 0, 1, 441, 8192, 64};

class AudioThreadAllocation : public ::testing::TestWithParam<int>
{
  protected:
    void SetUp() override
    {
        if (!allocation_counter::isAvailable())
            GTEST_SKIP() << "allocation counting is compiled out in sanitizer builds";

        rig::setLayout(processor, GetParam());
        processor.setPlayHead(&playHead);
        playHead.position = rig::makePosition(120.0, 4, 4);
    }

    void TearDown() override { processor.setPlayHead(nullptr); }

    // Prepares and runs the one block that may still allocate lazily.
    void prepare()
    {
        processor.prepareToPlay(48000.0, 512);
        block(512);
    }

    allocation_counter::Counts block(int numSamples)
    {
        buffer.setSize(GetParam(), numSamples, false, false, true);
        rig::fillVoice(buffer, 48000.0, t);
        allocation_counter::Scope scope;
        rig::process(processor, buffer);
        return scope.counts();
    }

    // Runs one block of every size and returns the total count.
    std::size_t sweepBlockSizes()
    {
        std::size_t total = 0;
        for (int n : blockSizes)
        {
            const auto c = block(n);
            total += c.allocations + c.frees;
        }
        return total;
    }

    LumiroLooperProcessor processor;
    rig::StubPlayHead playHead;
    juce::AudioBuffer<float> buffer{2, 8192};
    std::int64_t t = 0;
};

TEST_P(AudioThreadAllocation, NoneInAnyStageConfigurationWhileOverdubbing)
{
    prepare();
    std::size_t looperBlocks = 0;
    rig::runSteps(processor.looper, "R...R.R..R.R.", [&] { looperBlocks += sweepBlockSizes(); });
    EXPECT_EQ(looperBlocks, 0u) << "while building the loop";

    for (const auto& config : rig::stageConfigurations(processor))
    {
        rig::resetToDefaults(processor);
        rig::apply(processor, config.settings);
        EXPECT_EQ(sweepBlockSizes(), 0u) << config.name;
    }
}

TEST_P(AudioThreadAllocation, NoneInAnyLooperState)
{
    for (const auto& scenario : rig::loopScenarios())
    {
        rig::resetToDefaults(processor);
        for (const auto& id : rig::stageSwitches())
            rig::set(processor, id, 1.0f);
        prepare();

        std::size_t total = 0;
        rig::runSteps(processor.looper, scenario.steps, [&] { total += sweepBlockSizes(); });
        total += sweepBlockSizes();

        EXPECT_EQ(total, 0u) << scenario.name;
        EXPECT_EQ((int)processor.looper.getLoopState(), (int)scenario.expectedState)
            << scenario.name;
        EXPECT_EQ(processor.looper.getNumLayers(), scenario.expectedLayers) << scenario.name;
    }
}

TEST_P(AudioThreadAllocation, NoneWhenTheTempoChanges)
{
    prepare();
    rig::runSteps(processor.looper, "R..R", [&] { block(512); });
    for (const auto& id : rig::stageSwitches())
        rig::set(processor, id, 1.0f);
    rig::set(processor, "dlSync", 1.0f);
    rig::set(processor, "loopSync", 1.0f);

    for (double bpm : {120.0, 60.0, 200.0, 33.3, 300.0, 0.0, -5.0})
    {
        playHead.position = rig::makePosition(bpm, 7, 8);
        EXPECT_EQ(sweepBlockSizes(), 0u) << bpm << " bpm";
    }
}

INSTANTIATE_TEST_SUITE_P(MonoAndStereo, AudioThreadAllocation, ::testing::Values(1, 2),
                         [](const auto& info)
                         { return info.param == 1 ? std::string("Mono") : std::string("Stereo"); });

TEST(AllocationCounter, SeesOperatorNewAndMallocOnlyInsideTheScope)
{
    if (!allocation_counter::isAvailable())
        GTEST_SKIP() << "allocation counting is compiled out in sanitizer builds";

    // The pointers escape through volatiles so the optimiser cannot drop the
    // allocate/free pairs.
    static int* volatile sink = nullptr;
    static float* volatile heapSink = nullptr;
    auto* outside = new int(1);
    allocation_counter::Counts counts;
    {
        allocation_counter::Scope scope;
        sink = new int(2);
        delete sink;
        juce::HeapBlock<float> heap(16); // the framework's buffers allocate through malloc
        heapSink = heap.get();
        heap.free();
        counts = scope.counts();
    }
    delete outside;
    EXPECT_NE(heapSink, nullptr);
    EXPECT_EQ(counts.allocations, 2u);
    EXPECT_EQ(counts.frees, 2u);
}
} // namespace
