#include <gtest/gtest.h>

#include <juce_audio_processors/juce_audio_processors.h>

// These tests see the plug-in only from the outside: the built bundle is loaded
// through the framework's VST3 hosting code, as a host would load it.
namespace
{
juce::File bundle()
{
    return juce::File(LUMIRO_VST3_BUNDLE);
}

std::unique_ptr<juce::PluginDescription> describe()
{
    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> types;
    format.findAllTypesForFile(types, bundle().getFullPathName());
    if (types.size() != 1)
        return nullptr;
    return std::make_unique<juce::PluginDescription>(*types[0]);
}

std::unique_ptr<juce::AudioPluginInstance> instantiate()
{
    const auto description = describe();
    if (description == nullptr)
        return nullptr;
    juce::VST3PluginFormat format;
    juce::String error;
    auto instance = format.createInstanceFromDescription(*description, 48000.0, 512, error);
    EXPECT_TRUE(error.isEmpty()) << error;
    return instance;
}

juce::AudioProcessorParameter* parameterNamed(juce::AudioPluginInstance& p, const juce::String& n)
{
    for (auto* param : p.getParameters())
        if (param->getName(100) == n)
            return param;
    return nullptr;
}

const char* const expectedNames[] = {
    "Autotune On",     "Key",
    "Scale",           "Retune Speed",
    "Tune Mix",        "Delay On",
    "Delay Time",      "Feedback",
    "Delay Mix",       "Delay Mode",
    "Delay Sync",      "Delay Div",
    "Loop Sync",       "Loop Bars",
    "Octave On",       "Octave Level",
    "Octave Dry",      "Octave Range",
    "Octave Tone",     "Octave Sens",
    "Octave Gate",     "Filterz On",
    "Filterz Preset",  "Filterz Mix",
    "Filterz Drive",   "Filterz Colour",
    "Filterz Motion",  "Vocoder On",
    "Vocoder Mix",     "Vocoder Dry",
    "Vocoder Carrier", "Vocoder Bright",
    "Vocoder Breath",  "Vocoder Glide",
    "Scratch On",      "Scratch Mode",
    "Scratch Pattern", "Scratch Jog",
    "Scratch Fader",   "Scratch Depth",
    "Scratch Dry",     "Scratch Bars",
};
} // namespace

TEST(HostedBundle, DescribesItselfAsTheStation)
{
    ASSERT_TRUE(bundle().isDirectory()) << bundle().getFullPathName();
    const auto d = describe();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->name, "Lumiro Looper Station");
    EXPECT_EQ(d->manufacturerName, "Quillfern");
    EXPECT_EQ(d->version, "1.0.0");
    EXPECT_EQ(d->category, "Fx");
    EXPECT_EQ(d->pluginFormatName, "VST3");
    EXPECT_FALSE(d->isInstrument);
    EXPECT_EQ(d->numInputChannels, 2);
    EXPECT_EQ(d->numOutputChannels, 2);
}

TEST(HostedBundle, ListsTheFortyTwoParametersThenTheFrameworkBypass)
{
    auto p = instantiate();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->getName(), "Lumiro Looper Station");
    EXPECT_EQ(p->getTotalNumInputChannels(), 2);
    EXPECT_EQ(p->getTotalNumOutputChannels(), 2);
    EXPECT_FALSE(p->acceptsMidi());
    EXPECT_FALSE(p->producesMidi());
    EXPECT_NEAR(p->getTailLengthSeconds(), 2.5, 1e-9);
    EXPECT_TRUE(p->hasEditor());

    const auto& params = p->getParameters();
    ASSERT_EQ(params.size(), 43);
    for (int i = 0; i < 42; ++i)
        EXPECT_EQ(params[i]->getName(100), expectedNames[i]) << "parameter " << i;
    EXPECT_EQ(params[42]->getName(100), "Bypass");
}

TEST(HostedBundle, StateSavedByOneInstanceRestoresInAnother)
{
    auto source = instantiate();
    ASSERT_NE(source, nullptr);
    auto* time = parameterNamed(*source, "Delay Time");
    auto* preset = parameterNamed(*source, "Filterz Preset");
    ASSERT_NE(time, nullptr);
    ASSERT_NE(preset, nullptr);
    time->setValueNotifyingHost(0.8f);
    preset->setValueNotifyingHost(1.0f);
    const auto timeText = time->getCurrentValueAsText();
    EXPECT_EQ(preset->getCurrentValueAsText(), "Radio DJ");

    juce::MemoryBlock state;
    source->getStateInformation(state);
    ASSERT_GT(state.getSize(), 0u);

    auto target = instantiate();
    ASSERT_NE(target, nullptr);
    EXPECT_NE(parameterNamed(*target, "Delay Time")->getCurrentValueAsText(), timeText);
    target->setStateInformation(state.getData(), (int)state.getSize());
    EXPECT_EQ(parameterNamed(*target, "Delay Time")->getCurrentValueAsText(), timeText);
    EXPECT_EQ(parameterNamed(*target, "Filterz Preset")->getCurrentValueAsText(), "Radio DJ");
}

TEST(HostedBundle, AudioPassesThroughAProcessedBlock)
{
    auto p = instantiate();
    ASSERT_NE(p, nullptr);
    auto* delayOn = parameterNamed(*p, "Delay On");
    ASSERT_NE(delayOn, nullptr);
    delayOn->setValueNotifyingHost(0.0f);

    p->prepareToPlay(48000.0, 512);
    juce::AudioBuffer<float> buffer(2, 512);
    juce::Random random(3);
    for (int c = 0; c < 2; ++c)
        for (int s = 0; s < 512; ++s)
            buffer.setSample(c, s, random.nextFloat() - 0.5f);
    const auto input = buffer;
    juce::MidiBuffer midi;
    p->processBlock(buffer, midi);
    p->releaseResources();

    for (int c = 0; c < 2; ++c)
        for (int s = 0; s < 512; ++s)
            ASSERT_EQ(buffer.getSample(c, s), input.getSample(c, s)) << c << ":" << s;
}

TEST(HostedBundle, AFreshInstanceEchoesAnImpulseAfter350ms)
{
    auto p = instantiate();
    ASSERT_NE(p, nullptr);
    p->prepareToPlay(48000.0, 512);

    // 70 blocks of 512 cover the first two echoes, at 16800 and 33600.
    juce::MidiBuffer midi;
    std::vector<float> left;
    for (int block = 0; block < 70; ++block)
    {
        juce::AudioBuffer<float> buffer(2, 512);
        buffer.clear();
        if (block == 0)
            for (int c = 0; c < 2; ++c)
                buffer.setSample(c, 0, 1.0f);
        p->processBlock(buffer, midi);
        for (int s = 0; s < 512; ++s)
        {
            ASSERT_EQ(buffer.getSample(0, s), buffer.getSample(1, s));
            left.push_back(buffer.getSample(0, s));
        }
    }
    p->releaseResources();

    EXPECT_FLOAT_EQ(left[0], 0.65f);
    EXPECT_FLOAT_EQ(left[16800], 0.35f);
    EXPECT_NEAR(left[33600], 0.35f * 0.4f, 1e-6f);
    for (size_t s = 0; s < left.size(); ++s)
        if (s != 0 && s != 16800 && s != 33600)
            ASSERT_EQ(left[s], 0.0f) << "sample " << s;
}
