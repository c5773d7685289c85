#include "editor/LumiroLooperEditor.h"

#include "plugin/LumiroLooperProcessor.h"

LumiroLooperEditor::LumiroLooperEditor(LumiroLooperProcessor& p)
    : juce::AudioProcessorEditor(p), processor(p)
{
    setResizable(false, false);
    setSize(760, 500);
}

LumiroLooperEditor::~LumiroLooperEditor() = default;

void LumiroLooperEditor::paint(juce::Graphics& g)
{
    g.fillAll(juce::Colours::black);
}

void LumiroLooperEditor::resized() {}
