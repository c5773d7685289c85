#pragma once

// One second-order filter section in transposed direct form II, all float.
// Coefficients are normalised so that a0 is 1; a fresh section passes its
// input through unchanged.
class Biquad
{
  public:
    // Installs a high-pass or low-pass design. The cut-off is held to
    // [20 Hz, 0.45 x sample rate] and q to at least 0.3. The states are left
    // as they are, so a running filter can be retuned without a click.
    void setHighPass(float cutoff, float q, float sampleRate);
    void setLowPass(float cutoff, float q, float sampleRate);

    float processSample(float x);

    float b0 = 1.0f;
    float b1 = 0.0f;
    float b2 = 0.0f;
    float a1 = 0.0f;
    float a2 = 0.0f;
    float z1 = 0.0f;
    float z2 = 0.0f;
};
