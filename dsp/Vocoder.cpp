#include "dsp/Vocoder.h"

#include <algorithm>
#include <climits>
#include <cmath>

float Vocoder::bandCentreHz(int band)
{
    // 3.5866005 is ln(6500 / 180).
    return std::exp((float)band / 13.0f * 3.5866005f) * 180.0f;
}

void Vocoder::prepare(double newSampleRate, int newNumChannels)
{
    sampleRate = newSampleRate;
    numChannels = newNumChannels;

    const float sr = (float)sampleRate;
    for (size_t k = 0; k < (size_t)numBands; ++k)
    {
        const float fc = bandCentreHz((int)k);

        // A band at or above half the sample rate would need a pole outside the
        // unit circle (sin w < 0 gives a negative bandwidth term); it is left
        // silent instead. Only rates below 13 kHz have such bands.
        if (fc >= 0.5f * sr)
        {
            b0[k] = b2[k] = a1[k] = a2[k] = 0.0f;
            continue;
        }

        const float w = fc * 6.2831855f / sr;
        const float sinW = std::sin(w);
        const float cosW = std::cos(w);
        const float alpha = sinW / 9.0f; // Q = 4.5
        const float a0 = 1.0f + alpha;
        b0[k] = alpha / a0;
        b2[k] = -b0[k];
        a1[k] = -2.0f * cosW / a0;
        a2[k] = (1.0f - alpha) / a0;
    }

    attack = (float)std::exp(-1.0 / (sampleRate * 0.004));  // 4 ms
    release = (float)std::exp(-1.0 / (sampleRate * 0.018)); // 18 ms
    trackerCoefficient = 1.0f - std::exp(-2199.115f / sr);  // one-pole at 350 Hz

    modS1.fill(0.0f);
    modS2.fill(0.0f);
    carS1.fill(0.0f);
    carS2.fill(0.0f);
    bandEnvelope.fill(0.0f);
    trackerLowPass = 0.0f;
    previousLowPass = 0.0f;
    samplesSinceCrossing = 0;
    phase = 0.0f;
    subPhase = 0.0f;
    highPassState = 0.0f;
    previousInput = 0.0f;
    breathEnvelope = 0.0f;
    trackedPitch = 110.0f;
    glidedPitch = 110.0f;
    noiseState = 12345u;
}

void Vocoder::updateParameters(const Parameters& p)
{
    enabled = p.on > 0.5f;
    carrier = (int)p.carrier;
    mix = p.mix;
    dry = p.dry;
    bright = p.bright;
    breath = p.breath;
    glide = p.glide;
}

void Vocoder::process(juce::AudioBuffer<float>& buffer)
{
    if (!enabled)
        return;

    const int m = std::min(buffer.getNumChannels(), numChannels);
    const int numSamples = buffer.getNumSamples();
    if (m < 1 || numSamples < 1)
        return;

    float* const* channels = buffer.getArrayOfWritePointers();
    const float sr = (float)sampleRate;
    const int carrierNow = carrier;
    const float oneMinusAttack = 1.0f - attack;
    const float oneMinusRelease = 1.0f - release;
    const float g = 1.0f - glide;
    const float glideCoefficient = g * g * 0.05f + 0.0005f;
    const float drive = bright * 0.8f + 1.2f;

    for (int i = 0; i < numSamples; ++i)
    {
        // Modulator: only channels 0 and 1 are ever averaged.
        float x = channels[0][i];
        if (m > 1)
            x = (channels[0][i] + channels[1][i]) * 0.5f;

        // Pitch from the interval between upward zero crossings of a 350 Hz low-pass.
        if (samplesSinceCrossing < INT_MAX)
            ++samplesSinceCrossing;
        trackerLowPass = trackerLowPass + (x - trackerLowPass) * trackerCoefficient;
        if (previousLowPass <= 0.0f && trackerLowPass > 0.0f)
        {
            const float f = sr / (float)samplesSinceCrossing;
            if (samplesSinceCrossing >= 9 && f > 60.0f && f < 1000.0f)
                trackedPitch = f;
            samplesSinceCrossing = 0;
        }
        previousLowPass = trackerLowPass;

        glidedPitch = glidedPitch + (trackedPitch - glidedPitch) * glideCoefficient;

        // Breath detector: high-passed input, smoothed.
        const float h = 0.93f * highPassState + x - previousInput;
        highPassState = h;
        previousInput = x;
        breathEnvelope = std::min(std::abs(h) * 6.0f, 1.0f) * 0.001f + 0.999f * breathEnvelope;

        // Carrier oscillator.
        phase = phase + glidedPitch / sr;
        if (phase >= 1.0f)
            phase -= 1.0f;

        float v;
        if (carrierNow == square)
        {
            v = phase < 0.5f ? 1.0f : -1.0f;
        }
        else if (carrierNow == sawSub)
        {
            subPhase = subPhase + (glidedPitch * 0.5f) / sr;
            if (subPhase >= 1.0f)
                subPhase -= 1.0f;
            v = (2.0f * phase - 1.0f) * 0.7f + (2.0f * subPhase - 1.0f) * 0.5f;
        }
        else
        {
            v = 2.0f * phase - 1.0f;
        }

        const float n = nextNoise(noiseState);
        v = n * (breathEnvelope * 1.2f + 0.25f) * breath + v;

        // Filter bank: each modulator band's envelope scales the same carrier band.
        float sum = 0.0f;
        for (size_t k = 0; k < (size_t)numBands; ++k)
        {
            const float y = b0[k] * x + modS1[k];
            modS1[k] = -a1[k] * y + modS2[k];
            modS2[k] = b2[k] * x - a2[k] * y;

            const float level = std::abs(y);
            if (level > bandEnvelope[k])
                bandEnvelope[k] = level * oneMinusAttack + attack * bandEnvelope[k];
            else
                bandEnvelope[k] = level * oneMinusRelease + release * bandEnvelope[k];

            const float yc = b0[k] * v + carS1[k];
            carS1[k] = -a1[k] * yc + carS2[k];
            carS2[k] = b2[k] * v - a2[k] * yc;

            sum = sum + 2.0f * yc * bandEnvelope[k];
        }

        const float wet = std::tanh(drive * sum * 0.8f);
        for (int ch = 0; ch < m; ++ch)
            channels[ch][i] = dry * channels[ch][i] + mix * wet;
    }
}
