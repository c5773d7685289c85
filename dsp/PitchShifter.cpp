#include "dsp/PitchShifter.h"

#include <algorithm>
#include <cmath>

PitchShifter::PitchShifter() : buffer(static_cast<size_t>(size), 0.0f) {}

void PitchShifter::reset()
{
    std::fill(buffer.begin(), buffer.end(), 0.0f);
    writePos = 0;
    offset = 0.0f;
    rate = 1.0f;
}

void PitchShifter::setRate(float newRate)
{
    rate = std::min(std::max(newRate, 0.5f), 2.0f);
}

float PitchShifter::readAt(float pos) const
{
    const int j = static_cast<int>(pos);
    const float a = buffer[static_cast<size_t>(j)];
    const float b = buffer[static_cast<size_t>((j + 1) % size)];
    return a + (pos - static_cast<float>(j)) * (b - a);
}

float PitchShifter::processSample(float x)
{
    constexpr float sizeF = static_cast<float>(size);

    // Write first, so a tap at distance 0 reads the current sample.
    buffer[static_cast<size_t>(writePos)] = x;

    const auto wrap = [](float pos)
    {
        while (pos < 0.0f)
            pos += sizeF;
        while (pos >= sizeF)
            pos -= sizeF;
        return pos;
    };
    const float posA = static_cast<float>(writePos) - offset;
    const float posB = posA + half;
    const float tapA = readAt(wrap(posA));
    const float tapB = readAt(wrap(posB));

    // Zero at both ends of tap A's travel, one halfway along it.
    const float g = (1.0f - std::cos(offset / half * 6.2831855f)) * 0.5f;
    const float shifted = tapB * g + (1.0f - g) * tapA;

    // Tap A falls back by 1 - rate samples per sample, i.e. it advances by rate.
    offset += 1.0f - rate;
    if (offset >= half)
        offset -= half;
    if (offset < 0.0f)
        offset += half;

    writePos = (writePos + 1) % size;
    return shifted;
}
