#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "StationRig.h"

// An audio thread processes blocks without pause while the message thread
// fires transport commands, tap presses, parameter changes and state saves
// and restores at random. Run under ThreadSanitizer in CI. The looper's state
// and layer count must follow the transport table after every command, and
// the audio must stay finite throughout.
namespace
{
// What the looper's state and layer count must be, following the transport
// table of the commands alone.
struct LoopModel
{
    LoopState state = LoopState::Idle;
    int layers = 0;

    void record()
    {
        switch (state)
        {
        case LoopState::Idle:
            state = LoopState::Recording;
            break;
        case LoopState::Recording:
            layers = 1;
            state = LoopState::Playing;
            break;
        case LoopState::Playing:
            state = LoopState::Overdubbing;
            break;
        case LoopState::Overdubbing:
            ++layers;
            state = LoopState::Playing;
            break;
        case LoopState::Stopped:
            state = LoopState::Playing;
            break;
        }
    }

    void stop()
    {
        if (state == LoopState::Overdubbing)
            ++layers;
        state = LoopState::Stopped;
    }

    void undo()
    {
        if (layers == 0)
            return;
        if (--layers == 0)
            state = LoopState::Idle;
    }

    void clear()
    {
        layers = 0;
        state = LoopState::Idle;
    }
};

// The editor's TAP handler, with the press time given instead of read from
// the clock.
void tap(LumiroLooperProcessor& p, double nowMs)
{
    if (p.lastTapMs > 0.0)
    {
        const double gap = nowMs - p.lastTapMs;
        if (gap > 40.0 && gap < 2000.0)
            if (auto* param = p.apvts.getParameter("dlTime"))
                param->setValueNotifyingHost(param->convertTo0to1((float)gap));
    }
    p.lastTapMs = nowMs;
}

class AudioThread
{
  public:
    explicit AudioThread(LumiroLooperProcessor& p) : processor(p), thread([this] { run(); }) {}

    ~AudioThread()
    {
        running = false;
        thread.join();
    }

    // Waits until the audio thread has finished at least `count` more blocks.
    void waitForBlocks(int count)
    {
        const long target = blocks.load() + count;
        while (blocks.load() < target)
            std::this_thread::yield();
    }

    long blocksDone() const { return blocks.load(); }
    long nonFiniteBlocks() const { return badBlocks.load(); }

  private:
    void run()
    {
        static constexpr int sizes[] = {256, 1, 480, 0, 1024, 77};
        juce::AudioBuffer<float> buffer(2, 1024);
        std::int64_t t = 0;
        for (size_t i = 0; running.load(); ++i)
        {
            buffer.setSize(2, sizes[i % std::size(sizes)], false, false, true);
            rig::fillVoice(buffer, 16000.0, t);
            rig::process(processor, buffer);
            if (!rig::allFinite(buffer))
                ++badBlocks;
            ++blocks;
        }
    }

    LumiroLooperProcessor& processor;
    std::atomic<bool> running{true};
    std::atomic<long> blocks{0};
    std::atomic<long> badBlocks{0};
    std::thread thread;
};

TEST(ThreadStress, CommandsTapsParametersAndStateWhileAudioRuns)
{
    constexpr int operations = 20000;

    LumiroLooperProcessor processor;
    processor.prepareToPlay(16000.0, 256);
    for (const auto& id : rig::stageSwitches())
        rig::set(processor, id, 1.0f);

    juce::Random random(20240611);
    juce::MemoryBlock savedState;
    processor.getStateInformation(savedState);
    LoopModel model;
    double clockMs = 1000.0;
    int mismatches = 0;

    {
        AudioThread audio(processor);
        for (int op = 0; op < operations; ++op)
        {
            const int kind = random.nextInt(100);
            if (kind < 12)
            {
                processor.looper.recordPressed();
                model.record();
            }
            else if (kind < 17)
            {
                processor.looper.stopPressed();
                model.stop();
            }
            else if (kind < 22)
            {
                processor.looper.undo();
                model.undo();
            }
            else if (kind < 24)
            {
                processor.looper.clear();
                model.clear();
            }
            else if (kind < 34)
            {
                clockMs += 20.0 + random.nextInt(2200);
                tap(processor, clockMs);
            }
            else if (kind < 84)
            {
                const auto* id = LumiroLooperProcessor::parameterIDs[(size_t)random.nextInt(
                    (int)LumiroLooperProcessor::parameterIDs.size())];
                processor.apvts.getParameter(id)->setValueNotifyingHost(random.nextFloat());
            }
            else if (kind < 92)
            {
                processor.getStateInformation(savedState);
            }
            else
            {
                processor.setStateInformation(savedState.getData(), (int)savedState.getSize());
            }

            if (processor.looper.getLoopState() != model.state ||
                processor.looper.getNumLayers() != model.layers)
            {
                if (mismatches++ == 0)
                    ADD_FAILURE() << "after operation " << op << " the looper is in state "
                                  << (int)processor.looper.getLoopState() << " with "
                                  << processor.looper.getNumLayers() << " layers, expected "
                                  << (int)model.state << " with " << model.layers;
                model.state = processor.looper.getLoopState();
                model.layers = processor.looper.getNumLayers();
            }

            // Let the audio thread get a block in between most of the time.
            if (random.nextInt(4) != 0)
                audio.waitForBlocks(1);
        }

        EXPECT_EQ(audio.nonFiniteBlocks(), 0);
        EXPECT_GT(audio.blocksDone(), operations / 2);
    }
    EXPECT_EQ(mismatches, 0);

    // Saved state still restores to the same values once the audio has stopped.
    juce::MemoryBlock before;
    processor.getStateInformation(before);
    processor.setStateInformation(before.getData(), (int)before.getSize());
    juce::MemoryBlock after;
    processor.getStateInformation(after);
    EXPECT_EQ(before, after);
}
} // namespace
