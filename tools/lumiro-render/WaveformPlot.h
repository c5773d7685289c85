#pragma once

#include <vector>

#include <juce_graphics/juce_graphics.h>

#include "Renderer.h"

// Input waveform above output waveform, with the loop-state timeline in a
// strip underneath: red recording, green playing, orange overdubbing, blue
// stopped, grey idle.
class WaveformPlot
{
  public:
    static juce::Image draw(const juce::AudioBuffer<float>& input,
                            const juce::AudioBuffer<float>& output,
                            const std::vector<Renderer::StateChange>& timeline, int width = 1200,
                            int height = 560);

    static juce::Colour colourFor(LoopState state);
};
