#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "StationRig.h"

// A host that sends NaN or infinity must not poison the delay line, the
// scratch rings, the filter states or the loop: such samples are silenced
// before the chain, and finite samples are left exactly as they are.
namespace
{
constexpr float nan = std::numeric_limits<float>::quiet_NaN();
constexpr float inf = std::numeric_limits<float>::infinity();

struct Poison
{
    const char* name;
    float value;
    int channel; // -1: every channel
    int stride;  // every stride-th sample; 1: the whole block
};

const Poison poisons[] = {
    {"one NaN on the left", nan, 0, 100000},
    {"+inf block on every channel", inf, -1, 1},
    {"-inf on the right every 7th sample", -inf, 1, 7},
    {"signalling NaN on every channel every 64th sample",
     std::numeric_limits<float>::signaling_NaN(), -1, 64},
    {"negative NaN block on the left", -nan, 0, 1},
};

void poison(juce::AudioBuffer<float>& buffer, const Poison& p)
{
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        if (p.channel < 0 || p.channel == ch)
            for (int i = 0; i < buffer.getNumSamples(); i += p.stride)
                buffer.setSample(ch, i, p.value);
}

bool sameBits(const float* a, const float* b, int n)
{
    return std::memcmp(a, b, sizeof(float) * (size_t)n) == 0;
}

TEST(NonFiniteInput, FiniteSamplesPassBitExactAndNonFiniteOnesBecomeZero)
{
    LumiroLooperProcessor p;
    p.prepareToPlay(48000.0, 64);
    for (const auto& id : rig::stageSwitches())
        rig::set(p, id, 0.0f);

    const float finite[] = {0.25f,
                            -0.0f,
                            1.0e-40f, // subnormal
                            -1.0e-45f,
                            std::numeric_limits<float>::min(),
                            std::numeric_limits<float>::max(),
                            std::numeric_limits<float>::lowest(),
                            1.0f,
                            -1.0f,
                            123456.0f};
    const int n = (int)std::size(finite);

    juce::AudioBuffer<float> buffer(2, n);
    for (int ch = 0; ch < 2; ++ch)
        buffer.copyFrom(ch, 0, finite, n);
    rig::process(p, buffer);
    for (int ch = 0; ch < 2; ++ch)
        EXPECT_TRUE(sameBits(buffer.getReadPointer(ch), finite, n)) << "channel " << ch;

    // The same block with non-finite samples in between.
    for (int ch = 0; ch < 2; ++ch)
        buffer.copyFrom(ch, 0, finite, n);
    buffer.setSample(0, 3, nan);
    buffer.setSample(1, 0, inf);
    buffer.setSample(1, 9, -inf);
    rig::process(p, buffer);

    float expectedLeft[std::size(finite)];
    float expectedRight[std::size(finite)];
    std::memcpy(expectedLeft, finite, sizeof(finite));
    std::memcpy(expectedRight, finite, sizeof(finite));
    expectedLeft[3] = 0.0f;
    expectedRight[0] = 0.0f;
    expectedRight[9] = 0.0f;
    EXPECT_TRUE(sameBits(buffer.getReadPointer(0), expectedLeft, n));
    EXPECT_TRUE(sameBits(buffer.getReadPointer(1), expectedRight, n));
}

TEST(NonFiniteInput, ChannelsBeyondThePreparedOnesAreNotTouched)
{
    LumiroLooperProcessor p;
    rig::setLayout(p, 1);
    p.prepareToPlay(44100.0, 256);
    for (const auto& id : rig::stageSwitches())
        rig::set(p, id, 1.0f);

    juce::AudioBuffer<float> buffer(3, 256);
    std::int64_t t = 0;
    for (int block = 0; block < 4; ++block)
    {
        rig::fillVoice(buffer, 44100.0, t);
        buffer.setSample(1, 10, nan);
        buffer.setSample(2, 20, inf);
        rig::process(p, buffer);
        EXPECT_TRUE(rig::allFinite(buffer, 1));
        EXPECT_TRUE(std::isnan(buffer.getSample(1, 10)));
        EXPECT_EQ(buffer.getSample(2, 20), inf);
    }
}

// Every stage configuration, with the looper taking, playing and overdubbing
// through the poisoned blocks: every output block stays finite, the poisoned
// ones included, and so does everything after them.
TEST(NonFiniteInput, NoConfigurationOrLoopIsPoisoned)
{
    LumiroLooperProcessor probe;
    for (const auto& config : rig::stageConfigurations(probe))
    {
        LumiroLooperProcessor p;
        rig::StubPlayHead playHead;
        playHead.position = rig::makePosition(120.0, 4, 4);
        p.setPlayHead(&playHead);
        p.prepareToPlay(44100.0, 256);
        rig::apply(p, config.settings);

        juce::AudioBuffer<float> buffer(2, 256);
        std::int64_t t = 0;
        int blockIndex = 0;
        int firstBadBlock = -1;
        auto block = [&]
        {
            rig::fillVoice(buffer, 44100.0, t);
            // Every third block carries the next kind of poison.
            if (blockIndex % 3 == 1)
                poison(buffer, poisons[(size_t)(blockIndex / 3) % std::size(poisons)]);
            rig::process(p, buffer);
            if (firstBadBlock < 0 && !rig::allFinite(buffer))
                firstBadBlock = blockIndex;
            ++blockIndex;
        };

        // Take, play, overdub, close the pass, play on.
        rig::runSteps(p.looper, "R......R......R......R............", block);
        EXPECT_EQ(firstBadBlock, -1) << config.name;
        EXPECT_EQ(p.looper.getNumLayers(), 2) << config.name;
        p.setPlayHead(nullptr);
    }
}
} // namespace
