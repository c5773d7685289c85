#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "editor/OstraLookAndFeel.h"

class LumiroLooperProcessor;

// The plug-in window: PITCH, DELAY and LOOPER panels at a fixed 760 x 500.
class LumiroLooperEditor : public juce::AudioProcessorEditor
{
public:
    explicit LumiroLooperEditor(LumiroLooperProcessor& processor);
    ~LumiroLooperEditor() override;

    void paint(juce::Graphics& g) override;
    void resized() override;

private:
    LumiroLooperProcessor& processor;
    OstraLookAndFeel lookAndFeel;
};
