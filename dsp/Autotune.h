#pragma once

#include "dsp/PitchShifter.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <vector>

// Pitch correction to a key and scale. Once per analysis window (46 ms) the
// pitch of channel 0 is found by autocorrelation and snapped to the nearest
// scale note; a per-sample glide moves the applied ratio towards that target
// and one pitch shifter per channel applies it, followed by a dry/wet mix.
class Autotune
{
  public:
    // Raw parameter values of one block, as the host parameters hold them;
    // the defaults are those of a fresh instance.
    struct Parameters
    {
        float on = 0.0f;    // atOn, switch
        float key = 0.0f;   // atKey, choice index
        float scale = 0.0f; // atScale, choice index
        float speed = 0.7f; // atSpeed
        float mix = 1.0f;   // atMix
    };

    // Inclusive range of autocorrelation lags searched, in samples.
    struct LagRange
    {
        int minLag = 0;
        int maxLag = 0;
    };

    // Number of lags correlated together in one pass over the window.
    static constexpr int lagsPerPass = 32;

    // Sample rates are held within these limits so that the analysis window
    // always has a few samples and a bounded size.
    static constexpr double minSampleRate = 100.0;
    static constexpr double maxSampleRate = 10000000.0;

    void prepare(double sampleRate, int numChannels);
    void updateParameters(const Parameters& p);
    void process(juce::AudioBuffer<float>& buffer);

    // Nearest note of the current key and scale to a fractional MIDI pitch;
    // a pitch halfway between two scale notes goes to the lower one.
    int snapToScale(float midiPitch) const;

    // Analysis window length for a sample rate: 46 ms, truncated.
    static int windowLength(double sampleRate);
    // Lags for fundamentals from about 80 Hz to 1000 Hz; empty when minLag > maxLag.
    static LagRange lagRange(double sampleRate, int windowLength);

    // Raw autocorrelation of one lag: the sum of window[i] * window[i + lag]
    // over i = 0 .. length - 1 - lag, accumulated in float in ascending i.
    static float correlateLag(const float* window, int length, int lag);
    // The same sums for lagsPerPass consecutive lags from firstLag, worked out
    // together in one pass; each lag's sum is bit-identical to correlateLag.
    // Needs firstLag >= 0 and firstLag + lagsPerPass <= length.
    static void correlateLags(const float* window, int length, int firstLag, float* sums);
    // The lag in range with the greatest positive sum, the smaller lag on a
    // tie; 0 when no lag has a positive sum.
    static int findBestLag(const float* window, int length, LagRange range);

    float getTargetRatio() const { return targetRatio; }
    float getCurrentRatio() const { return currentRatio; }
    int getAnalysisIndex() const { return analysisIndex; }
    const std::vector<float>& getAnalysisBuffer() const { return analysisBuffer; }
    const std::vector<PitchShifter>& getShifters() const { return shifters; }

    double sampleRate = 44100.0;
    int numChannels = 2;

  private:
    void analyseWindow();

    std::vector<float> analysisBuffer;
    int analysisIndex = 0;

    int key = 0;
    int scale = 0;
    bool enabled = false;
    float speed = 0.5f;
    float mix = 1.0f;

    float targetRatio = 1.0f;
    float currentRatio = 1.0f;

    std::vector<PitchShifter> shifters;
};
