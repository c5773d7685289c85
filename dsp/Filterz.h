#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

// Character filter with seven voice presets.
class Filterz
{
public:
    // Raw parameter values of one block, as the host parameters hold them;
    // the defaults are those of a fresh instance.
    struct Parameters
    {
        float motion = 0.4f; // fzMotion
        float colour = 0.5f; // fzColour
        float drive = 0.3f; // fzDrive
        float mix = 1.0f; // fzMix
        float preset = 1.0f; // fzPreset, choice index
    };

    void prepare(double sampleRate, int numChannels);
    void updateParameters(const Parameters& p);
    void process(juce::AudioBuffer<float>& buffer);

    double sampleRate = 44100.0;
    int numChannels = 2;
};
