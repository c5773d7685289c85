#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The station's colours and knob drawing.
class OstraLookAndFeel : public juce::LookAndFeel_V4
{
public:
    OstraLookAndFeel();
};
