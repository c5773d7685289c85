#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The station's dark, cyan-accented look: the dark V4 scheme with a few colours
// changed and a knob drawn as a body, a value arc and a pointer.
class OstraLookAndFeel : public juce::LookAndFeel_V4
{
  public:
    OstraLookAndFeel();
    ~OstraLookAndFeel() override;

    void drawRotarySlider(juce::Graphics& g, int x, int y, int width, int height,
                          float sliderPosProportional, float rotaryStartAngle, float rotaryEndAngle,
                          juce::Slider& slider) override;

    // Value arcs and pointers, and the value text of text boxes and combo boxes.
    const juce::Colour accent;
};
