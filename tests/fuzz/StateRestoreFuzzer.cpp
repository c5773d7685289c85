// Feeds setStateInformation with mutated saved-state blobs. Before each input
// the processor is put into a known state whose values all differ from the
// defaults; after it, the restore rules must hold:
//  - no input hangs (the run's -timeout) or touches memory it should not;
//  - a blob the header rules reject leaves every parameter exactly as it was;
//  - otherwise, whether its text was taken or ignored, every parameter holds a
//    finite value inside its range, on a whole index for choices and
//    switches, and saving and restoring that state changes nothing;
//  - and a block processed with the restored parameters, every stage on as the
//    blob says, comes out finite.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "plugin/LumiroLooperProcessor.h"

namespace
{
constexpr int numParams = (int)LumiroLooperProcessor::parameterIDs.size();

struct Fixture
{
    Fixture()
    {
        processor.prepareToPlay(22050.0, 128);

        // Every parameter a step away from its default, so "left as it was",
        // "back to the default" and "restored" can be told apart.
        for (const auto* id : LumiroLooperProcessor::parameterIDs)
        {
            auto* param = processor.apvts.getParameter(id);
            const float def = param->getDefaultValue();
            const bool isSwitch = dynamic_cast<juce::AudioParameterBool*>(param) != nullptr;
            param->setValueNotifyingHost(isSwitch     ? 1.0f - def
                                         : def > 0.5f ? def - 0.3f
                                                      : def + 0.3f);
        }
        processor.getStateInformation(baseline);
        baselineValues = readAll();
    }

    std::array<float, 42> readAll()
    {
        std::array<float, 42> values{};
        for (int i = 0; i < numParams; ++i)
            values[(size_t)i] =
                processor.apvts
                    .getRawParameterValue(LumiroLooperProcessor::parameterIDs[(size_t)i])
                    ->load();
        return values;
    }

    juce::ScopedJuceInitialiser_GUI framework;
    LumiroLooperProcessor processor;
    juce::MemoryBlock baseline;
    std::array<float, 42> baselineValues{};
    juce::AudioBuffer<float> buffer{2, 64};
};

Fixture* fixture = nullptr;

[[noreturn]] void fail(const char* what, const char* id = "")
{
    std::fprintf(stderr, "state restore: %s %s\n", what, id);
    std::fflush(stderr);
    std::abort();
}

// Whether the header rules already reject a blob, before any text is read.
bool rejectedByHeader(const std::uint8_t* data, std::size_t size)
{
    return size <= 8 || juce::ByteOrder::littleEndianInt(data) != 0x21324356 ||
           (std::int32_t)juce::ByteOrder::littleEndianInt(data + 4) < 1;
}

void checkLegal(LumiroLooperProcessor& p)
{
    for (const auto* id : LumiroLooperProcessor::parameterIDs)
    {
        auto* param = p.apvts.getParameter(id);
        const float v = p.apvts.getRawParameterValue(id)->load();
        const auto& range = param->getNormalisableRange();
        if (!std::isfinite(v) || v < range.start || v > range.end)
            fail("value outside its range:", id);
        const bool discrete = dynamic_cast<juce::AudioParameterChoice*>(param) != nullptr ||
                              dynamic_cast<juce::AudioParameterBool*>(param) != nullptr;
        if (discrete && v != std::floor(v))
            fail("choice or switch between its values:", id);
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static Fixture instance;
    fixture = &instance;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto& f = *fixture;
    auto& p = f.processor;
    if (size > (std::size_t)std::numeric_limits<int>::max())
        return 0;

    p.setStateInformation(f.baseline.getData(), (int)f.baseline.getSize());
    p.setStateInformation(data, (int)size);

    const auto after = f.readAll();
    if (rejectedByHeader(data, size))
    {
        if (std::memcmp(after.data(), f.baselineValues.data(), sizeof(float) * after.size()) != 0)
            fail("a rejected blob changed the parameters");
        return 0;
    }

    checkLegal(p);

    juce::MemoryBlock saved;
    p.getStateInformation(saved);
    p.setStateInformation(saved.getData(), (int)saved.getSize());
    const auto again = f.readAll();
    for (size_t i = 0; i < again.size(); ++i)
        if (std::memcmp(&again[i], &after[i], sizeof(float)) != 0)
            fail("saving and restoring a restored state changed",
                 LumiroLooperProcessor::parameterIDs[i]);

    // The restored settings must make sound, not NaN.
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < f.buffer.getNumSamples(); ++i)
            f.buffer.setSample(ch, i, 0.5f * std::sin(0.07f * (float)i + (float)ch));
    juce::MidiBuffer midi;
    p.processBlock(f.buffer, midi);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < f.buffer.getNumSamples(); ++i)
            if (!std::isfinite(f.buffer.getSample(ch, i)))
                fail("restored settings produced non-finite audio");
    return 0;
}
