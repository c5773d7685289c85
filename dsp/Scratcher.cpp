#include "dsp/Scratcher.h"

#include <cmath>

namespace
{
struct Motion
{
    float speed; // motion of the head, before depth
    float gate;  // cross-fader target
};

// Motion and gate of a pattern at phase phi in [0, 1).
Motion patternMotion(int pattern, float phi, float jog, float fader)
{
    if (pattern <= Scratcher::manual)
        return {jog, fader};

    const float angle = (phi + phi) * 3.1415927f; // one turn per period

    switch (pattern)
    {
    case Scratcher::baby:
        return {0.8f * std::sin(angle), 1.0f};
    case Scratcher::chirp:
        // One fast push in the first half, then the fader is shut.
        if (phi < 0.5f)
            return {0.9f * std::sin(angle * 2.0f), 1.0f};
        return {0.0f, 0.0f};
    case Scratcher::transformer:
    {
        const int segment = static_cast<int>(std::floor(8.0f * phi));
        return {0.7f * std::sin(angle), (segment % 2 == 0) ? 1.0f : 0.0f};
    }
    case Scratcher::flare:
    {
        const float sixteenths = 16.0f * phi;
        const float within = sixteenths - std::floor(sixteenths);
        return {0.85f * std::sin(angle), within < 0.5f ? 1.0f : 0.1f};
    }
    default: // scribble and anything above it
        return {0.6f * std::sin(angle * 6.0f), 1.0f};
    }
}
} // namespace

void Scratcher::prepare(double newSampleRate, int newNumChannels)
{
    sampleRate = newSampleRate;
    numChannels = newNumChannels;
    captureLength = static_cast<int>(6.0 * sampleRate);

    captures.assign(static_cast<size_t>(juce::jmax(0, numChannels)), {});
    for (auto& ring : captures)
        ring.assign(static_cast<size_t>(juce::jmax(0, captureLength)), 0.0f);

    writePosition = 0;
    readPosition = 0.0f;
    previousOffset = 0.0f;
    patternPhase = 0.0f;
    faderLevel = 1.0f;
}

void Scratcher::updateParameters(const Parameters& p)
{
    enabled = p.on > 0.5f;
    mode = static_cast<int>(p.mode);
    pattern = static_cast<int>(p.pattern);
    jog = p.jog;
    fader = p.fader;
    depth = p.depth;
    dry = p.dry;

    // A bar is four beats whatever the host's time signature.
    float period = static_cast<float>(p.sampleRate * 60.0 / p.bpm * 4.0);
    switch (static_cast<int>(p.bars))
    {
    case 0:
        period *= 0.5f;
        break;
    case 1:
        break;
    case 2:
        period *= 2.0f;
        break;
    default:
        period *= 4.0f;
        break;
    }
    periodSamples = period > 1.0f ? period : 1.0f;
}

void Scratcher::process(juce::AudioBuffer<float>& buffer)
{
    const int numSamples = buffer.getNumSamples();
    if (!enabled || captureLength <= 0 || numSamples <= 0)
        return;

    const int channels = juce::jmin(numChannels, buffer.getNumChannels());
    float* const* data = buffer.getArrayOfWritePointers();

    const float base = (mode == playThrough) ? 1.0f : 0.0f;
    const float jogScale = static_cast<float>(0.05 * sampleRate); // 50 ms per unit
    const float ringLength = static_cast<float>(captureLength);
    const float phaseStep = 1.0f / periodSamples;

    for (int s = 0; s < numSamples; ++s)
    {
        for (int ch = 0; ch < channels; ++ch)
            captures[(size_t)ch][(size_t)writePosition] = data[ch][s];

        if (++writePosition >= captureLength)
            writePosition = 0;

        patternPhase += phaseStep;
        if (patternPhase >= 1.0f)
            patternPhase -= 1.0f;

        const Motion motion = patternMotion(pattern, patternPhase, jog, fader);

        // The head travels at base + m and is displaced by m scaled to 50 ms per unit.
        const float m = motion.speed * depth;
        const float offset = m * jogScale;
        float r = (offset - previousOffset) + base + m + readPosition;
        previousOffset = offset;
        if (r >= ringLength)
            r -= ringLength;
        if (r < 0.0f)
            r += ringLength;

        // Only a motion far beyond the controls' ranges can leave the ring after one wrap.
        if (!(r >= 0.0f && r <= ringLength))
        {
            const double folded = std::fmod(static_cast<double>(r), double(captureLength));
            r = static_cast<float>(folded < 0.0 ? folded + captureLength : folded);
            if (!(r >= 0.0f && r < ringLength))
                r = 0.0f;
        }
        readPosition = r;

        const float whole = std::floor(r);
        const float f = r - whole;
        int i0 = static_cast<int>(whole);
        if (i0 >= captureLength) // a tiny negative position rounded onto the ring's end
            i0 = 0;
        int i1 = i0 + 1;
        if (i1 >= captureLength)
            i1 = 0;

        faderLevel += (motion.gate - faderLevel) * 0.02f;

        for (int ch = 0; ch < channels; ++ch)
        {
            const auto& ring = captures[(size_t)ch];
            const float x = data[ch][s];
            const float scratched = ring[(size_t)i0] * (1.0f - f) + ring[(size_t)i1] * f;
            data[ch][s] = faderLevel * scratched + dry * x;
        }
    }
}
