#include "looper/Looper.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{
using ScopedLoopLock = juce::SpinLock::ScopedLockType;

int countOf(const std::unique_ptr<const LayerStack>& stack)
{
    return stack != nullptr ? stack->size() : 0;
}
} // namespace

void Looper::prepare(double newSampleRate, int newNumChannels)
{
    const std::lock_guard<std::mutex> serial(commandMutex);

    const int channels = std::max(0, newNumChannels);
    const double minute = newSampleRate * 60.0;
    int maxSamples =
        minute > 0.0 ? static_cast<int>(
                           std::min(minute, static_cast<double>(std::numeric_limits<int>::max())))
                     : 0;

    juce::AudioBuffer<float> take;
    try
    {
        juce::AudioBuffer<float> full(channels, maxSamples);
        full.clear();
        take = std::move(full);
    }
    catch (const std::exception&)
    {
        // No memory for a take: the looper still runs, but nothing can be recorded.
        maxSamples = 0;
    }

    // Whatever the loop held goes when these leave scope, after the lock is released.
    std::unique_ptr<const LayerStack> oldLayers;
    std::shared_ptr<LoopLayer> oldPass;
    {
        const ScopedLoopLock lock(loopLock);
        sampleRate = newSampleRate;
        numChannels = channels;
        maxLoopSamples = maxSamples;
        std::swap(recordBuffer, take);
        oldPass = std::move(overdubBuffer);
        oldLayers = std::move(layers);
        loopLength = 0;
        playPosition = 0;
        recordPosition = 0;
        state = LoopState::Idle;
        showState();
    }
}

void Looper::updateParameters(const HostTiming& newTiming, int newLoopBarsIndex, bool newLoopSyncOn)
{
    const ScopedLoopLock lock(loopLock);
    timing = newTiming;
    loopBarsIndex = newLoopBarsIndex;
    loopSyncOn = newLoopSyncOn;
}

void Looper::process(juce::AudioBuffer<float>& buffer)
{
    const int numSamples = buffer.getNumSamples();
    if (numSamples <= 0)
        return;

    const ScopedLoopLock lock(loopLock);
    const int m = std::min(buffer.getNumChannels(), numChannels);

    if (state == LoopState::Recording)
    {
        // A full take stops growing; the input always passes through.
        const int n = std::min(numSamples, maxLoopSamples - recordPosition);
        if (n <= 0)
            return;

        for (int c = 0; c < m; ++c)
            juce::FloatVectorOperations::copy(recordBuffer.getWritePointer(c, recordPosition),
                                              buffer.getReadPointer(c), n);
        recordPosition += n;
        return;
    }

    if (state != LoopState::Playing && state != LoopState::Overdubbing)
        return;
    if (loopLength <= 0)
        return;

    const int numLayers = countOf(layers);
    const bool overdubbing = state == LoopState::Overdubbing && overdubBuffer != nullptr;

    for (int c = 0; c < m; ++c)
    {
        float* data = buffer.getWritePointer(c);
        const float* const* sources = numLayers > 0 ? layers->channelData(c) : nullptr;
        float* pass = overdubbing ? overdubBuffer->audio.getWritePointer(c) : nullptr;
        int p = playPosition;

        for (int s = 0; s < numSamples; ++s)
        {
            float sum = 0.0f;
            for (int i = 0; i < numLayers; ++i)
                sum += sources[i][p];

            const float x = data[s];
            if (pass != nullptr)
                pass[p] += x;
            data[s] = sum + x;

            if (++p >= loopLength)
                p = 0;
        }
    }

    playPosition =
        static_cast<int>((static_cast<juce::int64>(playPosition) + numSamples) % loopLength);
}

void Looper::recordPressed()
{
    try
    {
        const std::lock_guard<std::mutex> serial(commandMutex);
        switch (state)
        {
        case LoopState::Idle:
            startTake();
            break;
        case LoopState::Recording:
            closeTake();
            break;
        case LoopState::Playing:
            startPass();
            break;
        case LoopState::Overdubbing:
            closePass(LoopState::Playing);
            break;
        case LoopState::Stopped:
            setState(LoopState::Playing);
            break;
        }
    }
    catch (const std::exception&)
    {
        // No memory for the layer or the pass: the loop stays as it was.
    }
}

void Looper::stopPressed()
{
    try
    {
        const std::lock_guard<std::mutex> serial(commandMutex);
        if (state == LoopState::Overdubbing)
            closePass(LoopState::Stopped);
        else
            setState(LoopState::Stopped); // in Recording this drops the take
    }
    catch (const std::exception&)
    {
        // No memory to keep the pass: the loop stays as it was.
    }
}

