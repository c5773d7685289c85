#include "dsp/Octaver.h"

#include <cmath>

namespace
{
// -2 pi times the corner of the detector's low-pass for each range.
constexpr float lowRangeK = -753.98224f;  // 120 Hz
constexpr float midRangeK = -1633.6282f;  // 260 Hz
constexpr float highRangeK = -3267.2563f; // 520 Hz

// Fixed per-sample smoothing of the gated square; independent of the sample rate.
constexpr float subSmoothing = 0.01f;
} // namespace

void Octaver::prepare(double newSampleRate, int newNumChannels)
{
    sampleRate = newSampleRate;
    numChannels = newNumChannels;

    attack = (float)std::exp(-1.0 / (sampleRate * 0.003));
    release = (float)std::exp(-1.0 / (sampleRate * 0.06));

    envelope = 0.0f;
    inputLowPass = 0.0f;
    subSignal = 0.0f;
    toneLowPass = 0.0f;
    flipSign = 1.0f;
    flipLatched = 0;
}

void Octaver::updateParameters(const Parameters& p)
{
    const float sr = (float)sampleRate;

    level = p.level;
    dry = p.dry;
    tone = p.tone;

    const int rangeIndex = (int)p.range;
    const float k = rangeIndex == 0 ? lowRangeK : rangeIndex == 1 ? midRangeK : highRangeK;
    inputCoeff = 1.0f - std::exp(k / sr);

    // Tone corner from 140 Hz (tone 0) to 1800 Hz (tone 1).
    toneCoeff = 1.0f - std::exp((tone * tone * 1660.0f + 140.0f) * (-6.2831855f) / sr);

    gateThreshold = std::pow(10.0f, p.gate / 20.0f);
    hysteresis = (1.0f - p.sens) * 0.02f + 0.002f;
    enabled = p.on > 0.5f;
}

void Octaver::process(juce::AudioBuffer<float>& buffer)
{
    if (!enabled)
        return;

    const int channels = juce::jmin(buffer.getNumChannels(), numChannels);
    const int numSamples = buffer.getNumSamples();
    if (channels < 1 || numSamples < 1)
        return;

    float* const* data = buffer.getArrayOfWritePointers();

    for (int i = 0; i < numSamples; ++i)
    {
        float x = data[0][i];
        if (channels > 1)
            x = (data[0][i] + data[1][i]) * 0.5f;

        const float magnitude = std::abs(x);
        const float r = magnitude > envelope ? attack : release;
        envelope = (1.0f - r) * magnitude + r * envelope;

        inputLowPass = inputLowPass + (x - inputLowPass) * inputCoeff;

        // Flip on the rise past +hysteresis, re-arm on the fall past -hysteresis:
        // one flip per input period halves the frequency.
        if (flipLatched == 0 && inputLowPass > hysteresis)
        {
            flipSign = -flipSign;
            flipLatched = 1;
        }
        if (flipLatched == 1 && inputLowPass < -hysteresis)
            flipLatched = 0;

        const float open = envelope > gateThreshold ? 1.0f : 0.0f;
        subSignal = subSignal + (envelope * flipSign * open - subSignal) * subSmoothing;

        toneLowPass = toneLowPass + (subSignal - toneLowPass) * toneCoeff;

        const float wet = ((subSignal - toneLowPass) * tone + toneLowPass) * level * 2.0f;
        for (int ch = 0; ch < channels; ++ch)
            data[ch][i] = data[ch][i] * dry + wet;
    }
}
