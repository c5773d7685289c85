#include "dsp/Autotune.h"

#include <algorithm>
#include <cmath>

void Autotune::prepare(double newSampleRate, int newNumChannels)
{
    // A rate too low for an analysis window (or not a number at all) is raised
    // to the lowest one the analysis can work with.
    if (!(newSampleRate >= minSampleRate))
        newSampleRate = minSampleRate;
    sampleRate = std::min(newSampleRate, maxSampleRate);
    numChannels = std::max(0, newNumChannels);

    shifters.resize(static_cast<size_t>(numChannels));
    for (auto& shifter : shifters)
        shifter.reset();

    analysisBuffer.assign(static_cast<size_t>(windowLength(sampleRate)), 0.0f);
    analysisIndex = 0;
    targetRatio = 1.0f;
    currentRatio = 1.0f;
}

void Autotune::updateParameters(const Parameters& p)
{
    enabled = p.on > 0.5f;
    key = static_cast<int>(p.key);
    scale = static_cast<int>(p.scale);
    speed = juce::jlimit(0.0f, 1.0f, p.speed);
    mix = juce::jlimit(0.0f, 1.0f, p.mix);
}

void Autotune::process(juce::AudioBuffer<float>& block)
{
    const int numSamples = block.getNumSamples();
    if (!enabled || block.getNumChannels() < 1 || numSamples < 1 || analysisBuffer.empty())
        return;

    // Analysis pass: channel 0 as it came in fills the window; every full
    // window is analysed at once, so a long block may analyse several times.
    const int length = static_cast<int>(analysisBuffer.size());
    const float* input = block.getReadPointer(0);
    for (int i = 0; i < numSamples; ++i)
    {
        analysisBuffer[static_cast<size_t>(analysisIndex)] = input[i];
        if (++analysisIndex == length)
        {
            analysisIndex = 0;
            analyseWindow();
        }
    }

    // Shifting pass: glide towards the last target, shift and mix every channel.
    const int m =
        std::min({block.getNumChannels(), numChannels, static_cast<int>(shifters.size())});
    float* const* channels = block.getArrayOfWritePointers();
    const float glide = speed * 0.06f + 0.0008f;
    const float dry = 1.0f - mix;

    for (int i = 0; i < numSamples; ++i)
    {
        currentRatio = currentRatio + (targetRatio - currentRatio) * glide;
        const float rate = juce::jlimit(0.5f, 2.0f, currentRatio);
        for (int k = 0; k < m; ++k)
            shifters[static_cast<size_t>(k)].setRate(rate);

        for (int k = 0; k < m; ++k)
        {
            const float x = channels[k][i];
            const float shifted = shifters[static_cast<size_t>(k)].processSample(x);
            channels[k][i] = dry * x + mix * shifted;
        }
    }
}

void Autotune::analyseWindow()
{
    const int length = static_cast<int>(analysisBuffer.size());
    const float* window = analysisBuffer.data();

    // Too quiet to carry a pitch: leave the voice as it is.
    float sumOfSquares = 0.0f;
    for (int i = 0; i < length; ++i)
        sumOfSquares += window[i] * window[i];
    const float rms = std::sqrt(sumOfSquares / static_cast<float>(length));
    if (rms < 0.01f)
    {
        targetRatio = 1.0f;
        return;
    }

    const LagRange range = lagRange(sampleRate, length);
    if (range.minLag > range.maxLag)
    {
        targetRatio = 1.0f;
        return;
    }

    const int bestLag = findBestLag(window, length, range);
    if (bestLag == 0)
    {
        targetRatio = 1.0f;
        return;
    }

    const float frequency = static_cast<float>(sampleRate / bestLag);
    if (frequency <= 0.0f)
    {
        targetRatio = 1.0f;
        return;
    }

    const float pitch = 12.0f * std::log2(frequency / 440.0f) + 69.0f;
    const int note = snapToScale(pitch);
    const float target = 440.0f * std::pow(2.0f, static_cast<float>(note - 69) / 12.0f);
    const float ratio = target / frequency;
    targetRatio = ratio < 0.5f ? 0.5f : std::min(ratio, 2.0f);
}

