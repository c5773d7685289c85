#include "dsp/Vocoder.h"

void Vocoder::prepare(double newSampleRate, int newNumChannels)
{
    sampleRate = newSampleRate;
    numChannels = newNumChannels;
}

void Vocoder::updateParameters(const Parameters& p)
{
    juce::ignoreUnused(p);
}

void Vocoder::process(juce::AudioBuffer<float>& buffer)
{
    juce::ignoreUnused(buffer);
}
