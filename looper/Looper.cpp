#include "looper/Looper.h"

void Looper::prepare(double newSampleRate, int newNumChannels)
{
    sampleRate = newSampleRate;
    numChannels = newNumChannels;
}

void Looper::updateParameters(const HostTiming& timing, int loopBarsIndex, bool loopSyncOn)
{
    juce::ignoreUnused(timing, loopBarsIndex, loopSyncOn);
}

void Looper::process(juce::AudioBuffer<float>& buffer)
{
    juce::ignoreUnused(buffer);
}

void Looper::recordPressed() {}
void Looper::stopPressed() {}
void Looper::undo() {}
void Looper::clear() {}

LoopState Looper::getLoopState() const
{
    return LoopState::Idle;
}

int Looper::getNumLayers() const
{
    return 0;
}
