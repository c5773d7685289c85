#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

// "ID=VALUE" from the command line, checked against the processor's
// parameters: the real value in the parameter's range, a choice's index or
// text, or on/off for a switch.
class ParameterAssignment
{
  public:
    // Returns an empty string on success, else a message for the user.
    static juce::String parse(juce::AudioProcessorValueTreeState& apvts, const juce::String& text,
                              ParameterAssignment& result);

    // Sets the value as the host or the editor would.
    void apply(juce::AudioProcessorValueTreeState& apvts) const;

    juce::String id;
    float value = 0.0f;

  private:
    static juce::String closestIds(juce::AudioProcessorValueTreeState& apvts,
                                   const juce::String& id);
};
