#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <array>
#include <cstdint>

// Self-pitched vocoder: the carrier follows the pitch of the input.
//
// Per sample, the input (channel 0, or the average of channels 0 and 1) is the
// modulator. A zero-crossing tracker on a 350 Hz low-pass of it sets the pitch
// of a saw, square or saw+sub oscillator, to which breath noise is added that
// follows the input's high-frequency content. A bank of 14 band-pass filters
// imposes the modulator's spectral envelope on that carrier; a tanh saturator
// and a dry/wet mix finish the stage.
class Vocoder
{
  public:
    static constexpr int numBands = 14;

    // Raw parameter values of one block, as the host parameters hold them;
    // the defaults are those of a fresh instance.
    struct Parameters
    {
        float glide = 0.3f;   // vcGlide
        float breath = 0.35f; // vcBreath
        float bright = 0.5f;  // vcBright
        float carrier = 0.0f; // vcCarrier, choice index
        float dry = 0.15f;    // vcDry
        float mix = 1.0f;     // vcMix
        float on = 0.0f;      // vcOn, switch
    };

    // Coefficients of one band-pass (transposed direct form II, b1 is 0).
    struct BandCoefficients
    {
        float b0, b2, a1, a2;
    };

    void prepare(double sampleRate, int numChannels);
    void updateParameters(const Parameters& p);
    void process(juce::AudioBuffer<float>& buffer);

    // Centre frequency of a band in Hz: geometric steps from 180 Hz to 6500 Hz.
    static float bandCentreHz(int band);

    // One step of the breath-noise generator: advances the state and returns
    // a value in [-1, 1).
    static float nextNoise(std::uint32_t& state)
    {
        state = state * 1103515245u + 12345u;
        return (float)(state & 0x7fffffffu) * (1.0f / 1073741824.0f) - 1.0f;
    }

    BandCoefficients bandCoefficients(int band) const
    {
        return {b0[(size_t)band], b2[(size_t)band], a1[(size_t)band], a2[(size_t)band]};
    }

    double sampleRate = 44100.0;
    int numChannels = 2;

    // Signal state, readable for inspection; prepare() resets it.
    int samplesSinceCrossing = 0; // saturates instead of wrapping in long silence
    float trackedPitch = 110.0f;  // Hz, last accepted pitch estimate
    float glidedPitch = 110.0f;   // Hz, oscillator frequency
    float phase = 0.0f;           // main oscillator, 0..1
    float subPhase = 0.0f;        // sub-octave oscillator, 0..1
    float breathEnvelope = 0.0f;  // smoothed high-frequency level, 0..1
    std::uint32_t noiseState = 12345u;
    std::array<float, numBands> bandEnvelope{};

  private:
    enum Carrier
    {
        saw = 0,
        square = 1,
        sawSub = 2
    };

    bool enabled = false;
    float mix = 1.0f;
    float dry = 0.15f;
    float bright = 0.5f;
    float breath = 0.35f;
    float glide = 0.3f;
    int carrier = saw;

    std::array<float, numBands> b0{}, b2{}, a1{}, a2{};
    std::array<float, numBands> modS1{}, modS2{};
    std::array<float, numBands> carS1{}, carS2{};

    float attack = 0.0f;
    float release = 0.0f;

    float trackerLowPass = 0.0f;
    float previousLowPass = 0.0f;
    float trackerCoefficient = 0.0f;

    float highPassState = 0.0f;
    float previousInput = 0.0f;
};
