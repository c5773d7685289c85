#pragma once

#include <vector>

// Delay-line pitch shifter for one channel. Two read taps, half a buffer
// apart, move through a circular buffer at `rate` samples per output sample;
// a raised-cosine crossfade hands the output to tap B while tap A is far from
// both ends of its travel.
class PitchShifter
{
  public:
    static constexpr int size = 4096;
    static constexpr float half = 0.5f * static_cast<float>(size);

    // The buffer is allocated here, zeroed, with the taps at rest.
    PitchShifter();

    // Zeroes the buffer and puts the write index, the taps and the rate back
    // to rest. Does not allocate.
    void reset();

    // Transposition ratio, kept within [0.5, 2].
    void setRate(float newRate);

    // Writes x and returns the crossfaded output of the two taps.
    float processSample(float x);

    float getRate() const { return rate; }
    float getOffset() const { return offset; }
    int getWritePos() const { return writePos; }
    const std::vector<float>& getBuffer() const { return buffer; }

  private:
    float readAt(float pos) const;

    std::vector<float> buffer;
    int writePos = 0;
    float offset = 0.0f; // tap A's distance behind writePos, in [0, half)
    float rate = 1.0f;
};