int Autotune::snapToScale(float midiPitch) const
{
    struct ScaleList
    {
        int size;
        int intervals[12];
    };
    // Major, minor, chromatic. Constant data: nothing is built on the audio thread.
    static constexpr ScaleList scales[3] = {
        {7, {0, 2, 4, 5, 7, 9, 11}},
        {7, {0, 2, 3, 5, 7, 8, 10}},
        {12, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
    };

    const ScaleList& list = scales[juce::jlimit(0, 2, scale)];
    const int nearest = static_cast<int>(std::lround(midiPitch));
    int result = nearest;
    float bestDistance = 1.0e9f;

    // Candidates come in ascending pitch, so the strict comparison keeps the
    // lower note of two equally near ones.
    const int base = (nearest / 12) * 12;
    for (const int octave : {base - 12, base, base + 12})
    {
        for (int d = 0; d < list.size; ++d)
        {
            const int candidate = list.intervals[d] + key + octave;
            const float distance = std::abs(static_cast<float>(candidate) - midiPitch);
            if (distance < bestDistance)
            {
                result = candidate;
                bestDistance = distance;
            }
        }
    }
    return result;
}

int Autotune::windowLength(double rate)
{
    if (!(rate >= minSampleRate))
        rate = minSampleRate;
    return static_cast<int>(std::min(rate, maxSampleRate) * 0.046);
}

Autotune::LagRange Autotune::lagRange(double rate, int length)
{
    LagRange range;
    range.minLag = std::max(2, static_cast<int>(rate / 1000.0));
    range.maxLag = std::min(length - 1, static_cast<int>(rate / 80.0));
    return range;
}

float Autotune::correlateLag(const float* window, int length, int lag)
{
    float sum = 0.0f;
    for (int i = 0; i < length - lag; ++i)
        sum += window[i] * window[i + lag];
    return sum;
}

void Autotune::correlateLags(const float* window, int length, int firstLag, float* sums)
{
    // One accumulator per lag, each fed in ascending i exactly as correlateLag
    // feeds its single one; only the lags are interleaved, which lets the
    // compiler keep the accumulators in vector registers.
    float acc[lagsPerPass] = {};
    const int shared = length - (firstLag + lagsPerPass - 1); // terms every lag has
    for (int i = 0; i < shared; ++i)
    {
        const float x = window[i];
        const float* y = window + i + firstLag;
        for (int k = 0; k < lagsPerPass; ++k)
            acc[k] += x * y[k];
    }

    // The shorter lags have a few terms more; they come last in i as well.
    for (int k = 0; k < lagsPerPass - 1; ++k)
    {
        const int lag = firstLag + k;
        for (int i = shared; i < length - lag; ++i)
            acc[k] += window[i] * window[i + lag];
    }

    std::copy(acc, acc + lagsPerPass, sums);
}

int Autotune::findBestLag(const float* window, int length, LagRange range)
{
    const int minLag = std::max(0, range.minLag);
    const int maxLag = std::min(length - 1, range.maxLag);

    // Only a strictly greater sum replaces the best, so the first maximum
    // (the smaller lag) wins; the best starts at zero, so only positive sums count.
    float best = 0.0f;
    int bestLag = 0;
    const auto consider = [&](int lag, float sum)
    {
        if (sum > best)
        {
            best = sum;
            bestLag = lag;
        }
    };

    float sums[lagsPerPass];
    int lag = minLag;
    while (maxLag - lag + 1 >= lagsPerPass)
    {
        correlateLags(window, length, lag, sums);
        for (int k = 0; k < lagsPerPass; ++k)
            consider(lag + k, sums[k]);
        lag += lagsPerPass;
    }

    if (lag <= maxLag)
    {
        // The remaining lags come from one more pass ending at maxLag; the
        // lags it repeats are skipped.
        const int firstLag = maxLag - lagsPerPass + 1;
        if (firstLag >= 0)
        {
            correlateLags(window, length, firstLag, sums);
            for (; lag <= maxLag; ++lag)
                consider(lag, sums[lag - firstLag]);
        }
        else
        {
            for (; lag <= maxLag; ++lag)
                consider(lag, correlateLag(window, length, lag));
        }
    }
    return bestLag;
}
