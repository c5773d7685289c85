#include "dsp/Autotune.h"

void Autotune::prepare(double newSampleRate, int newNumChannels)
{
    sampleRate = newSampleRate;
    numChannels = newNumChannels;
}

void Autotune::updateParameters(const Parameters& p)
{
    juce::ignoreUnused(p);
}

void Autotune::process(juce::AudioBuffer<float>& buffer)
{
    juce::ignoreUnused(buffer);
}
