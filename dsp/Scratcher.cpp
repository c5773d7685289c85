#include "dsp/Scratcher.h"

void Scratcher::prepare(double newSampleRate, int newNumChannels)
{
    sampleRate = newSampleRate;
    numChannels = newNumChannels;
}

void Scratcher::updateParameters(const Parameters& p)
{
    juce::ignoreUnused(p);
}

void Scratcher::process(juce::AudioBuffer<float>& buffer)
{
    juce::ignoreUnused(buffer);
}
