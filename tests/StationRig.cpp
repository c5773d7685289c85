#include "StationRig.h"

#include <cmath>

namespace rig
{
namespace
{
juce::RangedAudioParameter& parameter(LumiroLooperProcessor& p, const std::string& id)
{
    auto* param = p.apvts.getParameter(id);
    jassert(param != nullptr);
    return *param;
}

std::string formatValue(float v)
{
    return juce::String(v, 3).trimCharactersAtEnd("0").trimCharactersAtEnd(".").toStdString();
}

bool isSwitch(const std::string& id)
{
    for (const auto& s : stageSwitches())
        if (s == id)
            return true;
    return false;
}

Settings allSwitches(float raw)
{
    Settings s;
    for (const auto& id : stageSwitches())
        s.push_back({id, raw});
    return s;
}

Settings with(Settings base, const Settings& extra)
{
    base.insert(base.end(), extra.begin(), extra.end());
    return base;
}

int numChoices(juce::RangedAudioParameter& param)
{
    if (auto* choice = dynamic_cast<juce::AudioParameterChoice*>(&param))
        return choice->choices.size();
    return 0;
}
} // namespace

const std::vector<std::string>& stageSwitches()
{
    static const std::vector<std::string> ids{"atOn", "vcOn", "octOn", "fzOn", "dlOn", "scOn"};
    return ids;
}

void set(LumiroLooperProcessor& p, const std::string& id, float raw)
{
    auto& param = parameter(p, id);
    param.setValueNotifyingHost(param.convertTo0to1(raw));
}

void apply(LumiroLooperProcessor& p, const Settings& settings)
{
    for (const auto& s : settings)
        set(p, s.id, s.raw);
}

void resetToDefaults(LumiroLooperProcessor& p)
{
    for (const auto* id : LumiroLooperProcessor::parameterIDs)
    {
        auto& param = parameter(p, id);
        param.setValueNotifyingHost(param.getDefaultValue());
    }
}

void writeRaw(LumiroLooperProcessor& p, const std::string& id, float raw)
{
    p.apvts.getRawParameterValue(id)->store(raw);
}

std::vector<Configuration> stageConfigurations(LumiroLooperProcessor& p)
{
    std::vector<Configuration> configs;
    const Settings allOn = allSwitches(1.0f);

    configs.push_back({"all stages off", allSwitches(0.0f)});
    for (const auto& id : stageSwitches())
    {
        Settings s = allSwitches(0.0f);
        for (auto& setting : s)
            setting.raw = setting.id == id ? 1.0f : 0.0f;
        configs.push_back({id + " alone", s});
    }
    configs.push_back({"all stages on", allOn});

    Settings lowest = allOn;
    Settings highest = allOn;
    for (const auto* idText : LumiroLooperProcessor::parameterIDs)
    {
        const std::string id = idText;
        if (isSwitch(id))
            continue;

        auto& param = parameter(p, id);
        const auto& range = param.getNormalisableRange();
        std::vector<float> values;
        if (const int n = numChoices(param); n > 0)
            for (int i = 0; i < n; ++i)
                values.push_back((float)i);
        else
            values = {range.start, range.end};

        for (float v : values)
            configs.push_back({"all on, " + id + "=" + formatValue(v), with(allOn, {{id, v}})});

        lowest.push_back({id, range.start});
        highest.push_back({id, range.end});
    }

    const int delayModes = numChoices(parameter(p, "dlMode"));
    for (int mode = 0; mode < delayModes; ++mode)
        for (int sync = 0; sync < 2; ++sync)
            configs.push_back(
                {"delay alone, dlMode=" + std::to_string(mode) + " dlSync=" + std::to_string(sync),
                 {{"atOn", 0},
                  {"vcOn", 0},
                  {"octOn", 0},
                  {"fzOn", 0},
                  {"dlOn", 1},
                  {"scOn", 0},
                  {"dlMode", (float)mode},
                  {"dlSync", (float)sync}}});

    const int scratchModes = numChoices(parameter(p, "scMode"));
    const int scratchPatterns = numChoices(parameter(p, "scPattern"));
    for (int mode = 0; mode < scratchModes; ++mode)
        for (int pattern = 0; pattern < scratchPatterns; ++pattern)
            configs.push_back(
                {"all on, scMode=" + std::to_string(mode) + " scPattern=" + std::to_string(pattern),
                 with(allOn, {{"scMode", (float)mode}, {"scPattern", (float)pattern}})});

    configs.push_back({"all on, every parameter at its lowest", lowest});
    configs.push_back({"all on, every parameter at its highest", highest});
    return configs;
}

const std::vector<LoopScenario>& loopScenarios()
{
    static const std::vector<LoopScenario> scenarios{
        {"idle", "", LoopState::Idle, 0},
        {"recording", "R..", LoopState::Recording, 0},
        {"playing one layer", "R...R.", LoopState::Playing, 1},
        {"overdubbing", "R...R.R.", LoopState::Overdubbing, 1},
        {"playing two layers", "R...R.R..R.", LoopState::Playing, 2},
        {"overdubbing after undo", "R...R.R..R.R.U.", LoopState::Overdubbing, 1},
        {"stopped with a loop", "R...R.S.", LoopState::Stopped, 1},
        {"stopped after overdub", "R...R.R..S.", LoopState::Stopped, 2},
        {"resumed after stop", "R...R.S.R.", LoopState::Playing, 1},
        {"stopped while recording", "R..S.", LoopState::Stopped, 0},
        {"playing without a loop", "S.R.", LoopState::Playing, 0},
        {"idle after undo", "R...R.U.", LoopState::Idle, 0},
        {"idle after clear", "R...R.R.C.", LoopState::Idle, 0},
    };
    return scenarios;
}

void runSteps(Looper& looper, const char* steps, const std::function<void()>& block)
{
    for (const char* c = steps; *c != 0; ++c)
    {
        switch (*c)
        {
        case 'R':
            looper.recordPressed();
            break;
        case 'S':
            looper.stopPressed();
            break;
        case 'U':
            looper.undo();
            break;
        case 'C':
            looper.clear();
            break;
        default:
            block();
            break;
        }
    }
}

void fillVoice(juce::AudioBuffer<float>& buffer, double sampleRate, std::int64_t& t)
{
    const int n = buffer.getNumSamples();
    for (int i = 0; i < n; ++i, ++t)
    {
        const double seconds = (double)t / sampleRate;
        // 275 Hz swinging by 165 Hz at 0.25 Hz, phase-continuous.
        const double w = 2.0 * juce::MathConstants<double>::pi * 0.25;
        const double phase = 2.0 * juce::MathConstants<double>::pi *
                             (275.0 * seconds - 165.0 / w * std::cos(w * seconds));
        float x = 0.0f;
        for (int h = 1; h <= 5; ++h)
            x += (float)(std::sin(phase * h) / h);
        // Deterministic noise from a small integer hash.
        const std::uint32_t hash = (std::uint32_t)t * 2654435761u;
        const float noise = ((float)(hash >> 8) / 16777216.0f - 0.5f) * 0.02f;
        const float sample = 0.3f * x + noise;
        for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
            buffer.setSample(ch, i, ch % 2 == 0 ? sample : -0.8f * sample);
    }
}

bool allFinite(const juce::AudioBuffer<float>& buffer)
{
    return allFinite(buffer, buffer.getNumChannels());
}

bool allFinite(const juce::AudioBuffer<float>& buffer, int numChannels)
{
    for (int ch = 0; ch < juce::jmin(numChannels, buffer.getNumChannels()); ++ch)
    {
        const float* d = buffer.getReadPointer(ch);
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            if (!std::isfinite(d[i]))
                return false;
    }
    return true;
}

juce::AudioPlayHead::PositionInfo makePosition(juce::Optional<double> bpm, int numerator,
                                               int denominator)
{
    juce::AudioPlayHead::PositionInfo info;
    info.setBpm(bpm);
    info.setTimeSignature(juce::AudioPlayHead::TimeSignature{numerator, denominator});
    info.setIsPlaying(true);
    return info;
}

void process(LumiroLooperProcessor& p, juce::AudioBuffer<float>& buffer)
{
    juce::MidiBuffer midi;
    p.processBlock(buffer, midi);
}

void setLayout(LumiroLooperProcessor& p, int channels)
{
    const auto set =
        channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add(set);
    layout.outputBuses.add(set);
    p.setBusesLayout(layout);
}
} // namespace rig
