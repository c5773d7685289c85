#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

// Sub-octave generator.
class Octaver
{
public:
    // Raw parameter values of one block, as the host parameters hold them;
    // the defaults are those of a fresh instance.
    struct Parameters
    {
        float gate = -55.0f; // octGate, decibels
        float sens = 0.5f; // octSens
        float tone = 0.45f; // octTone
        float range = 1.0f; // octRange, choice index
        float dry = 1.0f; // octDry
        float level = 0.8f; // octLvl
    };

    void prepare(double sampleRate, int numChannels);
    void updateParameters(const Parameters& p);
    void process(juce::AudioBuffer<float>& buffer);

    double sampleRate = 44100.0;
    int numChannels = 2;
};
