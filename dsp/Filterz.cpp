#include "dsp/Filterz.h"

void Filterz::prepare(double newSampleRate, int newNumChannels)
{
    sampleRate = newSampleRate;
    numChannels = newNumChannels;
}

void Filterz::updateParameters(const Parameters& p)
{
    juce::ignoreUnused(p);
}

void Filterz::process(juce::AudioBuffer<float>& buffer)
{
    juce::ignoreUnused(buffer);
}
