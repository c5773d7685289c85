#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include "dsp/Biquad.h"

// Character filter with seven voice presets: a high-pass into a low-pass per
// channel, tanh drive with make-up gain, and a dry/wet mix. Two presets sweep
// the low-pass cut-off with a slow oscillator. At most two channels are
// processed; further channels pass through untouched.
class Filterz
{
  public:
    // Raw parameter values of one block, as the host parameters hold them;
    // the defaults are those of a fresh instance.
    struct Parameters
    {
        float motion = 0.4f; // fzMotion
        float colour = 0.5f; // fzColour
        float drive = 0.3f;  // fzDrive
        float mix = 1.0f;    // fzMix
        float preset = 1.0f; // fzPreset, choice index
    };

    // Takes the rate and channel count and restarts the sweep oscillator.
    // The filter states carry over; allocates nothing.
    void prepare(double sampleRate, int numChannels);

    // Chooses the preset row, applies colour and drive, and installs fresh
    // coefficients in all four sections without touching their states.
    void updateParameters(const Parameters& p);

    void process(juce::AudioBuffer<float>& buffer);

    double sampleRate = 44100.0;
    int numChannels = 2;
    Biquad highPass[2];
    Biquad lowPass[2];
    float mix = 1.0f;
    float motion = 0.0f;
    float drive = 0.3f;
    float q = 0.7f;
    float sweepDepth = 0.0f;     // Hz; 0 means the preset does not sweep
    float sweepCentre = 8000.0f; // Hz, the low-pass cut-off the sweep moves around
    float lfoPhase = 0.0f;       // [0, 1)
};
