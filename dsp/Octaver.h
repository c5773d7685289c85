#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

// Sub-octave generator. A flip-flop driven by a low-passed copy of the input
// toggles once per input period, giving a square wave one octave down; the
// input's envelope sets its amplitude and a level gate mutes it when the input
// is quiet. The square is smoothed, given a tone control and added to the
// scaled dry signal.
class Octaver
{
  public:
    // Raw parameter values of one block, as the host parameters hold them;
    // the defaults are those of a fresh instance.
    struct Parameters
    {
        float gate = -55.0f; // octGate, decibels
        float sens = 0.5f;   // octSens
        float tone = 0.45f;  // octTone
        float range = 1.0f;  // octRange, choice index
        float dry = 1.0f;    // octDry
        float level = 0.8f;  // octLvl
        float on = 0.0f;     // octOn, switch
    };

    void prepare(double sampleRate, int numChannels);
    void updateParameters(const Parameters& p);
    void process(juce::AudioBuffer<float>& buffer);

    double sampleRate = 44100.0;
    int numChannels = 2;

    // Envelope follower coefficients, set by prepare().
    float attack = 0.0f;
    float release = 0.0f;

    // Signal state; persists across blocks, frozen while switched off.
    float envelope = 0.0f;
    float flipSign = 1.0f;
    int flipLatched = 0; // 0: ready to flip on the next rise, 1: flipped, waiting for the fall
    float inputLowPass = 0.0f;
    float subSignal = 0.0f;
    float toneLowPass = 0.0f;

    // Per-block values from the parameters.
    float inputCoeff = 0.0f;
    float toneCoeff = 0.0f;
    float tone = 0.45f;
    float gateThreshold = 0.0f;
    float hysteresis = 0.01f;
    float level = 0.8f;
    float dry = 1.0f;
    bool enabled = false;
};
