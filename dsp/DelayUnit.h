#pragma once

#include <vector>

#include <juce_audio_basics/juce_audio_basics.h>

// Feedback delay with one line per channel, four modes and optional tempo
// sync. Every change of delay time glides; the Analog and Tape colouring acts
// only on what is written back into the line, so the first repeat is clean.
class DelayUnit
{
  public:
    // Raw parameter values of one block, as the host parameters hold them;
    // the defaults are those of a fresh instance.
    struct Parameters
    {
        float time = 350.0f;   // dlTime, milliseconds
        float feedback = 0.4f; // dlFb
        float mix = 0.35f;     // dlMix
        float mode = 0.0f;     // dlMode, choice index
        float sync = 0.0f;     // dlSync, switch
        float division = 1.0f; // dlDiv, choice index
        double bpm = 120.0;    // block tempo, 120 when the host gives none
    };

    // Follows the order of the "Delay Mode" choices; any other index plays
    // as Digital.
    enum DelayMode : int
    {
        Digital = 0,
        Analog = 1,
        Tape = 2,
        Reverse = 3
    };

    // Note lengths in beats, indexed by the "Delay Div" choice.
    static const float beats[7];

    void prepare(double sampleRate, int numChannels);
    void updateParameters(const Parameters& p);
    void process(juce::AudioBuffer<float>& buffer);

    double sampleRate = 44100.0;
    int numChannels = 2;
    int lineLength = 0;
    int mode = Digital;
    std::vector<std::vector<float>> lines;
    std::vector<int> writePositions;
    std::vector<float> toneStates;      // one-pole low-pass in the Analog/Tape feedback path
    std::vector<float> reverseCounters; // read offset of Reverse, in samples
    float currentDelay = 0.0f;          // glided delay, samples
    float targetDelay = 4410.0f;        // samples
    float feedback = 0.35f;
    float mix = 0.3f;
    double wowPhase = 0.0; // Tape wow oscillator, radians
};
