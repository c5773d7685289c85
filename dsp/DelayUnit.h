#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

// Delay with four modes and optional tempo sync.
class DelayUnit
{
public:
    // Raw parameter values of one block, as the host parameters hold them;
    // the defaults are those of a fresh instance.
    struct Parameters
    {
        float time = 350.0f; // dlTime, milliseconds
        float feedback = 0.4f; // dlFb
        float mix = 0.35f; // dlMix
        float mode = 0.0f; // dlMode, choice index
        float sync = 0.0f; // dlSync, switch
        float division = 1.0f; // dlDiv, choice index
        double bpm = 120.0; // block tempo, 120 when the host gives none
    };

    void prepare(double sampleRate, int numChannels);
    void updateParameters(const Parameters& p);
    void process(juce::AudioBuffer<float>& buffer);

    double sampleRate = 44100.0;
    int numChannels = 2;
};
