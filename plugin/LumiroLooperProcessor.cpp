#include "plugin/LumiroLooperProcessor.h"

#include <cmath>

#include "editor/LumiroLooperEditor.h"

namespace
{
// Indices into parameterIDs, in the host's order.
enum ParamIndex : int
{
    atOn,
    atKey,
    atScale,
    atSpeed,
    atMix,
    dlOn,
    dlTime,
    dlFb,
    dlMix,
    dlMode,
    dlSync,
    dlDiv,
    loopSync,
    loopBars,
    octOn,
    octLvl,
    octDry,
    octRange,
    octTone,
    octSens,
    octGate,
    fzOn,
    fzPreset,
    fzMix,
    fzDrive,
    fzColour,
    fzMotion,
    vcOn,
    vcMix,
    vcDry,
    vcCarrier,
    vcBright,
    vcBreath,
    vcGlide,
    scOn,
    scMode,
    scPattern,
    scJog,
    scFader,
    scDepth,
    scDry,
    scBars,
    numParams
};

static_assert(numParams == 42);

bool isOn(float raw)
{
    return raw > 0.5f;
}
int choiceIndex(float raw)
{
    return (int)raw;
}

constexpr juce::uint32 stateMagic = 0x21324356;
} // namespace

const std::array<const char*, 42> LumiroLooperProcessor::parameterIDs = {
    "atOn",   "atKey",     "atScale",   "atSpeed",  "atMix",    "dlOn",     "dlTime",
    "dlFb",   "dlMix",     "dlMode",    "dlSync",   "dlDiv",    "loopSync", "loopBars",
    "octOn",  "octLvl",    "octDry",    "octRange", "octTone",  "octSens",  "octGate",
    "fzOn",   "fzPreset",  "fzMix",     "fzDrive",  "fzColour", "fzMotion", "vcOn",
    "vcMix",  "vcDry",     "vcCarrier", "vcBright", "vcBreath", "vcGlide",  "scOn",
    "scMode", "scPattern", "scJog",     "scFader",  "scDepth",  "scDry",    "scBars"};

LumiroLooperProcessor::LumiroLooperProcessor()
    : juce::AudioProcessor(BusesProperties()
                               .withInput("Input", juce::AudioChannelSet::stereo(), true)
                               .withOutput("Output", juce::AudioChannelSet::stereo(), true)),
      apvts(*this, nullptr, "PARAMS", createLayout())
{
    for (size_t i = 0; i < parameterIDs.size(); ++i)
        raw[i] = apvts.getRawParameterValue(parameterIDs[i]);
}

