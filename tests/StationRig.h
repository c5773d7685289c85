#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "plugin/LumiroLooperProcessor.h"

// Shared equipment for the reliability tests: stage configurations generated
// from the parameter layout, looper scenarios, a test voice and a play head.
// Everything is derived from the processor's own parameter list, so a stage
// that gains a mode or a parameter is exercised without touching the tests.
namespace rig
{
struct Setting
{
    std::string id;
    float raw;
};

using Settings = std::vector<Setting>;

struct Configuration
{
    std::string name;
    Settings settings;
};

// The six effect switches, in chain order.
const std::vector<std::string>& stageSwitches();

// Sets a parameter the way a host or the editor does: through its normalised
// value, so the framework clamps and snaps it.
void set(LumiroLooperProcessor& p, const std::string& id, float raw);
void apply(LumiroLooperProcessor& p, const Settings& settings);
void resetToDefaults(LumiroLooperProcessor& p);

// Writes the raw value the audio thread reads, bypassing the parameter's
// range: values no well-behaved host can produce.
void writeRaw(LumiroLooperProcessor& p, const std::string& id, float raw);

// All stages off; each stage alone; all stages on; then, with all stages on,
// every choice index and both switch states of every parameter, both ends of
// every float, every delay mode with and without sync, every scratch mode
// with every pattern, and everything at its lowest and at its highest.
std::vector<Configuration> stageConfigurations(LumiroLooperProcessor& p);

// Looper scenarios. Steps: 'R' recordPressed, 'S' stopPressed, 'U' undo,
// 'C' clear, '.' one audio block.
struct LoopScenario
{
    const char* name;
    const char* steps;
    LoopState expectedState;
    int expectedLayers;
};

const std::vector<LoopScenario>& loopScenarios();
void runSteps(Looper& looper, const char* steps, const std::function<void()>& block);

// A voice-like test signal: a tone gliding between 110 and 440 Hz, with
// harmonics and a little noise, about -6 dBFS, continuous across calls through `t`.
void fillVoice(juce::AudioBuffer<float>& buffer, double sampleRate, std::int64_t& t);

bool allFinite(const juce::AudioBuffer<float>& buffer);
bool allFinite(const juce::AudioBuffer<float>& buffer, int numChannels);

// A play head that reports whatever position it was given.
class StubPlayHead : public juce::AudioPlayHead
{
  public:
    juce::Optional<PositionInfo> position;
    juce::Optional<PositionInfo> getPosition() const override { return position; }
};

juce::AudioPlayHead::PositionInfo makePosition(juce::Optional<double> bpm, int numerator,
                                               int denominator);

// Runs one block through the processor with an empty MIDI buffer.
void process(LumiroLooperProcessor& p, juce::AudioBuffer<float>& buffer);

// Gives the processor a mono or stereo layout (before prepareToPlay).
void setLayout(LumiroLooperProcessor& p, int channels);
} // namespace rig
