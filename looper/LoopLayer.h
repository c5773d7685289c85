#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

// One layer of the loop: an audio buffer of the looper's channel count by the
// loop length. It is filled by the command that makes it (or, for an overdub
// pass, by the audio step while the pass is open) and is never written again
// once it belongs to the loop. Layers are held through shared pointers.
class LoopLayer
{
  public:
    // A silent layer. Throws std::bad_alloc when the memory cannot be had.
    LoopLayer(int numChannels, int numSamples);

    juce::AudioBuffer<float> audio;
};
