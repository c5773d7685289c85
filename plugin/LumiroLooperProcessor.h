#pragma once

#include <array>
#include <atomic>

#include <juce_audio_processors/juce_audio_processors.h>

#include "dsp/Autotune.h"
#include "dsp/DelayUnit.h"
#include "dsp/Filterz.h"
#include "dsp/Octaver.h"
#include "dsp/Scratcher.h"
#include "dsp/Vocoder.h"
#include "looper/Looper.h"
#include "plugin/HostTiming.h"

// The processor a host instantiates: parameters, saved state and the block
// pipeline that runs the six effects and the looper in a fixed order.
class LumiroLooperProcessor : public juce::AudioProcessor
{
  public:
    LumiroLooperProcessor();

    static juce::AudioProcessorValueTreeState::ParameterLayout createLayout();

    // The 42 parameter IDs, in the order the host lists them.
    static const std::array<const char*, 42> parameterIDs;

    const juce::String getName() const override;
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    bool isMidiEffect() const override { return false; }
    double getTailLengthSeconds() const override { return 2.5; }

    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram(int) override {}
    const juce::String getProgramName(int) override { return {}; }
    void changeProgramName(int, const juce::String&) override {}

    bool hasEditor() const override { return true; }
    juce::AudioProcessorEditor* createEditor() override;

    bool isBusesLayoutSupported(const BusesLayout& layouts) const override;

    void prepareToPlay(double sampleRate, int samplesPerBlock) override;
    void releaseResources() override {}
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlock;

    void getStateInformation(juce::MemoryBlock& destData) override;
    void setStateInformation(const void* data, int sizeInBytes) override;

    // Tempo and time signature for this block, with 120 bpm and 4/4 standing
    // in for what the play head does not give.
    static HostTiming readHostTiming(juce::AudioPlayHead* playHead);

    juce::AudioProcessorValueTreeState apvts;
    DelayUnit delay;
    Autotune autotune;
    Looper looper;
    Octaver octaver;
    Filterz filterz;
    Vocoder vocoder;
    Scratcher scratcher;
    double lastTapMs = 0.0;

  private:
    // Raw values of the parameters, resolved once; indexed like parameterIDs.
    std::array<std::atomic<float>*, 42> raw{};
    float value(int index) const { return raw[(size_t)index]->load(std::memory_order_relaxed); }

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(LumiroLooperProcessor)
};
