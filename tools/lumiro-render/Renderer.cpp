#include "Renderer.h"

#include <algorithm>

juce::Optional<juce::AudioPlayHead::PositionInfo> Renderer::PlayHead::getPosition() const
{
    PositionInfo info;
    if (bpm)
        info.setBpm(*bpm);
    if (signature)
        info.setTimeSignature(TimeSignature{signature->first, signature->second});
    info.setTimeInSamples(sample);
    info.setTimeInSeconds((double)sample / sampleRate);
    info.setIsPlaying(true);
    return info;
}

Renderer::Renderer(LumiroLooperProcessor& p, double rate, int block, bool vary)
    : processor(p), sampleRate(rate), blockSize(block), varyBlocks(vary)
{
    playHead.sampleRate = rate;
}

void Renderer::setTiming(bool withPlayHead, std::optional<double> bpm,
                         std::optional<std::pair<int, int>> signature)
{
    hasPlayHead = withPlayHead;
    playHead.bpm = bpm;
    playHead.signature = signature;
}

void Renderer::runAction(const Action& action)
{
    auto& looper = processor.looper;
    switch (action.command)
    {
    case RenderOptions::Command::rec:
        looper.recordPressed();
        break;
    case RenderOptions::Command::stop:
        looper.stopPressed();
        break;
    case RenderOptions::Command::undo:
        looper.undo();
        break;
    case RenderOptions::Command::clear:
        looper.clear();
        break;
    case RenderOptions::Command::none:
        action.assignment.apply(processor.apvts);
        break;
    }
}

void Renderer::render(juce::AudioBuffer<float>& audio, std::vector<Action> actions,
                      const std::function<void(double)>& progress)
{
    std::stable_sort(actions.begin(), actions.end(),
                     [](const Action& a, const Action& b) { return a.sample < b.sample; });

    const int channels = audio.getNumChannels();
    const juce::int64 total = audio.getNumSamples();
    const int largestBlock = varyBlocks ? 2 * blockSize - 1 : blockSize;

    processor.setPlayHead(hasPlayHead ? &playHead : nullptr);
    processor.setRateAndBufferSizeDetails(sampleRate, largestBlock);
    processor.prepareToPlay(sampleRate, largestBlock);

    juce::Random random(1);
    juce::MidiBuffer midi;
    std::vector<float*> pointers((size_t)channels);
    size_t nextAction = 0;
    juce::int64 position = 0;
    int lastReported = -1;
    timeline.clear();
    timeline.push_back({0, processor.looper.getLoopState()});

    while (position < total || nextAction < actions.size())
    {
        while (nextAction < actions.size() && actions[nextAction].sample <= position)
            runAction(actions[nextAction++]);

        const auto state = processor.looper.getLoopState();
        if (state != timeline.back().state)
            timeline.push_back({position, state});

        if (position >= total)
            break;

        juce::int64 length = varyBlocks ? 1 + random.nextInt(largestBlock) : blockSize;
        length = std::min(length, total - position);
        if (nextAction < actions.size())
            length = std::min(length, actions[nextAction].sample - position);

        for (int c = 0; c < channels; ++c)
            pointers[(size_t)c] = audio.getWritePointer(c, (int)position);
        juce::AudioBuffer<float> block(pointers.data(), channels, (int)length);

        playHead.sample = position;
        const auto start = juce::Time::getHighResolutionTicks();
        processor.processBlock(block, midi);
        processingSeconds +=
            juce::Time::highResolutionTicksToSeconds(juce::Time::getHighResolutionTicks() - start);
        position += length;

        const int percent = (int)(100 * position / std::max<juce::int64>(1, total));
        if (progress && percent != lastReported)
        {
            lastReported = percent;
            progress(position / (double)total);
        }
    }

    processor.releaseResources();
    processor.setPlayHead(nullptr);
}
