#include "DemoSignal.h"

#include <cmath>

namespace
{
// One note of the phrase: MIDI note and length in beats at 120 bpm.
struct Note
{
    int midi;
    double beats;
};

const Note phrase[] = {{57, 1}, {60, 1}, {64, 1}, {62, 0.5}, {60, 0.5}, {59, 1}, {60, 1}, {57, 2}};

// Formants of an open "ah" vowel: centre, bandwidth, gain.
const double formants[][3] = {{730, 90, 1.0}, {1090, 110, 0.5}, {2440, 170, 0.25}};

double formantGain(double f)
{
    double g = 0.0;
    for (const auto& fm : formants)
    {
        const double d = (f - fm[0]) / fm[1];
        g += fm[2] / (1.0 + d * d);
    }
    return g;
}
} // namespace

juce::AudioBuffer<float> DemoSignal::make(double sampleRate, double seconds, int numChannels)
{
    const int length = juce::jmax(0, (int)std::llround(seconds * sampleRate));
    juce::AudioBuffer<float> out(juce::jmax(1, numChannels), length);
    out.clear();

    const double beat = 0.5;
    double phraseLength = 0.0;
    for (const auto& n : phrase)
        phraseLength += n.beats * beat;

    double phase = 0.0;
    auto* left = out.getWritePointer(0);
    for (int s = 0; s < length; ++s)
    {
        const double t = s / sampleRate;
        double inPhrase = std::fmod(t, phraseLength);
        double noteStart = 0.0;
        const Note* note = &phrase[0];
        for (const auto& n : phrase)
        {
            if (inPhrase < noteStart + n.beats * beat)
            {
                note = &n;
                break;
            }
            noteStart += n.beats * beat;
        }
        const double noteTime = inPhrase - noteStart;
        const double noteLength = note->beats * beat;

        // Vibrato grows in after the attack, as a singer's does.
        const double vibrato = 0.25 * std::min(1.0, noteTime / 0.3) *
                               std::sin(2.0 * juce::MathConstants<double>::pi * 5.5 * t);
        const double f0 = 440.0 * std::pow(2.0, (note->midi + vibrato - 69) / 12.0);
        phase += f0 / sampleRate;
        phase -= std::floor(phase);

        double v = 0.0;
        for (int k = 1; k * f0 < std::min(5000.0, 0.45 * sampleRate); ++k)
            v += formantGain(k * f0) / std::sqrt((double)k) *
                 std::sin(2.0 * juce::MathConstants<double>::pi * k * phase);

        const double attack = std::min(1.0, noteTime / 0.04);
        const double release = std::min(1.0, (noteLength - noteTime) / 0.08);
        left[s] = (float)(0.25 * v * attack * std::max(0.0, release));
    }

    for (int c = 1; c < out.getNumChannels(); ++c)
        out.copyFrom(c, 0, out, 0, 0, length);
    return out;
}
