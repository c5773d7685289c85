#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

// A voice-like melodic phrase: a sung vowel built from harmonics shaped by
// formant resonances, with vibrato and soft note envelopes, so that the
// station can be heard on a machine without any sound files.
class DemoSignal
{
  public:
    static juce::AudioBuffer<float> make(double sampleRate, double seconds, int numChannels);
};
