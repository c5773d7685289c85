#include "dsp/Filterz.h"

#include <cmath>

namespace
{
struct FilterzPreset
{
    float highPassHz;
    float lowPassHz;
    float driveBase;
    float q;
    float sweepDepthHz;
};

// Indexed by the preset choice: "Overdrive", "Telephone", "Whale/Ethereal",
// "Through-Wall", "Underwater", "Megaphone", "Radio DJ".
constexpr FilterzPreset presets[7] = {
    {90.0f, 9000.0f, 0.55f, 0.7f, 0.0f},    {400.0f, 2800.0f, 0.25f, 0.9f, 0.0f},
    {300.0f, 1800.0f, 0.15f, 2.5f, 600.0f}, {120.0f, 700.0f, 0.1f, 0.7f, 0.0f},
    {200.0f, 1200.0f, 0.1f, 1.4f, 120.0f},  {500.0f, 3500.0f, 0.75f, 1.1f, 0.0f},
    {150.0f, 7500.0f, 0.45f, 0.7f, 0.0f}};

constexpr int radioDj = 6;

// The choice index is the raw value truncated toward zero; anything that does
// not land on rows 0..5 (including NaN) falls back to "Radio DJ". The range is
// checked on the float so that no out-of-range conversion to int can happen.
const FilterzPreset& presetFor(float rawIndex)
{
    if (rawIndex > -1.0f && rawIndex < 6.0f)
        return presets[static_cast<int>(rawIndex)];
    return presets[radioDj];
}
} // namespace

void Filterz::prepare(double newSampleRate, int newNumChannels)
{
    sampleRate = newSampleRate;
    numChannels = newNumChannels;
    lfoPhase = 0.0f;
}

void Filterz::updateParameters(const Parameters& p)
{
    const FilterzPreset& row = presetFor(p.preset);

    // Colour 0..1 maps to -1..1 and opens or closes both cut-offs around the row.
    const float k = 2.0f * (p.colour - 0.5f);
    const float hp = (1.0f + 0.4f * k) * row.highPassHz;
    const float lp = row.lowPassHz * (1.0f + 0.6f * k);

    drive = p.drive * 0.7f + row.driveBase;
    q = row.q;
    sweepDepth = row.sweepDepthHz;
    sweepCentre = lp;
    mix = p.mix;
    motion = p.motion;

    const float sr = static_cast<float>(sampleRate);
    for (int ch = 0; ch < 2; ++ch)
    {
        highPass[ch].setHighPass(hp, q, sr);
        lowPass[ch].setLowPass(lp, q, sr);
    }
}

void Filterz::process(juce::AudioBuffer<float>& buffer)
{
    const int numSamples = buffer.getNumSamples();
    if (numSamples == 0)
        return;

    const int n = juce::jmin(numChannels, buffer.getNumChannels());
    float* left = n >= 1 ? buffer.getWritePointer(0) : nullptr;
    float* right = n >= 2 ? buffer.getWritePointer(1) : nullptr;

    const float sr = static_cast<float>(sampleRate);
    const float gain = 1.0f + 8.0f * drive;
    const float makeUp = 1.0f / (1.0f + 1.5f * drive);
    const float dry = 1.0f - mix;

    for (int i = 0; i < numSamples; ++i)
    {
        if (sweepDepth != 0.0f)
        {
            lfoPhase += 0.6f / sr;
            if (lfoPhase >= 1.0f)
                lfoPhase -= 1.0f;

            const float cutoff =
                sweepDepth * std::sin(6.2831855f * lfoPhase) * motion + sweepCentre;
            lowPass[0].setLowPass(cutoff, q, sr);
            if (n != 1)
                lowPass[1].setLowPass(cutoff, q, sr);
        }

        if (left != nullptr)
        {
            const float x = left[i];
            const float l = lowPass[0].processSample(highPass[0].processSample(x));
            left[i] = mix * std::tanh(gain * l) * makeUp + dry * x;
        }

        if (right != nullptr)
        {
            const float x = right[i];
            const float l = lowPass[1].processSample(highPass[1].processSample(x));
            right[i] = mix * std::tanh(gain * l) * makeUp + dry * x;
        }
    }
}