juce::AudioProcessorValueTreeState::ParameterLayout LumiroLooperProcessor::createLayout()
{
    using Range = juce::NormalisableRange<float>;
    juce::AudioProcessorValueTreeState::ParameterLayout layout;

    auto addFloat = [&](const char* id, const char* name, float start, float end, float step,
                        float skew, float def)
    {
        layout.add(std::make_unique<juce::AudioParameterFloat>(juce::ParameterID{id, 1}, name,
                                                               Range(start, end, step, skew), def));
    };
    auto unit = [&](const char* id, const char* name, float def)
    { addFloat(id, name, 0.0f, 1.0f, 0.001f, 1.0f, def); };
    auto addChoice = [&](const char* id, const char* name, juce::StringArray choices, int def)
    {
        layout.add(std::make_unique<juce::AudioParameterChoice>(juce::ParameterID{id, 1}, name,
                                                                choices, def));
    };
    auto addBool = [&](const char* id, const char* name, bool def) {
        layout.add(std::make_unique<juce::AudioParameterBool>(juce::ParameterID{id, 1}, name, def));
    };

    addBool("atOn", "Autotune On", false);
    addChoice("atKey", "Key", {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"}, 0);
    addChoice("atScale", "Scale", {"Major", "Minor", "Chromatic"}, 0);
    unit("atSpeed", "Retune Speed", 0.7f);
    unit("atMix", "Tune Mix", 1.0f);

    addBool("dlOn", "Delay On", true);
    addFloat("dlTime", "Delay Time", 20.0f, 2000.0f, 1.0f, 0.4f, 350.0f);
    addFloat("dlFb", "Feedback", 0.0f, 0.95f, 0.001f, 1.0f, 0.4f);
    unit("dlMix", "Delay Mix", 0.35f);
    addChoice("dlMode", "Delay Mode", {"Digital", "Analog", "Tape", "Reverse"}, 0);
    addBool("dlSync", "Delay Sync", false);
    addChoice("dlDiv", "Delay Div", {"1/4", "1/8", "1/8.", "1/8T", "1/16", "1/4.", "1/2"}, 1);

    addBool("loopSync", "Loop Sync", false);
    addChoice("loopBars", "Loop Bars", {"Nearest", "1 Bar", "2 Bars", "4 Bars", "8 Bars"}, 0);

    addBool("octOn", "Octave On", false);
    unit("octLvl", "Octave Level", 0.8f);
    unit("octDry", "Octave Dry", 1.0f);
    addChoice("octRange", "Octave Range", {"Low", "Mid", "High"}, 1);
    unit("octTone", "Octave Tone", 0.45f);
    unit("octSens", "Octave Sens", 0.5f);
    addFloat("octGate", "Octave Gate", -80.0f, -20.0f, 0.1f, 1.0f, -55.0f);

    addBool("fzOn", "Filterz On", false);
    addChoice("fzPreset", "Filterz Preset",
              {"Overdrive", "Telephone", "Whale/Ethereal", "Through-Wall", "Underwater",
               "Megaphone", "Radio DJ"},
              1);
    unit("fzMix", "Filterz Mix", 1.0f);
    unit("fzDrive", "Filterz Drive", 0.3f);
    unit("fzColour", "Filterz Colour", 0.5f);
    unit("fzMotion", "Filterz Motion", 0.4f);

    addBool("vcOn", "Vocoder On", false);
    unit("vcMix", "Vocoder Mix", 1.0f);
    unit("vcDry", "Vocoder Dry", 0.15f);
    addChoice("vcCarrier", "Vocoder Carrier", {"Saw", "Square", "Saw+Sub"}, 0);
    unit("vcBright", "Vocoder Bright", 0.5f);
    unit("vcBreath", "Vocoder Breath", 0.35f);
    unit("vcGlide", "Vocoder Glide", 0.3f);

    addBool("scOn", "Scratch On", false);
    addChoice("scMode", "Scratch Mode", {"Play-through", "Live", "Pattern"}, 2);
    addChoice("scPattern", "Scratch Pattern",
              {"Manual", "Baby", "Chirp", "Transformer", "Flare", "Scribble"}, 1);
    addFloat("scJog", "Scratch Jog", -1.0f, 1.0f, 0.001f, 1.0f, 0.0f);
    unit("scFader", "Scratch Fader", 1.0f);
    unit("scDepth", "Scratch Depth", 0.5f);
    unit("scDry", "Scratch Dry", 0.0f);
    addChoice("scBars", "Scratch Bars", {"1/2", "1 Bar", "2 Bars", "4 Bars"}, 1);

    return layout;
}

const juce::String LumiroLooperProcessor::getName() const
{
    return "Lumiro Looper Station";
}

juce::AudioProcessorEditor* LumiroLooperProcessor::createEditor()
{
    return new LumiroLooperEditor(*this);
}

bool LumiroLooperProcessor::isBusesLayoutSupported(const BusesLayout& layouts) const
{
    const auto out = layouts.outputBuses.isEmpty() ? juce::AudioChannelSet::disabled()
                                                   : layouts.outputBuses.getReference(0);
    if (out != juce::AudioChannelSet::mono() && out != juce::AudioChannelSet::stereo())
        return false;

    const auto in = layouts.inputBuses.isEmpty() ? juce::AudioChannelSet::disabled()
                                                 : layouts.inputBuses.getReference(0);
    return in == out;
}

void LumiroLooperProcessor::prepareToPlay(double sampleRate, int samplesPerBlock)
{
    juce::ignoreUnused(samplesPerBlock);
    const int channels = juce::jmax(1, getTotalNumOutputChannels());

    delay.prepare(sampleRate, channels);
    autotune.prepare(sampleRate, channels);
    looper.prepare(sampleRate, channels);
    octaver.prepare(sampleRate, channels);
    filterz.prepare(sampleRate, channels);
    vocoder.prepare(sampleRate, channels);
    scratcher.prepare(sampleRate, channels);
}

HostTiming LumiroLooperProcessor::readHostTiming(juce::AudioPlayHead* playHead)
{
    HostTiming timing;
    if (playHead == nullptr)
        return timing;

    const auto position = playHead->getPosition();
    if (!position.hasValue())
        return timing;

    // A tempo that is not a positive number counts as no tempo.
    if (const auto bpm = position->getBpm(); bpm.hasValue() && std::isfinite(*bpm) && *bpm > 0.0)
        timing.bpm = *bpm;

    // A signature without a usable note value counts as no signature.
    if (const auto sig = position->getTimeSignature(); sig.hasValue() && sig->denominator > 0)
    {
        timing.numerator = sig->numerator;
        timing.denominator = sig->denominator;
    }
    return timing;
}

void LumiroLooperProcessor::processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    juce::ignoreUnused(midi);
    juce::ScopedNoDenormals noDenormals;

    float v[numParams];
    for (int i = 0; i < numParams; ++i)
        v[i] = value(i);

    const HostTiming timing = readHostTiming(getPlayHead());

    autotune.updateParameters({v[atOn], v[atKey], v[atScale], v[atSpeed], v[atMix]});
    delay.updateParameters(
        {v[dlTime], v[dlFb], v[dlMix], v[dlMode], v[dlSync], v[dlDiv], timing.bpm});
    looper.updateParameters(timing, choiceIndex(v[loopBars]), isOn(v[loopSync]));
    octaver.updateParameters(
        {v[octGate], v[octSens], v[octTone], v[octRange], v[octDry], v[octLvl], v[octOn]});
    filterz.updateParameters({v[fzMotion], v[fzColour], v[fzDrive], v[fzMix], v[fzPreset]});
    vocoder.updateParameters(
        {v[vcGlide], v[vcBreath], v[vcBright], v[vcCarrier], v[vcDry], v[vcMix], v[vcOn]});
    scratcher.updateParameters({v[scBars], v[scDry], v[scDepth], v[scFader], v[scJog], v[scPattern],
                                v[scMode], v[scOn], timing.bpm, scratcher.sampleRate});

    if (isOn(v[atOn]))
        autotune.process(buffer);
    if (isOn(v[vcOn]))
        vocoder.process(buffer);
    if (isOn(v[octOn]))
        octaver.process(buffer);
    if (isOn(v[fzOn]))
        filterz.process(buffer);
    if (isOn(v[dlOn]))
        delay.process(buffer);
    if (isOn(v[scOn]))
        scratcher.process(buffer);

    // The looper takes its own spin lock around its step.
    looper.process(buffer);
}

void LumiroLooperProcessor::getStateInformation(juce::MemoryBlock& destData)
{
    const auto state = apvts.copyState();
    if (const auto xml = state.createXml())
        copyXmlToBinary(*xml, destData);
}

void LumiroLooperProcessor::setStateInformation(const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 8)
        return;

    const auto* bytes = static_cast<const char*>(data);
    if (juce::ByteOrder::littleEndianInt(bytes) != stateMagic)
        return;

    const auto length = (juce::int32)juce::ByteOrder::littleEndianInt(bytes + 4);
    if (length < 1)
        return;

    const auto textLength = (size_t)juce::jmin((int)length, sizeInBytes - 8);
    const auto xml = juce::parseXML(juce::String::fromUTF8(bytes + 8, (int)textLength));
    if (xml == nullptr)
        return;

    apvts.replaceState(juce::ValueTree::fromXml(*xml));
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new LumiroLooperProcessor();
}
