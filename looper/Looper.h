#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include <juce_audio_basics/juce_audio_basics.h>

#include "looper/LayerStack.h"
#include "looper/LoopLayer.h"
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
//
// Threads: process() and updateParameters() run on the audio thread; the
// transport commands run on the message thread. They share `loopLock`, a spin
// lock that the audio thread holds for its step of each block and a command
// holds only to read a few fields or to publish its finished result with a
// handful of swaps. Everything slow (allocating, zeroing, copying) happens
// outside the lock, so the audio thread never waits for it, and no layer
// memory is ever released on the audio thread.
class Looper
{
  public:
    void prepare(double sampleRate, int numChannels);
    void updateParameters(const HostTiming& timing, int loopBarsIndex, bool loopSyncOn);
    void process(juce::AudioBuffer<float>& buffer);

    // Transport commands, called on the message thread. None of them throws:
    // when memory for a layer or a pass cannot be had, the command leaves the
    // loop exactly as it was.
    void recordPressed();
    void stopPressed();
    void undo();
    void clear();

    // Safe from any thread, also while the host prepares.
    LoopState getLoopState() const;
    int getNumLayers() const;

  private:
    void startTake();
    void closeTake();
    void startPass();
    void closePass(LoopState next);
    void setState(LoopState next);
    int loopLengthFor(int takeLength, const HostTiming& t, int barsIndex, bool syncOn) const;

    // Called with loopLock held, after every change of state or layers.
    void showState() noexcept;

    juce::SpinLock loopLock;

    // Keeps the commands and prepare from interleaving. The audio thread
    // never takes it; it guards the fields that only commands and prepare
    // write, so a command may read those without loopLock.
    std::mutex commandMutex;

    double sampleRate = 44100.0;
    int numChannels = 2;
    int maxLoopSamples = 0;
    int loopLength = 0;
    int playPosition = 0;
    int recordPosition = 0;
    juce::AudioBuffer<float> recordBuffer;

    // The open overdub pass; it becomes a layer as it is when the pass closes.
    std::shared_ptr<LoopLayer> overdubBuffer;

    // Null when there are no layers.
    std::unique_ptr<const LayerStack> layers;

    LoopState state = LoopState::Idle;
    HostTiming timing;
    int loopBarsIndex = 0;
    bool loopSyncOn = false;

    std::atomic<LoopState> shownState{LoopState::Idle};
    std::atomic<int> shownNumLayers{0};
};