void Looper::undo()
{
    try
    {
        const std::lock_guard<std::mutex> serial(commandMutex);
        if (layers == nullptr)
            return;

        auto remaining = LayerStack::withoutNewest(*layers);
        std::shared_ptr<LoopLayer> abandonedPass;
        {
            const ScopedLoopLock lock(loopLock);
            std::swap(layers, remaining);
            if (layers == nullptr)
            {
                abandonedPass = std::move(overdubBuffer);
                loopLength = 0;
                playPosition = 0;
                state = LoopState::Idle;
            }
            showState();
        }
        // The dropped layer is released here, on this thread.
    }
    catch (const std::exception&)
    {
        // No memory for the shorter list: the loop stays as it was.
    }
}

void Looper::clear()
{
    try
    {
        const std::lock_guard<std::mutex> serial(commandMutex);
        std::unique_ptr<const LayerStack> dropped;
        std::shared_ptr<LoopLayer> abandonedPass;
        {
            const ScopedLoopLock lock(loopLock);
            dropped = std::move(layers);
            abandonedPass = std::move(overdubBuffer);
            loopLength = 0;
            playPosition = 0;
            recordPosition = 0;
            state = LoopState::Idle;
            showState();
        }
    }
    catch (const std::exception&)
    {
    }
}

LoopState Looper::getLoopState() const
{
    return shownState.load();
}

int Looper::getNumLayers() const
{
    return shownNumLayers.load();
}

void Looper::startTake()
{
    // The audio step writes the take only while Recording, so it can be
    // zeroed here, before that state is published.
    recordBuffer.clear();

    const ScopedLoopLock lock(loopLock);
    recordPosition = 0;
    state = LoopState::Recording;
    showState();
}

void Looper::closeTake()
{
    int taken = 0;
    HostTiming t;
    int barsIndex = 0;
    bool syncOn = false;
    {
        const ScopedLoopLock lock(loopLock);
        taken = recordPosition;
        t = timing;
        barsIndex = loopBarsIndex;
        syncOn = loopSyncOn;
    }

    // Until the new state is published the audio step keeps appending to the
    // take, but only from `taken` on: none of that joins the loop. The layer
    // starts silent, so a loop rounded up past the take ends in silence.
    const int length = loopLengthFor(taken, t, barsIndex, syncOn);
    auto layer = std::make_shared<LoopLayer>(numChannels, length);
    const int copied = std::min(taken, length);
    if (copied > 0)
        for (int c = 0; c < numChannels; ++c)
            juce::FloatVectorOperations::copy(layer->audio.getWritePointer(c),
                                              recordBuffer.getReadPointer(c), copied);

    auto stack = LayerStack::withNewest(layers.get(), std::move(layer));
    {
        const ScopedLoopLock lock(loopLock);
        std::swap(layers, stack);
        loopLength = length;
        playPosition = 0;
        state = LoopState::Playing;
        showState();
    }
}

void Looper::startPass()
{
    auto pass = std::make_shared<LoopLayer>(numChannels, loopLength);
    {
        const ScopedLoopLock lock(loopLock);
        std::swap(overdubBuffer, pass);
        state = LoopState::Overdubbing;
        showState();
    }
}

void Looper::closePass(LoopState next)
{
    // The pass joins the loop as it stands at the block boundary where it
    // stops being written, so no block misses it and none writes it after.
    auto stack = LayerStack::withNewest(layers.get(), overdubBuffer);
    std::shared_ptr<LoopLayer> closed;
    {
        const ScopedLoopLock lock(loopLock);
        std::swap(layers, stack);
        closed = std::move(overdubBuffer);
        state = next;
        showState();
    }
}

void Looper::setState(LoopState next)
{
    const ScopedLoopLock lock(loopLock);
    state = next;
    showState();
}

int Looper::loopLengthFor(int takeLength, const HostTiming& t, int barsIndex, bool syncOn) const
{
    // A signature without a note value has no bar length: the take keeps its own length.
    const double bar = t.denominator != 0
                           ? t.numerator * (60.0 / t.bpm) * (4.0 / t.denominator) * sampleRate
                           : 0.0;
    const bool sync = syncOn && t.bpm > 0.0 && bar > 1.0 && std::isfinite(bar);

    if (!sync)
        return std::min(std::max(takeLength, 1), maxLoopSamples);

    double target = bar;
    switch (barsIndex)
    {
    case 0:
        target = bar * std::max(std::round(takeLength / bar), 1.0);
        break;
    case 2:
        target = bar * 2.0;
        break;
    case 3:
        target = bar * 4.0;
        break;
    case 4:
        target = bar * 8.0;
        break;
    default:
        break;
    }

    const double rounded = std::round(target);
    if (rounded <= 0.0)
        return 1;
    return static_cast<int>(std::min(rounded, static_cast<double>(maxLoopSamples)));
}

void Looper::showState() noexcept
{
    shownState.store(state);
    shownNumLayers.store(countOf(layers));
}
