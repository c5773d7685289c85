#include "dsp/Octaver.h"

void Octaver::prepare(double newSampleRate, int newNumChannels)
{
    sampleRate = newSampleRate;
    numChannels = newNumChannels;
}

void Octaver::updateParameters(const Parameters& p)
{
    juce::ignoreUnused(p);
}

void Octaver::process(juce::AudioBuffer<float>& buffer)
{
    juce::ignoreUnused(buffer);
}
