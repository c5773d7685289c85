#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

// Turntable-style scratch over a capture ring.
class Scratcher
{
public:
    // Raw parameter values of one block, as the host parameters hold them;
    // the defaults are those of a fresh instance.
    struct Parameters
    {
        float bars = 1.0f; // scBars, choice index
        float dry = 0.0f; // scDry
        float depth = 0.5f; // scDepth
        float fader = 1.0f; // scFader
        float jog = 0.0f; // scJog
        float pattern = 1.0f; // scPattern, choice index
        float mode = 2.0f; // scMode, choice index
        float on = 0.0f; // scOn, switch
        double bpm = 120.0; // block tempo, 120 when the host gives none
        double sampleRate = 44100.0; // the rate prepare received
    };

    void prepare(double sampleRate, int numChannels);
    void updateParameters(const Parameters& p);
    void process(juce::AudioBuffer<float>& buffer);

    double sampleRate = 44100.0;
    int numChannels = 2;
};
