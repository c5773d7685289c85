// Every effect stage against a plain reference of itself: scalar code, one
// sample, one channel, one lag at a time, written for clarity and nothing
// else. Fed the same seconds of varied input in blocks of changing sizes with
// parameters that change from block to block, the stage must give the same
// output as its reference bit for bit. Whatever is done to make a stage
// faster, these must keep passing.

#include <gtest/gtest.h>

#include "dsp/Autotune.h"
#include "dsp/DelayUnit.h"
#include "dsp/Filterz.h"
#include "dsp/Octaver.h"
#include "dsp/Scratcher.h"
#include "dsp/Vocoder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace
{
// ---------------------------------------------------------------------------
// References

float clampUnit(float v)
{
    return std::min(std::max(v, 0.0f), 1.0f);
}

class ReferenceShifter
{
  public:
    void setRate(float r) { rate = std::min(std::max(r, 0.5f), 2.0f); }

    float process(float x)
    {
        constexpr int size = 4096;
        constexpr float half = 2048.0f;

        buffer[(size_t)writePos] = x;

        float posA = (float)writePos - offset;
        float posB = posA + half;
        posA = wrap(posA);
        posB = wrap(posB);
        const float tapA = read(posA);
        const float tapB = read(posB);

        const float g = (1.0f - std::cos(offset / half * 6.2831855f)) * 0.5f;
        const float shifted = tapB * g + (1.0f - g) * tapA;

        offset += 1.0f - rate;
        if (offset >= half)
            offset -= half;
        if (offset < 0.0f)
            offset += half;

        writePos = (writePos + 1) % size;
        return shifted;
    }

  private:
    static float wrap(float pos)
    {
        while (pos < 0.0f)
            pos += 4096.0f;
        while (pos >= 4096.0f)
            pos -= 4096.0f;
        return pos;
    }

    float read(float pos) const
    {
        const int j = (int)pos;
        const float a = buffer[(size_t)j];
        const float b = buffer[(size_t)((j + 1) % 4096)];
        return a + (pos - (float)j) * (b - a);
    }

    std::vector<float> buffer = std::vector<float>(4096, 0.0f);
    int writePos = 0;
    float offset = 0.0f;
    float rate = 1.0f;
};

class ReferenceAutotune
{
  public:
    void prepare(double rate, int channels)
    {
        sampleRate = rate;
        numChannels = channels;
        shifters.assign((size_t)channels, ReferenceShifter());
        window.assign((size_t)(int)(rate * 0.046), 0.0f);
        index = 0;
        targetRatio = 1.0f;
        currentRatio = 1.0f;
    }

    void updateParameters(const Autotune::Parameters& p)
    {
        enabled = p.on > 0.5f;
        key = (int)p.key;
        scale = (int)p.scale;
        speed = clampUnit(p.speed);
        mix = clampUnit(p.mix);
    }

    void process(juce::AudioBuffer<float>& block)
    {
        const int m = std::min(block.getNumChannels(), numChannels);
        const int n = block.getNumSamples();
        if (!enabled || m < 1 || n < 1)
            return;

        for (int i = 0; i < n; ++i)
        {
            window[(size_t)index] = block.getSample(0, i);
            ++index;
            if (index == (int)window.size())
            {
                index = 0;
                analyse();
            }
        }

        const float a = speed * 0.06f + 0.0008f;
        for (int i = 0; i < n; ++i)
        {
            currentRatio = currentRatio + (targetRatio - currentRatio) * a;
            for (int k = 0; k < m; ++k)
                shifters[(size_t)k].setRate(std::min(std::max(currentRatio, 0.5f), 2.0f));
            for (int k = 0; k < m; ++k)
            {
                const float x = block.getSample(k, i);
                const float shifted = shifters[(size_t)k].process(x);
                block.setSample(k, i, (1.0f - mix) * x + mix * shifted);
            }
        }
    }

  private:
    void analyse()
    {
        const int n = (int)window.size();
        float squares = 0.0f;
        for (int i = 0; i < n; ++i)
            squares += window[(size_t)i] * window[(size_t)i];
        if (std::sqrt(squares / (float)n) < 0.01f)
        {
            targetRatio = 1.0f;
            return;
        }

        const int minLag = std::max(2, (int)(sampleRate / 1000.0));
        const int maxLag = std::min(n - 1, (int)(sampleRate / 80.0));
        float best = 0.0f;
        int bestLag = 0;
        for (int lag = minLag; lag <= maxLag; ++lag)
        {
            float sum = 0.0f;
            for (int i = 0; i <= n - 1 - lag; ++i)
                sum += window[(size_t)i] * window[(size_t)(i + lag)];
            if (sum > best)
            {
                best = sum;
                bestLag = lag;
            }
        }
        if (bestLag == 0)
        {
            targetRatio = 1.0f;
            return;
        }

        const float f = (float)(sampleRate / bestLag);
        if (f <= 0.0f)
        {
            targetRatio = 1.0f;
            return;
        }
        const float pitch = 12.0f * std::log2(f / 440.0f) + 69.0f;
        const int note = snap(pitch);
        const float t = 440.0f * std::pow(2.0f, (float)(note - 69) / 12.0f);
        const float ratio = t / f;
        targetRatio = ratio < 0.5f ? 0.5f : std::min(ratio, 2.0f);
    }

    int snap(float pitch) const
    {
        static const std::vector<int> scales[3] = {
            {0, 2, 4, 5, 7, 9, 11}, {0, 2, 3, 5, 7, 8, 10}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
        const auto& list = scales[std::min(std::max(scale, 0), 2)];
        const int n = (int)std::lround(pitch);
        int result = n;
        float bestDistance = 1.0e9f;
        const int base = (n / 12) * 12;
        for (int o = base - 12; o <= base + 12; o += 12)
            for (const int d : list)
            {
                const int candidate = d + key + o;
                const float distance = std::abs((float)candidate - pitch);
                if (distance < bestDistance)
                {
                    result = candidate;
                    bestDistance = distance;
                }
            }
        return result;
    }

    double sampleRate = 44100.0;
    int numChannels = 2;
    std::vector<float> window;
    int index = 0;
    int key = 0;
    int scale = 0;
    bool enabled = false;
    float speed = 0.5f;
    float mix = 1.0f;
    float targetRatio = 1.0f;
    float currentRatio = 1.0f;
    std::vector<ReferenceShifter> shifters;
};

class ReferenceVocoder
{
  public:
    void prepare(double rate, int channels)
    {
        sampleRate = rate;
        numChannels = channels;
        const float sr = (float)rate;
        for (int k = 0; k < 14; ++k)
        {
            const float fc = std::exp((float)k / 13.0f * 3.5866005f) * 180.0f;
            const float w = fc * 6.2831855f / sr;
            const float alpha = std::sin(w) / 9.0f;
            const float a0 = 1.0f + alpha;
            bands[k].b0 = alpha / a0;
            bands[k].b2 = -bands[k].b0;
            bands[k].a1 = -2.0f * std::cos(w) / a0;
            bands[k].a2 = (1.0f - alpha) / a0;
            bands[k].modS1 = bands[k].modS2 = bands[k].carS1 = bands[k].carS2 = 0.0f;
            bands[k].envelope = 0.0f;
        }
        attack = (float)std::exp(-1.0 / (rate * 0.004));
        release = (float)std::exp(-1.0 / (rate * 0.018));
        trackerCoefficient = 1.0f - std::exp(-2199.115f / sr);
        lowPass = previousLowPass = 0.0f;
        counter = 0;
        phase = subPhase = 0.0f;
        highPass = previousInput = 0.0f;
        breathEnvelope = 0.0f;
        trackedPitch = glidedPitch = 110.0f;
        noise = 12345u;
    }

    void updateParameters(const Vocoder::Parameters& p)
    {
        enabled = p.on > 0.5f;
        carrier = (int)p.carrier;
        mix = p.mix;
        dry = p.dry;
        bright = p.bright;
        breath = p.breath;
        glide = p.glide;
    }

    void process(juce::AudioBuffer<float>& block)
    {
        const int m = std::min(block.getNumChannels(), numChannels);
        if (!enabled || m < 1)
            return;
        const float sr = (float)sampleRate;

        for (int i = 0; i < block.getNumSamples(); ++i)
        {
            float x = block.getSample(0, i);
            if (m > 1)
                x = (block.getSample(0, i) + block.getSample(1, i)) * 0.5f;

            ++counter;
            lowPass = lowPass + (x - lowPass) * trackerCoefficient;
            if (previousLowPass <= 0.0f && lowPass > 0.0f)
            {
                const float f = sr / (float)counter;
                if (counter >= 9 && f > 60.0f && f < 1000.0f)
                    trackedPitch = f;
                counter = 0;
            }
            previousLowPass = lowPass;

            const float g = 1.0f - glide;
            glidedPitch = glidedPitch + (trackedPitch - glidedPitch) * (g * g * 0.05f + 0.0005f);

            const float h = 0.93f * highPass + x - previousInput;
            highPass = h;
            previousInput = x;
            breathEnvelope = std::min(std::abs(h) * 6.0f, 1.0f) * 0.001f + 0.999f * breathEnvelope;

            phase = phase + glidedPitch / sr;
            if (phase >= 1.0f)
                phase -= 1.0f;
            float v;
            if (carrier == 1)
                v = phase < 0.5f ? 1.0f : -1.0f;
            else if (carrier == 2)
            {
                subPhase = subPhase + (glidedPitch * 0.5f) / sr;
                if (subPhase >= 1.0f)
                    subPhase -= 1.0f;
                v = (2.0f * phase - 1.0f) * 0.7f + (2.0f * subPhase - 1.0f) * 0.5f;
            }
            else
                v = 2.0f * phase - 1.0f;

            noise = noise * 1103515245u + 12345u;
            const float n = (float)(noise & 0x7fffffffu) * (1.0f / 1073741824.0f) - 1.0f;
            v = n * (breathEnvelope * 1.2f + 0.25f) * breath + v;

            float sum = 0.0f;
            for (auto& b : bands)
            {
                const float y = b.b0 * x + b.modS1;
                b.modS1 = -b.a1 * y + b.modS2;
                b.modS2 = b.b2 * x - b.a2 * y;
                const float level = std::abs(y);
                if (level > b.envelope)
                    b.envelope = level * (1.0f - attack) + attack * b.envelope;
                else
                    b.envelope = level * (1.0f - release) + release * b.envelope;

                const float yc = b.b0 * v + b.carS1;
                b.carS1 = -b.a1 * yc + b.carS2;
                b.carS2 = b.b2 * v - b.a2 * yc;
                sum = sum + 2.0f * yc * b.envelope;
            }

            const float wet = std::tanh((bright * 0.8f + 1.2f) * sum * 0.8f);
            for (int k = 0; k < m; ++k)
                block.setSample(k, i, dry * block.getSample(k, i) + mix * wet);
        }
    }

  private:
    struct Band
    {
        float b0, b2, a1, a2;
        float modS1, modS2, carS1, carS2;
        float envelope;
    };

    double sampleRate = 44100.0;
    int numChannels = 2;
    bool enabled = false;
    int carrier = 0;
    float mix = 1.0f, dry = 0.15f, bright = 0.5f, breath = 0.35f, glide = 0.3f;
    Band bands[14] = {};
    float attack = 0.0f, release = 0.0f, trackerCoefficient = 0.0f;
    float lowPass = 0.0f, previousLowPass = 0.0f;
    int counter = 0;
    float trackedPitch = 110.0f, glidedPitch = 110.0f;
    float phase = 0.0f, subPhase = 0.0f;
    float highPass = 0.0f, previousInput = 0.0f, breathEnvelope = 0.0f;
    std::uint32_t noise = 12345u;
};

class ReferenceOctaver
{
  public:
    void prepare(double rate, int channels)
    {
        sampleRate = rate;
        numChannels = channels;
        attack = (float)std::exp(-1.0 / (rate * 0.003));
        release = (float)std::exp(-1.0 / (rate * 0.06));
        envelope = lowPass = sub = toneLowPass = 0.0f;
        sign = 1.0f;
        latched = 0;
    }

    void updateParameters(const Octaver::Parameters& p)
    {
        const float sr = (float)sampleRate;
        level = p.level;
        dry = p.dry;
        tone = p.tone;
        const int range = (int)p.range;
        const float k = range == 0 ? -753.98224f : range == 1 ? -1633.6282f : -3267.2563f;
        lowPassCoefficient = 1.0f - std::exp(k / sr);
        toneCoefficient = 1.0f - std::exp((tone * tone * 1660.0f + 140.0f) * (-6.2831855f) / sr);
        gate = std::pow(10.0f, p.gate / 20.0f);
        hysteresis = (1.0f - p.sens) * 0.02f + 0.002f;
        enabled = p.on > 0.5f;
    }

    void process(juce::AudioBuffer<float>& block)
    {
        const int m = std::min(block.getNumChannels(), numChannels);
        if (!enabled || m < 1)
            return;
        for (int i = 0; i < block.getNumSamples(); ++i)
        {
            float x = block.getSample(0, i);
            if (m > 1)
                x = (block.getSample(0, i) + block.getSample(1, i)) * 0.5f;

            const float r = std::abs(x) > envelope ? attack : release;
            envelope = (1.0f - r) * std::abs(x) + r * envelope;
            lowPass = lowPass + (x - lowPass) * lowPassCoefficient;
            if (latched == 0 && lowPass > hysteresis)
            {
                sign = -sign;
                latched = 1;
            }
            if (latched == 1 && lowPass < -hysteresis)
                latched = 0;
            const float open = envelope > gate ? 1.0f : 0.0f;
            sub = sub + (envelope * sign * open - sub) * 0.01f;
            toneLowPass = toneLowPass + (sub - toneLowPass) * toneCoefficient;
            const float wet = ((sub - toneLowPass) * tone + toneLowPass) * level * 2.0f;
            for (int k = 0; k < m; ++k)
                block.setSample(k, i, block.getSample(k, i) * dry + wet);
        }
    }

  private:
    double sampleRate = 44100.0;
    int numChannels = 2;
    bool enabled = false;
    float attack = 0.0f, release = 0.0f;
    float envelope = 0.0f, lowPass = 0.0f, sub = 0.0f, toneLowPass = 0.0f, sign = 1.0f;
    int latched = 0;
    float lowPassCoefficient = 0.0f, toneCoefficient = 0.0f, tone = 0.45f;
    float gate = 0.0f, hysteresis = 0.01f, level = 0.8f, dry = 1.0f;
};

struct ReferenceSection
{
    void design(bool highPass, float cutoff, float q, float sr)
    {
        const float qe = q > 0.3f ? q : 0.3f;
        float f = cutoff < 20.0f ? 20.0f : std::min(cutoff, 0.45f * sr);
        const float w = 6.2831855f * f / sr;
        const float cs = std::cos(w);
        const float alpha = std::sin(w) / (2.0f * qe);
        const float a0 = 1.0f + alpha;
        if (highPass)
        {
            b0 = b2 = ((1.0f + cs) * 0.5f) / a0;
            b1 = -(1.0f + cs) / a0;
        }
        else
        {
            b0 = b2 = ((1.0f - cs) * 0.5f) / a0;
            b1 = (1.0f - cs) / a0;
        }
        a1 = -2.0f * cs / a0;
        a2 = (1.0f - alpha) / a0;
    }

    float step(float x)
    {
        const float y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }

    float b0 = 1.0f, b1 = 0.0f, b2 = 0.0f, a1 = 0.0f, a2 = 0.0f, z1 = 0.0f, z2 = 0.0f;
};

class ReferenceFilterz
{
  public:
    void prepare(double rate, int channels)
    {
        sampleRate = rate;
        numChannels = channels;
        lfoPhase = 0.0f;
    }

    void updateParameters(const Filterz::Parameters& p)
    {
        struct Row
        {
            float hp, lp, drive, q, sweep;
        };
        static const Row rows[7] = {{90, 9000, 0.55f, 0.7f, 0},    {400, 2800, 0.25f, 0.9f, 0},
                                    {300, 1800, 0.15f, 2.5f, 600}, {120, 700, 0.1f, 0.7f, 0},
                                    {200, 1200, 0.1f, 1.4f, 120},  {500, 3500, 0.75f, 1.1f, 0},
                                    {150, 7500, 0.45f, 0.7f, 0}};
        const int index = (int)p.preset;
        const Row& row = rows[index >= 0 && index <= 5 ? index : 6];
        const float k = 2.0f * (p.colour - 0.5f);
        const float hp = (1.0f + 0.4f * k) * row.hp;
        const float lp = row.lp * (1.0f + 0.6f * k);
        drive = p.drive * 0.7f + row.drive;
        q = row.q;
        sweepDepth = row.sweep;
        sweepCentre = lp;
        mix = p.mix;
        motion = p.motion;
        for (int ch = 0; ch < 2; ++ch)
        {
            highPass[ch].design(true, hp, q, (float)sampleRate);
            lowPass[ch].design(false, lp, q, (float)sampleRate);
        }
    }

    void process(juce::AudioBuffer<float>& block)
    {
        const int n = std::min(numChannels, block.getNumChannels());
        const float sr = (float)sampleRate;
        for (int i = 0; i < block.getNumSamples(); ++i)
        {
            if (sweepDepth != 0.0f)
            {
                lfoPhase += 0.6f / sr;
                if (lfoPhase >= 1.0f)
                    lfoPhase -= 1.0f;
                const float cutoff =
                    sweepDepth * std::sin(6.2831855f * lfoPhase) * motion + sweepCentre;
                lowPass[0].design(false, cutoff, q, sr);
                if (n != 1)
                    lowPass[1].design(false, cutoff, q, sr);
            }
            for (int ch = 0; ch < std::min(n, 2); ++ch)
            {
                const float x = block.getSample(ch, i);
                const float l = lowPass[ch].step(highPass[ch].step(x));
                block.setSample(ch, i,
                                mix * std::tanh((1.0f + 8.0f * drive) * l) *
                                        (1.0f / (1.0f + 1.5f * drive)) +
                                    (1.0f - mix) * x);
            }
        }
    }

  private:
    double sampleRate = 44100.0;
    int numChannels = 2;
    ReferenceSection highPass[2], lowPass[2];
    float mix = 1.0f, motion = 0.0f, drive = 0.3f, q = 0.7f;
    float sweepDepth = 0.0f, sweepCentre = 8000.0f, lfoPhase = 0.0f;
};

class ReferenceDelay
{
  public:
    void prepare(double rate, int channels)
    {
        sampleRate = rate;
        numChannels = channels;
        lineLength = (int)(2.5 * rate) + 8;
        lines.assign((size_t)channels, std::vector<float>((size_t)lineLength, 0.0f));
        writePositions.assign((size_t)channels, 0);
        tones.assign((size_t)channels, 0.0f);
        counters.assign((size_t)channels, 0.0f);
        currentDelay = 0.0f;
        wowPhase = 0.0;
    }

    void updateParameters(const DelayUnit::Parameters& p)
    {
        static const float beats[7] = {1.0f, 0.5f, 0.75f, 1.0f / 3.0f, 0.25f, 1.5f, 2.0f};
        float ms = p.time;
        if (p.sync > 0.5f)
        {
            const int index = std::min(std::max((int)p.division, 0), 6);
            ms = (float)(60000.0 / p.bpm) * beats[index];
            ms = std::min(std::max(ms, 20.0f), 2000.0f);
        }
        const float s = (float)(ms * 0.001 * sampleRate);
        targetDelay = s < 1.0f ? 1.0f : std::min(s, (float)(lineLength - 4));
        if (currentDelay <= 0.0f)
            currentDelay = targetDelay;
        feedback = std::min(std::max(p.feedback, 0.0f), 0.95f);
        mix = clampUnit(p.mix);
        mode = (int)p.mode;
        if (mode < 0 || mode > 3)
            mode = 0;
    }

    void process(juce::AudioBuffer<float>& block)
    {
        const int channels = std::min(numChannels, block.getNumChannels());
        for (int s = 0; s < block.getNumSamples(); ++s)
        {
            currentDelay += (targetDelay - currentDelay) * 0.0008f;
            float d = currentDelay;
            if (mode == 2)
            {
                wowPhase += 4.39822971502571 / sampleRate;
                if (wowPhase > 6.283185307179586)
                    wowPhase -= 6.283185307179586;
                d = currentDelay + (float)(sampleRate * 0.0009 * std::sin(wowPhase));
            }
            for (int ch = 0; ch < channels; ++ch)
            {
                auto& line = lines[(size_t)ch];
                const float x = block.getSample(ch, s);
                const int w = writePositions[(size_t)ch];
                float r;
                if (mode == 3)
                {
                    float& k = counters[(size_t)ch];
                    r = (float)w - k;
                    k = k + 1.0f;
                    if (k >= d)
                        k -= d;
                }
                else
                    r = (float)w - d;
                while (r < 0.0f)
                    r += (float)lineLength;
                int i = (int)r;
                const float f = r - (float)i;
                i %= lineLength; // a read index one past the end wraps to the start
                const float y =
                    line[(size_t)i] + (line[(size_t)((i + 1) % lineLength)] - line[(size_t)i]) * f;
                float v = y;
                if (mode == 1 || mode == 2)
                {
                    float& tone = tones[(size_t)ch];
                    tone += (y - tone) * 0.28f;
                    v = mode == 2 ? std::tanh(1.4f * tone) * 0.8f : tone;
                }
                line[(size_t)w] = x + v * feedback;
                writePositions[(size_t)ch] = (w + 1) % lineLength;
                block.setSample(ch, s, (1.0f - mix) * x + mix * y);
            }
        }
    }

  private:
    double sampleRate = 44100.0;
    int numChannels = 2;
    int lineLength = 0;
    int mode = 0;
    std::vector<std::vector<float>> lines;
    std::vector<int> writePositions;
    std::vector<float> tones, counters;
    float currentDelay = 0.0f, targetDelay = 4410.0f, feedback = 0.35f, mix = 0.3f;
    double wowPhase = 0.0;
};

class ReferenceScratcher
{
  public:
    void prepare(double rate, int channels)
    {
        sampleRate = rate;
        numChannels = channels;
        length = (int)(6.0 * rate);
        rings.assign((size_t)channels, std::vector<float>((size_t)length, 0.0f));
        writePosition = 0;
        readPosition = previousOffset = patternPhase = 0.0f;
        faderLevel = 1.0f;
    }

    void updateParameters(const Scratcher::Parameters& p)
    {
        enabled = p.on > 0.5f;
        mode = (int)p.mode;
        pattern = (int)p.pattern;
        jog = p.jog;
        fader = p.fader;
        depth = p.depth;
        dry = p.dry;
        float period = (float)(p.sampleRate * 60.0 / p.bpm * 4.0);
        const int bars = (int)p.bars;
        period *= bars == 0 ? 0.5f : bars == 1 ? 1.0f : bars == 2 ? 2.0f : 4.0f;
        periodSamples = period > 1.0f ? period : 1.0f;
    }

    void process(juce::AudioBuffer<float>& block)
    {
        if (!enabled)
            return;
        const int n = std::min(numChannels, block.getNumChannels());
        const float base = mode == 0 ? 1.0f : 0.0f;
        const float jogScale = (float)(0.05 * sampleRate);
        for (int s = 0; s < block.getNumSamples(); ++s)
        {
            for (int ch = 0; ch < n; ++ch)
                rings[(size_t)ch][(size_t)writePosition] = block.getSample(ch, s);
            writePosition += 1;
            if (writePosition == length)
                writePosition = 0;

            patternPhase += 1.0f / periodSamples;
            if (patternPhase >= 1.0f)
                patternPhase -= 1.0f;

            const float phi = patternPhase;
            const float angle = (phi + phi) * 3.1415927f;
            float m = jog;
            float g = fader;
            if (pattern == 1)
            {
                m = 0.8f * std::sin(angle);
                g = 1.0f;
            }
            else if (pattern == 2)
            {
                m = phi < 0.5f ? 0.9f * std::sin(angle * 2.0f) : 0.0f;
                g = phi < 0.5f ? 1.0f : 0.0f;
            }
            else if (pattern == 3)
            {
                m = 0.7f * std::sin(angle);
                g = (int)std::floor(8.0f * phi) % 2 == 0 ? 1.0f : 0.0f;
            }
            else if (pattern == 4)
            {
                m = 0.85f * std::sin(angle);
                const float sixteenths = 16.0f * phi;
                g = sixteenths - std::floor(sixteenths) < 0.5f ? 1.0f : 0.1f;
            }
            else if (pattern >= 5)
            {
                m = 0.6f * std::sin(angle * 6.0f);
                g = 1.0f;
            }

            m = m * depth;
            const float offset = m * jogScale;
            float r = (offset - previousOffset) + base + m + readPosition;
            previousOffset = offset;
            if (r >= (float)length)
                r -= (float)length;
            if (r < 0.0f)
                r += (float)length;
            readPosition = r;

            int i0 = (int)std::floor(r);
            const float f = r - (float)i0;
            if (i0 == length)
                i0 = 0;
            const int i1 = i0 + 1 == length ? 0 : i0 + 1;

            faderLevel += (g - faderLevel) * 0.02f;
            for (int ch = 0; ch < n; ++ch)
            {
                const auto& ring = rings[(size_t)ch];
                const float x = block.getSample(ch, s);
                block.setSample(
                    ch, s,
                    faderLevel * (ring[(size_t)i0] * (1.0f - f) + ring[(size_t)i1] * f) + dry * x);
            }
        }
    }

  private:
    double sampleRate = 44100.0;
    int numChannels = 2;
    bool enabled = false;
    int length = 0, writePosition = 0, mode = 1, pattern = 0;
    std::vector<std::vector<float>> rings;
    float readPosition = 0.0f, previousOffset = 0.0f, jog = 0.0f, fader = 1.0f, depth = 0.5f;
    float dry = 0.0f, patternPhase = 0.0f, faderLevel = 1.0f, periodSamples = 44100.0f;
};

// ---------------------------------------------------------------------------
// Input and harness

// A sung glide with vibrato fading out, digital silence, a quiet hiss, a loud sweep from
// 40 Hz to 3 kHz, clicks and noise bursts, and a two-voice chord; every
// channel differs a little from the others.
juce::AudioBuffer<float> variedInput(double rate, double seconds, int channels)
{
    const int length = (int)(seconds * rate);
    juce::AudioBuffer<float> out(channels, length);
    juce::Random random(2024);
    const double twoPi = 6.283185307179586;
    double phaseA = 0.0, phaseB = 0.0;
    for (int i = 0; i < length; ++i)
    {
        const double t = i / rate;
        const double section = std::fmod(t, 3.5);
        double v = 0.0;
        if (section < 1.0)
        {
            const double f =
                150.0 * std::pow(2.0, section * 1.4 + 0.3 * std::sin(twoPi * 5.5 * t) / 12.0);
            phaseA += f / rate;
            // Fades through the pitch analysis' level gate.
            for (int k = 1; k <= 8; ++k)
                v += std::pow(0.02, section) * 0.35 / k * std::sin(twoPi * k * phaseA);
        }
        else if (section < 1.2)
            v = 0.0;
        else if (section < 1.4)
            v = 0.003 * (random.nextDouble() - 0.5);
        else if (section < 2.2)
        {
            const double f = 40.0 * std::pow(75.0, (section - 1.4) / 0.8);
            phaseA += f / rate;
            v = 0.95 * std::sin(twoPi * phaseA);
        }
        else if (section < 2.7)
        {
            v = (i % 1500 == 0) ? 0.9 : 0.0;
            if (std::fmod(section, 0.1) < 0.03)
                v += 0.6 * (random.nextDouble() - 0.5);
        }
        else
        {
            phaseA += 220.0 / rate;
            phaseB += 277.18 / rate;
            v = 0.3 * std::sin(twoPi * phaseA) + 0.25 * std::sin(twoPi * phaseB);
        }

        for (int ch = 0; ch < channels; ++ch)
            out.setSample(ch, i,
                          (float)(v * (1.0 - 0.2 * ch)) +
                              (float)(0.002 * ch * std::sin(twoPi * 3.0 * t)));
    }
    return out;
}

// Block sizes a host might use, and some it should not: empty, single
// samples, and blocks longer than the pitch analysis window.
constexpr int blockSizes[] = {64, 1, 512, 2300, 17, 128, 0, 4500, 333, 256};

struct Layout
{
    double sampleRate;
    int preparedChannels;
    int bufferChannels;
};

void PrintTo(const Layout& l, std::ostream* os)
{
    *os << l.sampleRate << " Hz, " << l.preparedChannels << " prepared, " << l.bufferChannels
        << " in the buffer";
}

const Layout layouts[] = {{48000.0, 2, 2}, {44100.0, 1, 1}, {48000.0, 2, 3}};

std::uint32_t bitsOf(float v)
{
    std::uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// Runs stage and reference side by side. settings(block) gives the raw values
// for that block and whether the pipeline would run the stage.
template <typename Stage, typename Reference, typename Settings>
void expectBitIdentical(const Layout& layout, double seconds, Settings settings)
{
    Stage stage;
    Reference reference;
    stage.prepare(layout.sampleRate, layout.preparedChannels);
    reference.prepare(layout.sampleRate, layout.preparedChannels);

    const auto input = variedInput(layout.sampleRate, seconds, layout.bufferChannels);
    int position = 0;
    for (int b = 0; position < input.getNumSamples(); ++b)
    {
        const int n = std::min(blockSizes[(size_t)b % std::size(blockSizes)],
                               input.getNumSamples() - position);
        juce::AudioBuffer<float> fast(layout.bufferChannels, n);
        juce::AudioBuffer<float> plain(layout.bufferChannels, n);
        for (int ch = 0; ch < layout.bufferChannels; ++ch)
        {
            fast.copyFrom(ch, 0, input, ch, position, n);
            plain.copyFrom(ch, 0, input, ch, position, n);
        }

        bool on = true;
        const auto p = settings(b, layout.sampleRate, on);
        stage.updateParameters(p);
        reference.updateParameters(p);
        if (on)
        {
            stage.process(fast);
            reference.process(plain);
        }

        for (int ch = 0; ch < layout.bufferChannels; ++ch)
            for (int i = 0; i < n; ++i)
                ASSERT_EQ(bitsOf(fast.getSample(ch, i)), bitsOf(plain.getSample(ch, i)))
                    << "block " << b << ", channel " << ch << ", sample " << position + i << ": "
                    << fast.getSample(ch, i) << " against " << plain.getSample(ch, i);
        position += n;
    }
}

class BitExactOptimisationTest : public ::testing::TestWithParam<Layout>
{
};

// ---------------------------------------------------------------------------
// Stages

TEST_P(BitExactOptimisationTest, Autotune)
{
    expectBitIdentical<Autotune, ReferenceAutotune>(
        GetParam(), 4.0,
        [](int b, double, bool& on)
        {
            Autotune::Parameters p;
            p.on = (b % 11 == 10) ? 0.0f : 1.0f; // now and then off: the state must freeze
            on = p.on > 0.5f;
            p.key = (float)((b / 3) % 12);
            p.scale = (float)((b / 5) % 4); // 3 lies outside the list
            p.speed = (float)(b % 7) / 6.0f;
            p.mix = b % 4 == 0 ? 1.0f : (b % 4 == 1 ? 0.0f : 0.37f * (float)(b % 4));
            return p;
        });
}

TEST_P(BitExactOptimisationTest, Vocoder)
{
    expectBitIdentical<Vocoder, ReferenceVocoder>(GetParam(), 4.0,
                                                  [](int b, double, bool& on)
                                                  {
                                                      Vocoder::Parameters p;
                                                      p.on = (b % 9 == 8) ? 0.0f : 1.0f;
                                                      on = p.on > 0.5f;
                                                      p.carrier = (float)((b / 4) % 4);
                                                      p.glide = (float)(b % 5) / 4.0f;
                                                      p.breath = (float)(b % 3) / 2.0f;
                                                      p.bright = (float)(b % 6) / 5.0f;
                                                      p.dry = b % 2 == 0 ? 0.15f : 1.0f;
                                                      p.mix = b % 3 == 0 ? 0.0f : 0.8f;
                                                      return p;
                                                  });
}

TEST_P(BitExactOptimisationTest, Octaver)
{
    expectBitIdentical<Octaver, ReferenceOctaver>(GetParam(), 4.0,
                                                  [](int b, double, bool& on)
                                                  {
                                                      Octaver::Parameters p;
                                                      p.on = (b % 8 == 7) ? 0.0f : 1.0f;
                                                      on = p.on > 0.5f;
                                                      p.range = (float)((b / 3) % 4);
                                                      p.gate = -80.0f + 6.0f * (float)(b % 11);
                                                      p.sens = (float)(b % 5) / 4.0f;
                                                      p.tone = (float)(b % 7) / 6.0f;
                                                      p.dry = b % 2 == 0 ? 1.0f : 0.3f;
                                                      p.level = (float)(b % 4) / 3.0f;
                                                      return p;
                                                  });
}

TEST_P(BitExactOptimisationTest, Filterz)
{
    expectBitIdentical<Filterz, ReferenceFilterz>(GetParam(), 4.0,
                                                  [](int b, double, bool& on)
                                                  {
                                                      Filterz::Parameters p;
                                                      on = b % 10 != 9;
                                                      // The sweeping presets come up most.
                                                      const float presets[] = {2, 4, 0, 2, 1,
                                                                               4, 3, 5, 6, 7};
                                                      p.preset = presets[(b / 2) % 10];
                                                      p.colour = (float)(b % 5) / 4.0f;
                                                      p.drive = (float)(b % 3) / 2.0f;
                                                      p.motion = (float)(b % 4) / 3.0f;
                                                      p.mix = b % 6 == 0 ? 0.0f : 0.9f;
                                                      return p;
                                                  });
}

TEST_P(BitExactOptimisationTest, DelayUnit)
{
    expectBitIdentical<DelayUnit, ReferenceDelay>(
        GetParam(), 4.0,
        [](int b, double, bool& on)
        {
            DelayUnit::Parameters p;
            on = b % 12 != 11;
            p.mode = (float)((b / 6) % 5); // 4 plays as Digital
            p.time = b % 13 < 6 ? 350.0f : (b % 13 < 10 ? 20.0f : 1900.0f);
            p.sync = (b / 9) % 2 == 0 ? 0.0f : 1.0f;
            p.division = (float)(b % 7);
            p.bpm = 90.0 + 10.0 * (b % 5);
            p.feedback = (float)(b % 4) * 0.3f; // up to 0.9
            p.mix = (float)(b % 5) / 4.0f;
            return p;
        });
}

TEST_P(BitExactOptimisationTest, Scratcher)
{
    // Longer than the six-second ring, so play-through reads captured audio.
    expectBitIdentical<Scratcher, ReferenceScratcher>(
        GetParam(), 7.0,
        [](int b, double rate, bool& on)
        {
            Scratcher::Parameters p;
            p.on = (b % 9 == 8) ? 0.0f : 1.0f;
            on = p.on > 0.5f;
            p.mode = (float)((b / 10) % 3);
            p.pattern = (float)((b / 3) % 7); // 6 plays as Scribble
            p.jog = -1.0f + 0.25f * (float)(b % 9);
            p.fader = (float)(b % 3) / 2.0f;
            p.depth = (float)(b % 5) / 4.0f;
            p.dry = b % 2 == 0 ? 0.0f : 0.5f;
            p.bars = (float)(b % 4);
            p.bpm = 100.0 + 20.0 * (b % 4);
            p.sampleRate = rate;
            return p;
        });
}

INSTANTIATE_TEST_SUITE_P(Layouts, BitExactOptimisationTest, ::testing::ValuesIn(layouts));
} // namespace
