#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include "plugin/HostTiming.h"

enum class LoopState
{
    Idle = 0,
    Recording = 1,
    Playing = 2,
    Overdubbing = 3,
    Stopped = 4
};

// The multi-layer loop at the end of the chain: a take, overdub passes, and
// the layers that play back under the live signal.
class Looper
{
public:
    void prepare(double sampleRate, int numChannels);
    void updateParameters(const HostTiming& timing, int loopBarsIndex, bool loopSyncOn);
    void process(juce::AudioBuffer<float>& buffer);

    // Transport commands, called on the message thread.
    void recordPressed();
    void stopPressed();
    void undo();
    void clear();

    LoopState getLoopState() const;
    int getNumLayers() const;

private:
    double sampleRate = 44100.0;
    int numChannels = 2;
};
