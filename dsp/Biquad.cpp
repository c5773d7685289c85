#include "dsp/Biquad.h"

#include <cmath>

namespace
{
// The terms both designs share: cos w, alpha and a0 at the held cut-off.
struct SectionTerms
{
    float cs;
    float alpha;
    float a0;
};

SectionTerms sectionTerms(float cutoff, float q, float sampleRate)
{
    const float qe = q > 0.3f ? q : 0.3f;
    const float highest = 0.45f * sampleRate;
    const float f = cutoff < 20.0f ? 20.0f : (cutoff < highest ? cutoff : highest);
    const float w = 6.2831855f * f / sampleRate;
    const float sn = std::sin(w);
    const float cs = std::cos(w);
    const float alpha = sn / (2.0f * qe);
    return {cs, alpha, 1.0f + alpha};
}
} // namespace

void Biquad::setHighPass(float cutoff, float q, float sampleRate)
{
    const SectionTerms t = sectionTerms(cutoff, q, sampleRate);
    b0 = ((1.0f + t.cs) * 0.5f) / t.a0;
    b1 = -(1.0f + t.cs) / t.a0;
    b2 = b0;
    a1 = -2.0f * t.cs / t.a0;
    a2 = (1.0f - t.alpha) / t.a0;
}

void Biquad::setLowPass(float cutoff, float q, float sampleRate)
{
    const SectionTerms t = sectionTerms(cutoff, q, sampleRate);
    b0 = ((1.0f - t.cs) * 0.5f) / t.a0;
    b1 = (1.0f - t.cs) / t.a0;
    b2 = b0;
    a1 = -2.0f * t.cs / t.a0;
    a2 = (1.0f - t.alpha) / t.a0;
}

float Biquad::processSample(float x)
{
    const float y = b0 * x + z1;
    z1 = b1 * x - a1 * y + z2;
    z2 = b2 * x - a2 * y;
    return y;
}
