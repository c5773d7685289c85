#include "dsp/DelayUnit.h"

void DelayUnit::prepare(double newSampleRate, int newNumChannels)
{
    sampleRate = newSampleRate;
    numChannels = newNumChannels;
}

void DelayUnit::updateParameters(const Parameters& p)
{
    juce::ignoreUnused(p);
}

void DelayUnit::process(juce::AudioBuffer<float>& buffer)
{
    juce::ignoreUnused(buffer);
}
