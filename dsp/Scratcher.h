#pragma once

#include <vector>

#include <juce_audio_basics/juce_audio_basics.h>

// Turntable-style scratch over a capture ring.
//
// While on, every channel keeps recording its input into a six-second ring and
// the output is a read of that ring at one read head shared by all channels. The
// head moves like a record under a hand: at platter speed ("Play-through"), by the
// jog control ("Manual") or by one of five motion patterns that repeat once per
// bar-based period, and a cross-fader gate chops the scratched sound.
class Scratcher
{
  public:
    // Raw parameter values of one block, as the host parameters hold them;
    // the defaults are those of a fresh instance.
    struct Parameters
    {
        float bars = 1.0f;           // scBars, choice index
        float dry = 0.0f;            // scDry
        float depth = 0.5f;          // scDepth
        float fader = 1.0f;          // scFader
        float jog = 0.0f;            // scJog
        float pattern = 1.0f;        // scPattern, choice index
        float mode = 2.0f;           // scMode, choice index
        float on = 0.0f;             // scOn, switch
        double bpm = 120.0;          // block tempo, 120 when the host gives none
        double sampleRate = 44100.0; // the rate prepare received
    };

    // Mode choices; only play-through gives the head a speed of its own.
    enum ScratchMode
    {
        playThrough = 0,
        live = 1,
        patternMode = 2
    };

    // Pattern choices; indices below the first act as manual, above the last as scribble.
    enum ScratchPattern
    {
        manual = 0,
        baby = 1,
        chirp = 2,
        transformer = 3,
        flare = 4,
        scribble = 5
    };

    // Allocates the rings (six seconds per channel) and resets every position.
    void prepare(double sampleRate, int numChannels);
    void updateParameters(const Parameters& p);
    void process(juce::AudioBuffer<float>& buffer);

    double sampleRate = 44100.0;
    int numChannels = 2;
    bool enabled = false;
    int captureLength = 0;
    int writePosition = 0;
    int mode = live;
    int pattern = manual;
    std::vector<std::vector<float>> captures;
    float readPosition = 0.0f;
    float previousOffset = 0.0f;
    float jog = 0.0f;
    float fader = 1.0f;
    float depth = 0.5f;
    float dry = 0.0f;
    float patternPhase = 0.0f;
    float faderLevel = 1.0f;
    float periodSamples = 44100.0f;
};
