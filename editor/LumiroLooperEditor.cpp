#include "editor/LumiroLooperEditor.h"

#include "plugin/LumiroLooperProcessor.h"

namespace
{
void fill(juce::ComboBox& box, const juce::StringArray& items)
{
    box.addItemList(items, 1);
}
} // namespace

LumiroLooperEditor::LumiroLooperEditor(LumiroLooperProcessor& p)
    : juce::AudioProcessorEditor(p), processorRef(p),
      tapClock([] { return juce::Time::getMillisecondCounterHiRes(); })
{
    setLookAndFeel(&lnf);

    auto& apvts = processorRef.apvts;

    // PITCH
    addAndMakeVisible(autotuneButton);
    autotuneAttachment = std::make_unique<ButtonAttachment>(apvts, "atOn", autotuneButton);
    addAndMakeVisible(keyBox);
    fill(keyBox, {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"});
    keyAttachment = std::make_unique<ComboBoxAttachment>(apvts, "atKey", keyBox);
    addAndMakeVisible(scaleBox);
    fill(scaleBox, {"Major", "Minor", "Chromatic"});
    scaleAttachment = std::make_unique<ComboBoxAttachment>(apvts, "atScale", scaleBox);
    makeKnob(retuneKnob);
    retuneAttachment = std::make_unique<SliderAttachment>(apvts, "atSpeed", retuneKnob);
    makeKnob(tuneMixKnob);
    tuneMixAttachment = std::make_unique<SliderAttachment>(apvts, "atMix", tuneMixKnob);
    for (auto* label : {&keyLabel, &scaleLabel, &retuneLabel, &tuneMixLabel})
    {
        label->setJustificationType(juce::Justification::centred);
        addAndMakeVisible(*label);
    }

    // DELAY
    addAndMakeVisible(delayButton);
    delayAttachment = std::make_unique<ButtonAttachment>(apvts, "dlOn", delayButton);
    makeKnob(timeKnob);
    timeAttachment = std::make_unique<SliderAttachment>(apvts, "dlTime", timeKnob);
    makeKnob(feedbackKnob);
    feedbackAttachment = std::make_unique<SliderAttachment>(apvts, "dlFb", feedbackKnob);
    makeKnob(delayMixKnob);
    delayMixAttachment = std::make_unique<SliderAttachment>(apvts, "dlMix", delayMixKnob);
    addAndMakeVisible(modeBox);
    fill(modeBox, {"Digital", "Analog", "Tape", "Reverse"});
    modeAttachment = std::make_unique<ComboBoxAttachment>(apvts, "dlMode", modeBox);
    addAndMakeVisible(tapButton);
    tapButton.onClick = [this] { tapTempo(); };
    addAndMakeVisible(delaySyncButton);
    delaySyncAttachment = std::make_unique<ButtonAttachment>(apvts, "dlSync", delaySyncButton);
    addAndMakeVisible(divisionBox);
    fill(divisionBox, {"1/4", "1/8", "1/8.", "1/8T", "1/16", "1/4.", "1/2"});
    divisionAttachment = std::make_unique<ComboBoxAttachment>(apvts, "dlDiv", divisionBox);
    for (auto* label : {&timeLabel, &feedbackLabel, &delayMixLabel, &modeLabel})
    {
        label->setJustificationType(juce::Justification::centred);
        addAndMakeVisible(*label);
    }

    // LOOPER
    addAndMakeVisible(recButton);
    recButton.onClick = [this] { processorRef.looper.recordPressed(); };
    addAndMakeVisible(stopButton);
    stopButton.onClick = [this] { processorRef.looper.stopPressed(); };
    addAndMakeVisible(undoButton);
    undoButton.onClick = [this] { processorRef.looper.undo(); };
    addAndMakeVisible(clearButton);
    clearButton.onClick = [this] { processorRef.looper.clear(); };
    addAndMakeVisible(loopSyncButton);
    loopSyncAttachment = std::make_unique<ButtonAttachment>(apvts, "loopSync", loopSyncButton);
    addAndMakeVisible(barsBox);
    fill(barsBox, {"Nearest", "1 Bar", "2 Bars", "4 Bars", "8 Bars"});
    barsAttachment = std::make_unique<ComboBoxAttachment>(apvts, "loopBars", barsBox);
    statusLabel.setJustificationType(juce::Justification::centred);
    statusLabel.setColour(juce::Label::textColourId, juce::Colour(0xff00e5ff));
    addAndMakeVisible(statusLabel);

    setSize(760, 500);
    startTimer(66);
}

LumiroLooperEditor::~LumiroLooperEditor()
{
    setLookAndFeel(nullptr);
}

void LumiroLooperEditor::makeKnob(juce::Slider& slider)
{
    slider.setSliderStyle(juce::Slider::RotaryHorizontalVerticalDrag);
    slider.setTextBoxStyle(juce::Slider::TextBoxBelow, false, 70, 16);
    addAndMakeVisible(slider);

    // The text box was made while the slider had no parent, from the default look's
    // colours; rebuild it now that it draws through ours (accent value on a dark outline).
    slider.sendLookAndFeelChange();
}

void LumiroLooperEditor::paint(juce::Graphics& g)
{
    g.fillAll(juce::Colour(0xff0a0a0a));

    g.setColour(juce::Colour(0xff161618));
    g.fillRect(0, 0, getWidth(), juce::jmin(54, getHeight()));

    g.setColour(juce::Colour(0xff00e5ff));
    g.setFont(juce::Font(26.0f, juce::Font::bold));
    g.drawText("LUMIRO  LOOPER  STATION", 20, 12, 460, 30, juce::Justification::left, true);

    // Same bold face as the title, only smaller.
    g.setColour(juce::Colour(0xff52525b));
    g.setFont(g.getCurrentFont().withHeight(12.0f));
    g.drawText("LOOP  +  ZR7 DELAY  +  AUTOTUNE", 20, 36, 460, 14, juce::Justification::left, true);

    g.setColour(juce::Colour(0xff27272a));
    g.drawRect(juce::Rectangle<float>(16.0f, 70.0f, 360.0f, 180.0f), 1.0f);
    g.drawRect(juce::Rectangle<float>(388.0f, 70.0f, 356.0f, 180.0f), 1.0f);
    g.drawRect(juce::Rectangle<float>(16.0f, 268.0f, 728.0f, 216.0f), 1.0f);

    g.setColour(juce::Colour(0xffa0a0ab));
    g.setFont(juce::Font(12.0f, juce::Font::bold));
    g.drawText("PITCH", 28, 78, 200, 16, juce::Justification::left, true);
    g.drawText("DELAY", 400, 78, 200, 16, juce::Justification::left, true);
    g.drawText("LOOPER", 28, 276, 200, 16, juce::Justification::left, true);
}

void LumiroLooperEditor::resized()
{
    autotuneButton.setBounds(28, 98, 140, 24);
    keyLabel.setBounds(28, 132, 80, 14);
    keyBox.setBounds(28, 148, 80, 26);
    scaleLabel.setBounds(120, 132, 90, 14);
    scaleBox.setBounds(120, 148, 90, 26);
    retuneLabel.setBounds(228, 86, 70, 14);
    retuneKnob.setBounds(228, 100, 70, 90);
    tuneMixLabel.setBounds(300, 86, 70, 14);
    tuneMixKnob.setBounds(300, 100, 70, 90);

    delayButton.setBounds(400, 98, 120, 24);
    timeLabel.setBounds(398, 128, 70, 14);
    timeKnob.setBounds(398, 142, 70, 90);
    feedbackLabel.setBounds(474, 128, 70, 14);
    feedbackKnob.setBounds(474, 142, 70, 90);
    delayMixLabel.setBounds(550, 128, 70, 14);
    delayMixKnob.setBounds(550, 142, 70, 90);
    modeLabel.setBounds(632, 100, 96, 14);
    modeBox.setBounds(632, 116, 96, 24);
    delaySyncButton.setBounds(632, 146, 96, 22);
    divisionBox.setBounds(632, 170, 96, 24);
    tapButton.setBounds(632, 200, 96, 34);

    recButton.setBounds(32, 304, 167, 38);
    stopButton.setBounds(207, 304, 167, 38);
    undoButton.setBounds(382, 304, 167, 38);
    clearButton.setBounds(557, 304, 167, 38);
    loopSyncButton.setBounds(28, 356, 110, 24);
    barsBox.setBounds(148, 356, 130, 26);
    statusLabel.setBounds(300, 352, 428, 34);
}

void LumiroLooperEditor::setTapClock(std::function<double()> clock)
{
    tapClock = std::move(clock);
}

void LumiroLooperEditor::tapTempo()
{
    const double now = tapClock();
    auto& lastTapMs = processorRef.lastTapMs;

    if (lastTapMs > 0.0)
    {
        const double gap = now - lastTapMs;
        if (gap > 40.0 && gap < 2000.0)
        {
            // The gap is mapped as measured; the parameter snaps it to whole
            // milliseconds itself. (The parameter's own convertTo0to1 would
            // round first and hand the host a different normalised value.)
            if (auto* time = processorRef.apvts.getParameter("dlTime"))
                time->setValueNotifyingHost(time->getNormalisableRange().convertTo0to1((float)gap));
        }
    }

    lastTapMs = now;
}

LumiroLooperEditor::LoopStatus LumiroLooperEditor::describeLoop(LoopState state, int numLayers)
{
    const juce::Colour calm(0xff00e5ff);
    const juce::Colour hot(0xffff3b30);

    LoopStatus status;
    switch (state)
    {
    case LoopState::Recording:
        status = {juce::String(juce::CharPointer_UTF8("\xe2\x97\x8f REC")), hot, "TAKE"};
        break;
    case LoopState::Playing:
        status = {juce::String(juce::CharPointer_UTF8("\xe2\x96\xb6 PLAY")), calm, "OVERDUB"};
        break;
    case LoopState::Overdubbing:
        status = {juce::String(juce::CharPointer_UTF8("\xe2\x97\x8f OVERDUB")), hot, "TAKE"};
        break;
    case LoopState::Stopped:
        status = {juce::String(juce::CharPointer_UTF8("\xe2\x96\xa0 STOPPED")), calm, "TAKE"};
        break;
    case LoopState::Idle:
    default:
        status = {"IDLE", calm, "REC"};
        break;
    }

    status.text << "   layers: " << numLayers;
    return status;
}

void LumiroLooperEditor::timerCallback()
{
    const auto& looper = processorRef.looper;
    const auto status = describeLoop(looper.getLoopState(), looper.getNumLayers());

    statusLabel.setText(status.text, juce::dontSendNotification);
    statusLabel.setColour(juce::Label::textColourId, status.colour);
    if (recButton.getButtonText() != status.recCaption)
        recButton.setButtonText(status.recCaption);
}
