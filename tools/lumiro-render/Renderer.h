#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "ParameterAssignment.h"
#include "RenderOptions.h"
#include "plugin/LumiroLooperProcessor.h"

// Drives a processor through a whole signal the way a host does: prepare,
// then block after block with a play head, with parameter changes and looper
// button presses between blocks. A block is cut where an action falls, so an
// action takes effect at its exact sample.
class Renderer
{
  public:
    struct Action
    {
        juce::int64 sample = 0;
        RenderOptions::Command command = RenderOptions::Command::none;
        ParameterAssignment assignment; // used when command is none
    };

    struct StateChange
    {
        juce::int64 sample;
        LoopState state;
    };

    Renderer(LumiroLooperProcessor& processor, double sampleRate, int blockSize, bool varyBlocks);

    void setTiming(bool hasPlayHead, std::optional<double> bpm,
                   std::optional<std::pair<int, int>> signature);

    // Processes `audio` in place. `progress` gets the fraction done now and then.
    void render(juce::AudioBuffer<float>& audio, std::vector<Action> actions,
                const std::function<void(double)>& progress);

    const std::vector<StateChange>& getStateTimeline() const { return timeline; }
    double getProcessingSeconds() const { return processingSeconds; }

  private:
    class PlayHead : public juce::AudioPlayHead
    {
      public:
        juce::Optional<PositionInfo> getPosition() const override;

        std::optional<double> bpm;
        std::optional<std::pair<int, int>> signature;
        juce::int64 sample = 0;
        double sampleRate = 48000.0;
    };

    void runAction(const Action& action);

    LumiroLooperProcessor& processor;
    PlayHead playHead;
    bool hasPlayHead = true;
    double sampleRate;
    int blockSize;
    bool varyBlocks;
    std::vector<StateChange> timeline;
    double processingSeconds = 0.0;
};
