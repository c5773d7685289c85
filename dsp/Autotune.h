#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

// Pitch correction to a key and scale.
class Autotune
{
public:
    // Raw parameter values of one block, as the host parameters hold them;
    // the defaults are those of a fresh instance.
    struct Parameters
    {
        float on = 0.0f; // atOn, switch
        float key = 0.0f; // atKey, choice index
        float scale = 0.0f; // atScale, choice index
        float speed = 0.7f; // atSpeed
        float mix = 1.0f; // atMix
    };

    void prepare(double sampleRate, int numChannels);
    void updateParameters(const Parameters& p);
    void process(juce::AudioBuffer<float>& buffer);

    double sampleRate = 44100.0;
    int numChannels = 2;
};
