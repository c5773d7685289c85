#include "dsp/DelayUnit.h"

#include <cmath>

const float DelayUnit::beats[7] = {1.0f, 0.5f, 0.75f, 1.0f / 3.0f, 0.25f, 1.5f, 2.0f};

namespace
{
constexpr float glideCoefficient = 0.0008f; // per sample, about 1250 samples time constant
constexpr float toneCoefficient = 0.28f;    // per sample, the feedback path's low-pass
constexpr double wowRadiansPerSecond = 4.39822971502571; // 0.7 Hz
constexpr double twoPi = 6.283185307179586;
constexpr double wowDepthSeconds = 0.0009;

// Truncated choice index, limited to the table; a value that is not a number
// picks the first entry.
int divisionIndex(float raw)
{
    if (!(raw > 0.0f))
        return 0;
    return raw < 6.0f ? (int)raw : 6;
}

// Limits to [0, upper]; a value that is not a number becomes 0.
float limitUnit(float raw, float upper)
{
    return raw > 0.0f ? juce::jmin(raw, upper) : 0.0f;
}
} // namespace

void DelayUnit::prepare(double newSampleRate, int newNumChannels)
{
    sampleRate = newSampleRate;
    numChannels = newNumChannels;
    lineLength = (int)(2.5 * sampleRate) + 8;

    const auto channels = (size_t)juce::jmax(0, numChannels);
    lines.assign(channels, std::vector<float>((size_t)lineLength, 0.0f));
    writePositions.assign(channels, 0);
    toneStates.assign(channels, 0.0f);
    reverseCounters.assign(channels, 0.0f);
    currentDelay = 0.0f;
    wowPhase = 0.0;
}

void DelayUnit::updateParameters(const Parameters& p)
{
    float ms = p.time;
    if (p.sync > 0.5f)
    {
        ms = (float)(60000.0 / p.bpm) * beats[divisionIndex(p.division)];
        if (ms < 20.0f)
            ms = 20.0f;
        if (ms > 2000.0f)
            ms = 2000.0f;
    }

    const float samples = (float)((double)ms * 0.001 * sampleRate);
    const float longest = (float)(lineLength - 4);
    // Written so that a time that is not a number also lands on one sample.
    if (!(samples >= 1.0f))
        targetDelay = 1.0f;
    else
        targetDelay = juce::jmin(samples, longest);

    // The first block after prepare starts on the target without a glide.
    if (currentDelay <= 0.0f)
        currentDelay = targetDelay;

    feedback = limitUnit(p.feedback, 0.95f);
    mix = limitUnit(p.mix, 1.0f);
    mode = (p.mode > -1.0f && p.mode < 4.0f) ? (int)p.mode : (int)Digital;
}

void DelayUnit::process(juce::AudioBuffer<float>& buffer)
{
    if (lineLength <= 0)
        return;

    const int channels = juce::jmin(buffer.getNumChannels(), numChannels, (int)lines.size());
    const int numSamples = buffer.getNumSamples();
    float* const* data = buffer.getArrayOfWritePointers();
    const float length = (float)lineLength;

    for (int n = 0; n < numSamples; ++n)
    {
        currentDelay += (targetDelay - currentDelay) * glideCoefficient;

        float d = currentDelay;
        if (mode == Tape)
        {
            wowPhase += wowRadiansPerSecond / sampleRate;
            if (wowPhase > twoPi)
                wowPhase -= twoPi;
            d = currentDelay + (float)(sampleRate * wowDepthSeconds * std::sin(wowPhase));
        }

        for (int ch = 0; ch < channels; ++ch)
        {
            float* line = lines[(size_t)ch].data();
            const float x = data[ch][n];
            const int w = writePositions[(size_t)ch];

            float r;
            if (mode == Reverse)
            {
                float& counter = reverseCounters[(size_t)ch];
                r = (float)w - counter;
                counter += 1.0f;
                if (counter >= d)
                    counter -= d;
            }
            else
            {
                r = (float)w - d;
            }

            while (r < 0.0f)
                r += length;

            int i = (int)r;
            const float f = r - (float)i;
            // A tiny negative position plus the length can round to the length
            // itself, and a wow swing deeper than a very short delay reads
            // ahead of the write position: both fold back into the line.
            if (i >= lineLength)
                i -= lineLength;

            const int next = (i + 1) % lineLength;
            const float y = line[i] + (line[next] - line[i]) * f;

            float v = y;
            if (mode == Analog || mode == Tape)
            {
                float& tone = toneStates[(size_t)ch];
                tone += (y - tone) * toneCoefficient;
                v = mode == Tape ? std::tanh(1.4f * tone) * 0.8f : tone;
            }

            line[w] = x + v * feedback;
            writePositions[(size_t)ch] = (w + 1) % lineLength;
            data[ch][n] = (1.0f - mix) * x + mix * y;
        }
    }
}
