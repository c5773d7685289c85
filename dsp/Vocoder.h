#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

// Self-pitched vocoder: the carrier follows the pitch of the input.
class Vocoder
{
public:
    // Raw parameter values of one block, as the host parameters hold them;
    // the defaults are those of a fresh instance.
    struct Parameters
    {
        float glide = 0.3f; // vcGlide
        float breath = 0.35f; // vcBreath
        float bright = 0.5f; // vcBright
        float carrier = 0.0f; // vcCarrier, choice index
        float dry = 0.15f; // vcDry
        float mix = 1.0f; // vcMix
        float on = 0.0f; // vcOn, switch
    };

    void prepare(double sampleRate, int numChannels);
    void updateParameters(const Parameters& p);
    void process(juce::AudioBuffer<float>& buffer);

    double sampleRate = 44100.0;
    int numChannels = 2;
};
