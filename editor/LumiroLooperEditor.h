#pragma once

#include <functional>
#include <memory>

#include <juce_audio_processors/juce_audio_processors.h>

#include "editor/OstraLookAndFeel.h"
#include "looper/Looper.h"

class LumiroLooperProcessor;

// The plug-in window: PITCH, DELAY and LOOPER panels at a fixed 760 x 500.
class LumiroLooperEditor : public juce::AudioProcessorEditor, public juce::Timer
{
  public:
    explicit LumiroLooperEditor(LumiroLooperProcessor& processor);
    ~LumiroLooperEditor() override;

    void paint(juce::Graphics& g) override;
    void resized() override;

    // Shows the loop state and layer count and retitles the REC button.
    void timerCallback() override;

    // TAP: sets the delay time from the gap since the previous press.
    void tapTempo();

    // What the LOOPER panel shows for a loop state and layer count.
    struct LoopStatus
    {
        juce::String text;
        juce::Colour colour;
        juce::String recCaption;
    };
    static LoopStatus describeLoop(LoopState state, int numLayers);

    // The clock TAP reads, in milliseconds; the monotonic high-resolution
    // counter unless replaced (tests drive TAP with their own clock).
    void setTapClock(std::function<double()> clock);

  private:
    LumiroLooperProcessor& processorRef;
    OstraLookAndFeel lnf;

  public:
    // The controls, in the order they are built; public so that tests and the
    // snapshot tool can reach them.
    juce::ToggleButton autotuneButton{"AUTOTUNE"};
    juce::ComboBox keyBox;
    juce::ComboBox scaleBox;
    juce::Slider retuneKnob;
    juce::Slider tuneMixKnob;
    juce::Label keyLabel{{}, "KEY"};
    juce::Label scaleLabel{{}, "SCALE"};
    juce::Label retuneLabel{{}, "RETUNE"};
    juce::Label tuneMixLabel{{}, "MIX"};

    juce::ToggleButton delayButton{"DELAY"};
    juce::ComboBox modeBox;
    juce::Slider timeKnob;
    juce::Slider feedbackKnob;
    juce::Slider delayMixKnob;
    juce::TextButton tapButton{"TAP"};
    juce::ToggleButton delaySyncButton{"SYNC"};
    juce::ComboBox divisionBox;
    juce::Label timeLabel{{}, "TIME"};
    juce::Label feedbackLabel{{}, "FEEDBACK"};
    juce::Label delayMixLabel{{}, "MIX"};
    juce::Label modeLabel{{}, "MODE"};

    juce::TextButton recButton{"REC"};
    juce::TextButton stopButton{"STOP"};
    juce::TextButton undoButton{"UNDO"};
    juce::TextButton clearButton{"CLEAR"};
    juce::ToggleButton loopSyncButton{"SYNC"};
    juce::ComboBox barsBox;
    juce::Label statusLabel{{}, "IDLE"};

  private:
    using ButtonAttachment = juce::AudioProcessorValueTreeState::ButtonAttachment;
    using ComboBoxAttachment = juce::AudioProcessorValueTreeState::ComboBoxAttachment;
    using SliderAttachment = juce::AudioProcessorValueTreeState::SliderAttachment;

    // Declared after the controls so they go first on destruction.
    std::unique_ptr<ButtonAttachment> autotuneAttachment;
    std::unique_ptr<ButtonAttachment> delayAttachment;
    std::unique_ptr<ButtonAttachment> delaySyncAttachment;
    std::unique_ptr<ButtonAttachment> loopSyncAttachment;
    std::unique_ptr<ComboBoxAttachment> keyAttachment;
    std::unique_ptr<ComboBoxAttachment> scaleAttachment;
    std::unique_ptr<ComboBoxAttachment> modeAttachment;
    std::unique_ptr<ComboBoxAttachment> divisionAttachment;
    std::unique_ptr<ComboBoxAttachment> barsAttachment;
    std::unique_ptr<SliderAttachment> retuneAttachment;
    std::unique_ptr<SliderAttachment> tuneMixAttachment;
    std::unique_ptr<SliderAttachment> timeAttachment;
    std::unique_ptr<SliderAttachment> feedbackAttachment;
    std::unique_ptr<SliderAttachment> delayMixAttachment;

    std::function<double()> tapClock;

    void makeKnob(juce::Slider& slider);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(LumiroLooperEditor)
};
