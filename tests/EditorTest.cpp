#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "editor/LumiroLooperEditor.h"
#include "editor/OstraLookAndFeel.h"
#include "plugin/LumiroLooperProcessor.h"

namespace juce
{
// Failures show colours as ARGB hex instead of raw bytes.
void PrintTo(const Colour& colour, std::ostream* os)
{
    *os << "0x" << colour.toDisplayString(true).toLowerCase();
}
} // namespace juce

namespace
{
constexpr juce::uint32 background = 0xff0a0a0a;
constexpr juce::uint32 header = 0xff161618;
constexpr juce::uint32 frame = 0xff27272a;
constexpr juce::uint32 accent = 0xff00e5ff;
constexpr juce::uint32 red = 0xffff3b30;

// Editor as a host would open it: created by the processor, deleted before it.
class EditorTest : public ::testing::Test
{
  protected:
    void SetUp() override { open(); }
    void TearDown() override { close(); }

    void open()
    {
        editor.reset(dynamic_cast<LumiroLooperEditor*>(processor.createEditor()));
        ASSERT_NE(editor, nullptr);
        editor->setTapClock([this] { return nowMs; });
    }

    void close()
    {
        if (editor != nullptr)
        {
            processor.editorBeingDeleted(editor.get());
            editor.reset();
        }
    }

    juce::RangedAudioParameter& param(const char* id)
    {
        auto* p = processor.apvts.getParameter(id);
        EXPECT_NE(p, nullptr) << id;
        return *p;
    }

    float value(const char* id) { return processor.apvts.getRawParameterValue(id)->load(); }

    void setFromHost(const char* id, float v)
    {
        auto& p = param(id);
        p.setValueNotifyingHost(p.convertTo0to1(v));
    }

    void tapAt(double ms)
    {
        nowMs = ms;
        editor->tapButton.onClick();
    }

    LumiroLooperProcessor processor;
    std::unique_ptr<LumiroLooperEditor> editor;
    double nowMs = 0.0;
};

// Colour distance as the largest difference of one channel.
int distance(juce::Colour a, juce::Colour b)
{
    return juce::jmax(std::abs(a.getRed() - b.getRed()), std::abs(a.getGreen() - b.getGreen()),
                      std::abs(a.getBlue() - b.getBlue()), std::abs(a.getAlpha() - b.getAlpha()));
}

// The smallest distance to the colour within the 3 x 3 pixels around (x, y).
int nearest(const juce::Image& image, float x, float y, juce::uint32 colour)
{
    int best = 255;
    const int cx = (int)std::floor(x), cy = (int)std::floor(y);
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            best = juce::jmin(best,
                              distance(image.getPixelAt(cx + dx, cy + dy), juce::Colour(colour)));
    return best;
}

// A point on a circle, with angles clockwise from twelve o'clock.
juce::Point<float> onCircle(juce::Point<float> centre, float radius, float angle)
{
    return {centre.x + radius * std::sin(angle), centre.y - radius * std::cos(angle)};
}

constexpr float pi = juce::MathConstants<float>::pi;
constexpr float startAngle = 1.2f * pi;
constexpr float endAngle = 2.8f * pi;

float knobAngle(float proportion)
{
    return startAngle + proportion * (endAngle - startAngle);
}
} // namespace

TEST_F(EditorTest, OpensAtFixedSizeWithoutResizing)
{
    EXPECT_EQ(editor->getWidth(), 760);
    EXPECT_EQ(editor->getHeight(), 500);
    EXPECT_FALSE(editor->isResizable());
}

TEST_F(EditorTest, ControlsSitAtTheirBoundsInStackingOrder)
{
    auto& e = *editor;
    const std::vector<std::pair<juce::Component*, juce::Rectangle<int>>> layout = {
        {&e.autotuneButton, {28, 98, 140, 24}}, {&e.keyBox, {28, 148, 80, 26}},
        {&e.scaleBox, {120, 148, 90, 26}},      {&e.retuneKnob, {228, 100, 70, 90}},
        {&e.tuneMixKnob, {300, 100, 70, 90}},   {&e.keyLabel, {28, 132, 80, 14}},
        {&e.scaleLabel, {120, 132, 90, 14}},    {&e.retuneLabel, {228, 86, 70, 14}},
        {&e.tuneMixLabel, {300, 86, 70, 14}},   {&e.delayButton, {400, 98, 120, 24}},
        {&e.timeKnob, {398, 142, 70, 90}},      {&e.feedbackKnob, {474, 142, 70, 90}},
        {&e.delayMixKnob, {550, 142, 70, 90}},  {&e.modeBox, {632, 116, 96, 24}},
        {&e.tapButton, {632, 200, 96, 34}},     {&e.delaySyncButton, {632, 146, 96, 22}},
        {&e.divisionBox, {632, 170, 96, 24}},   {&e.timeLabel, {398, 128, 70, 14}},
        {&e.feedbackLabel, {474, 128, 70, 14}}, {&e.delayMixLabel, {550, 128, 70, 14}},
        {&e.modeLabel, {632, 100, 96, 14}},     {&e.recButton, {32, 304, 167, 38}},
        {&e.stopButton, {207, 304, 167, 38}},   {&e.undoButton, {382, 304, 167, 38}},
        {&e.clearButton, {557, 304, 167, 38}},  {&e.loopSyncButton, {28, 356, 110, 24}},
        {&e.barsBox, {148, 356, 130, 26}},      {&e.statusLabel, {300, 352, 428, 34}},
    };

    // The table is in the order the controls are added, which is also their stacking order.
    ASSERT_EQ(e.getNumChildComponents(), (int)layout.size());
    for (size_t i = 0; i < layout.size(); ++i)
    {
        const auto& [control, bounds] = layout[i];
        SCOPED_TRACE("control " + std::to_string(i));
        EXPECT_EQ(e.getChildComponent((int)i), control);
        EXPECT_EQ(control->getBounds(), bounds);
        EXPECT_TRUE(control->isVisible());

        for (size_t j = 0; j < i; ++j)
            EXPECT_FALSE(bounds.intersects(layout[j].second)) << "overlaps control " << j;
    }
}

TEST_F(EditorTest, CaptionsAndLabels)
{
    auto& e = *editor;
    const std::vector<std::pair<juce::Button*, const char*>> buttons = {
        {&e.autotuneButton, "AUTOTUNE"}, {&e.delayButton, "DELAY"}, {&e.tapButton, "TAP"},
        {&e.delaySyncButton, "SYNC"},    {&e.recButton, "REC"},     {&e.stopButton, "STOP"},
        {&e.undoButton, "UNDO"},         {&e.clearButton, "CLEAR"}, {&e.loopSyncButton, "SYNC"},
    };
    for (const auto& [button, caption] : buttons)
    {
        EXPECT_EQ(button->getButtonText(), caption);
        EXPECT_EQ(button->getName(), caption);
    }

    const std::vector<std::pair<juce::Label*, const char*>> labels = {
        {&e.keyLabel, "KEY"},      {&e.scaleLabel, "SCALE"}, {&e.retuneLabel, "RETUNE"},
        {&e.tuneMixLabel, "MIX"},  {&e.timeLabel, "TIME"},   {&e.feedbackLabel, "FEEDBACK"},
        {&e.delayMixLabel, "MIX"}, {&e.modeLabel, "MODE"},   {&e.statusLabel, "IDLE"},
    };
    for (const auto& [label, text] : labels)
    {
        EXPECT_EQ(label->getText(), text);
        EXPECT_EQ(label->getJustificationType(), juce::Justification(juce::Justification::centred));
    }

    // Until the first tick the status shows the label's own text in the accent colour.
    EXPECT_EQ(e.statusLabel.findColour(juce::Label::textColourId), juce::Colour(accent));
    EXPECT_EQ(e.keyLabel.findColour(juce::Label::textColourId), juce::Colour(0xffa0a0ab));
}

TEST_F(EditorTest, ComboBoxesListTheParameterChoicesAndFollowTheirDefaults)
{
    auto& e = *editor;
    const struct
    {
        juce::ComboBox* box;
        juce::StringArray items;
        const char* selected;
    } boxes[] = {
        {&e.keyBox, {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"}, "C"},
        {&e.scaleBox, {"Major", "Minor", "Chromatic"}, "Major"},
        {&e.modeBox, {"Digital", "Analog", "Tape", "Reverse"}, "Digital"},
        {&e.divisionBox, {"1/4", "1/8", "1/8.", "1/8T", "1/16", "1/4.", "1/2"}, "1/8"},
        {&e.barsBox, {"Nearest", "1 Bar", "2 Bars", "4 Bars", "8 Bars"}, "Nearest"},
    };

    for (const auto& b : boxes)
    {
        ASSERT_EQ(b.box->getNumItems(), b.items.size());
        for (int i = 0; i < b.items.size(); ++i)
        {
            EXPECT_EQ(b.box->getItemText(i), b.items[i]);
            EXPECT_EQ(b.box->getItemId(i), i + 1);
        }
        EXPECT_EQ(b.box->getText(), b.selected);
    }
}

TEST_F(EditorTest, KnobsAreEditableRotariesWithTheParameterRange)
{
    auto& e = *editor;
    for (auto* knob :
         {&e.retuneKnob, &e.tuneMixKnob, &e.timeKnob, &e.feedbackKnob, &e.delayMixKnob})
    {
        EXPECT_EQ(knob->getSliderStyle(), juce::Slider::RotaryHorizontalVerticalDrag);
        EXPECT_EQ(knob->getTextBoxPosition(), juce::Slider::TextBoxBelow);
        EXPECT_TRUE(knob->isTextBoxEditable());
        EXPECT_EQ(knob->getTextBoxWidth(), 70);
        EXPECT_EQ(knob->getTextBoxHeight(), 16);

        const auto rotary = knob->getRotaryParameters();
        EXPECT_FLOAT_EQ(rotary.startAngleRadians, startAngle);
        EXPECT_FLOAT_EQ(rotary.endAngleRadians, endAngle);
        EXPECT_TRUE(rotary.stopAtEnd);
    }

    for (auto* knob :
         {&e.retuneKnob, &e.tuneMixKnob, &e.timeKnob, &e.feedbackKnob, &e.delayMixKnob})
    {
        auto* textBox = dynamic_cast<juce::Label*>(knob->getChildComponent(0));
        ASSERT_NE(textBox, nullptr);
        EXPECT_EQ(textBox->findColour(juce::Label::textColourId), juce::Colour(accent));
        EXPECT_EQ(textBox->findColour(juce::Label::outlineColourId), juce::Colour(frame));
    }

    EXPECT_DOUBLE_EQ(e.timeKnob.getMinimum(), 20.0);
    EXPECT_DOUBLE_EQ(e.timeKnob.getMaximum(), 2000.0);
    EXPECT_DOUBLE_EQ(e.timeKnob.getValue(), 350.0);
    EXPECT_NEAR(e.feedbackKnob.getMaximum(), 0.95, 1e-6);
    EXPECT_NEAR(e.retuneKnob.getValue(), 0.7, 1e-6);
}

TEST_F(EditorTest, HostChangesMoveTheControls)
{
    auto& e = *editor;

    setFromHost("dlMode", 2.0f);
    setFromHost("dlDiv", 4.0f);
    setFromHost("loopBars", 3.0f);
    setFromHost("atKey", 9.0f);
    setFromHost("atScale", 2.0f);
    EXPECT_EQ(e.modeBox.getText(), "Tape");
    EXPECT_EQ(e.divisionBox.getText(), "1/16");
    EXPECT_EQ(e.barsBox.getText(), "4 Bars");
    EXPECT_EQ(e.keyBox.getText(), "A");
    EXPECT_EQ(e.scaleBox.getText(), "Chromatic");

    setFromHost("dlTime", 1000.0f);
    setFromHost("dlFb", 0.8f);
    setFromHost("dlMix", 0.5f);
    setFromHost("atSpeed", 0.25f);
    setFromHost("atMix", 0.1f);
    EXPECT_NEAR(e.timeKnob.getValue(), 1000.0, 1e-3);
    EXPECT_NEAR(e.feedbackKnob.getValue(), 0.8, 1e-5);
    EXPECT_NEAR(e.delayMixKnob.getValue(), 0.5, 1e-5);
    EXPECT_NEAR(e.retuneKnob.getValue(), 0.25, 1e-5);
    EXPECT_NEAR(e.tuneMixKnob.getValue(), 0.1, 1e-5);

    setFromHost("atOn", 1.0f);
    setFromHost("dlOn", 0.0f);
    setFromHost("dlSync", 1.0f);
    setFromHost("loopSync", 1.0f);
    EXPECT_TRUE(e.autotuneButton.getToggleState());
    EXPECT_FALSE(e.delayButton.getToggleState());
    EXPECT_TRUE(e.delaySyncButton.getToggleState());
    EXPECT_TRUE(e.loopSyncButton.getToggleState());
}

TEST_F(EditorTest, ControlChangesMoveTheParameters)
{
    auto& e = *editor;
    const auto sync = juce::sendNotificationSync;

    e.keyBox.setSelectedId(12, sync);
    e.scaleBox.setSelectedId(2, sync);
    e.modeBox.setSelectedId(4, sync);
    e.divisionBox.setSelectedId(7, sync);
    e.barsBox.setSelectedId(5, sync);
    EXPECT_EQ(value("atKey"), 11.0f);
    EXPECT_EQ(value("atScale"), 1.0f);
    EXPECT_EQ(value("dlMode"), 3.0f);
    EXPECT_EQ(value("dlDiv"), 6.0f);
    EXPECT_EQ(value("loopBars"), 4.0f);

    e.retuneKnob.setValue(0.2, sync);
    e.tuneMixKnob.setValue(0.6, sync);
    e.timeKnob.setValue(800.0, sync);
    e.feedbackKnob.setValue(0.9, sync);
    e.delayMixKnob.setValue(0.05, sync);
    EXPECT_NEAR(value("atSpeed"), 0.2f, 1e-6f);
    EXPECT_NEAR(value("atMix"), 0.6f, 1e-6f);
    EXPECT_NEAR(value("dlTime"), 800.0f, 1e-3f);
    EXPECT_NEAR(value("dlFb"), 0.9f, 1e-6f);
    EXPECT_NEAR(value("dlMix"), 0.05f, 1e-6f);

    e.autotuneButton.setToggleState(true, sync);
    e.delayButton.setToggleState(false, sync);
    e.delaySyncButton.setToggleState(true, sync);
    e.loopSyncButton.setToggleState(true, sync);
    EXPECT_EQ(value("atOn"), 1.0f);
    EXPECT_EQ(value("dlOn"), 0.0f);
    EXPECT_EQ(value("dlSync"), 1.0f);
    EXPECT_EQ(value("loopSync"), 1.0f);
}

TEST_F(EditorTest, EveryControlDrawsThroughTheStationLook)
{
    auto* lnf = dynamic_cast<OstraLookAndFeel*>(&editor->getLookAndFeel());
    ASSERT_NE(lnf, nullptr);
    for (auto* child : editor->getChildren())
        EXPECT_EQ(&child->getLookAndFeel(), lnf);

    EXPECT_EQ(editor->modeBox.findColour(juce::ComboBox::textColourId), juce::Colour(accent));
    EXPECT_EQ(editor->timeKnob.findColour(juce::Slider::textBoxTextColourId), juce::Colour(accent));
}

// ---- Tap tempo --------------------------------------------------------------

TEST_F(EditorTest, TapSetsDelayTimeFromTheGapBetweenTwoPresses)
{
    const struct
    {
        double gapMs;
        float expectedTime; // 350 is the untouched default
    } cases[] = {
        {500.0, 500.0f},   {40.0, 350.0f}, {2000.0, 350.0f}, {41.0, 41.0f},
        {1999.0, 1999.0f}, {10.0, 350.0f}, {5000.0, 350.0f}, {123.4, 123.0f},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.gapMs);
        setFromHost("dlTime", 350.0f);
        processor.lastTapMs = 0.0;

        tapAt(10000.0);
        tapAt(10000.0 + c.gapMs);
        EXPECT_FLOAT_EQ(value("dlTime"), c.expectedTime);
        EXPECT_DOUBLE_EQ(processor.lastTapMs, 10000.0 + c.gapMs);
    }

    EXPECT_NEAR(editor->timeKnob.getValue(), 123.0, 1e-3);
}

TEST_F(EditorTest, TapHandsTheHostTheGapAsMeasured)
{
    // The host records the normalised value the tap sends; snapping to whole
    // milliseconds is the parameter's business, not the tap's.
    struct Recorder : juce::AudioProcessorParameter::Listener
    {
        float sent = -1.0f;
        void parameterValueChanged(int, float v) override { sent = v; }
        void parameterGestureChanged(int, bool) override {}
    } recorder;

    auto& time = param("dlTime");
    time.addListener(&recorder);
    tapAt(10000.0);
    tapAt(10500.4);
    time.removeListener(&recorder);

    EXPECT_FLOAT_EQ(recorder.sent, time.getNormalisableRange().convertTo0to1(500.4f));
    EXPECT_FLOAT_EQ(value("dlTime"), 500.0f);
}

TEST_F(EditorTest, FirstTapOnlyArms)
{
    tapAt(10500.0);
    EXPECT_FLOAT_EQ(value("dlTime"), 350.0f);
    EXPECT_DOUBLE_EQ(processor.lastTapMs, 10500.0);
}

TEST_F(EditorTest, EachTapMeasuresFromThePressBeforeIt)
{
    // No averaging, and a rejected gap still re-arms from its own press.
    tapAt(1000.0);
    tapAt(1600.0);
    EXPECT_FLOAT_EQ(value("dlTime"), 600.0f);
    tapAt(1850.0);
    EXPECT_FLOAT_EQ(value("dlTime"), 250.0f);
    tapAt(5000.0);
    EXPECT_FLOAT_EQ(value("dlTime"), 250.0f);
    tapAt(5300.0);
    EXPECT_FLOAT_EQ(value("dlTime"), 300.0f);
}

TEST_F(EditorTest, TapHistorySurvivesClosingTheEditor)
{
    tapAt(20000.0);
    close();
    open();
    tapAt(21000.0);
    EXPECT_FLOAT_EQ(value("dlTime"), 1000.0f);
}

TEST_F(EditorTest, TapLeavesDelaySyncAlone)
{
    setFromHost("dlSync", 1.0f);
    tapAt(1000.0);
    tapAt(1400.0);
    EXPECT_FLOAT_EQ(value("dlTime"), 400.0f);
    EXPECT_EQ(value("dlSync"), 1.0f);
}

// ---- Loop status ------------------------------------------------------------

TEST(EditorStatus, EachLoopStateHasItsTextColourAndCaption)
{
    const struct
    {
        LoopState state;
        int layers;
        const char* utf8Text;
        juce::uint32 colour;
        const char* caption;
    } cases[] = {
        {LoopState::Idle, 0, "IDLE   layers: 0", accent, "REC"},
        {LoopState::Recording, 0, "\xe2\x97\x8f REC   layers: 0", red, "TAKE"},
        {LoopState::Playing, 2, "\xe2\x96\xb6 PLAY   layers: 2", accent, "OVERDUB"},
        {LoopState::Overdubbing, 1, "\xe2\x97\x8f OVERDUB   layers: 1", red, "TAKE"},
        {LoopState::Stopped, 12, "\xe2\x96\xa0 STOPPED   layers: 12", accent, "TAKE"},
    };

    for (const auto& c : cases)
    {
        const auto status = LumiroLooperEditor::describeLoop(c.state, c.layers);
        EXPECT_EQ(status.text, juce::String(juce::CharPointer_UTF8(c.utf8Text)));
        EXPECT_EQ(status.colour, juce::Colour(c.colour));
        EXPECT_EQ(status.recCaption, c.caption);
    }

    // The marks are single characters, not their UTF-8 bytes.
    EXPECT_EQ(LumiroLooperEditor::describeLoop(LoopState::Recording, 0).text[0], 0x25cf);
    EXPECT_EQ(LumiroLooperEditor::describeLoop(LoopState::Playing, 0).text[0], 0x25b6);
    EXPECT_EQ(LumiroLooperEditor::describeLoop(LoopState::Stopped, 0).text[0], 0x25a0);
}

TEST_F(EditorTest, StatusPollRunsEvery66Ms)
{
    EXPECT_TRUE(editor->isTimerRunning());
    EXPECT_EQ(editor->getTimerInterval(), 66);
}

TEST_F(EditorTest, TimerTickShowsTheLooperStateAndLayerCount)
{
    editor->recButton.setButtonText("stale");
    editor->statusLabel.setColour(juce::Label::textColourId, juce::Colours::white);

    editor->timerCallback();

    const auto expected = LumiroLooperEditor::describeLoop(processor.looper.getLoopState(),
                                                           processor.looper.getNumLayers());
    EXPECT_EQ(editor->statusLabel.getText(), expected.text);
    EXPECT_EQ(editor->statusLabel.findColour(juce::Label::textColourId), expected.colour);
    EXPECT_EQ(editor->recButton.getButtonText(), expected.recCaption);
}

TEST_F(EditorTest, TransportButtonsDriveTheLoopAndTheStatusFollows)
{
    {
        Looper probe;
        probe.prepare(48000.0, 2);
        probe.recordPressed();
        if (probe.getLoopState() == LoopState::Idle)
            GTEST_SKIP() << "the looper's transport commands are not built in yet";
    }

    processor.prepareToPlay(48000.0, 512);
    juce::AudioBuffer<float> block(2, 512);
    juce::MidiBuffer midi;
    auto runBlock = [&]
    {
        block.clear();
        processor.processBlock(block, midi);
    };

    auto& e = *editor;
    auto expectStatus = [&](const char* utf8Text, juce::uint32 colour, const char* caption)
    {
        e.timerCallback();
        EXPECT_EQ(e.statusLabel.getText(), juce::String(juce::CharPointer_UTF8(utf8Text)));
        EXPECT_EQ(e.statusLabel.findColour(juce::Label::textColourId), juce::Colour(colour));
        EXPECT_EQ(e.recButton.getButtonText(), caption);
    };

    e.recButton.onClick();
    runBlock();
    expectStatus("\xe2\x97\x8f REC   layers: 0", red, "TAKE");

    e.recButton.onClick();
    runBlock();
    expectStatus("\xe2\x96\xb6 PLAY   layers: 1", accent, "OVERDUB");

    e.recButton.onClick();
    runBlock();
    expectStatus("\xe2\x97\x8f OVERDUB   layers: 1", red, "TAKE");

    e.stopButton.onClick();
    expectStatus("\xe2\x96\xa0 STOPPED   layers: 2", accent, "TAKE");

    e.undoButton.onClick();
    expectStatus("\xe2\x96\xa0 STOPPED   layers: 1", accent, "TAKE");

    e.clearButton.onClick();
    expectStatus("IDLE   layers: 0", accent, "REC");
}

// ---- Drawing ----------------------------------------------------------------

class EditorPixelTest : public EditorTest
{
  protected:
    juce::Image render() { return editor->createComponentSnapshot(editor->getLocalBounds()); }
};

TEST_F(EditorPixelTest, BackgroundHeaderAndPanelFrames)
{
    const auto image = render();
    ASSERT_EQ(image.getWidth(), 760);
    ASSERT_EQ(image.getHeight(), 500);

    const struct
    {
        int x, y;
        juce::uint32 colour;
    } pixels[] = {
        {2, 2, header},         {757, 53, header},      {2, 54, background},
        {757, 497, background}, {380, 150, background}, {200, 240, background},
        {16, 200, frame},       {375, 200, frame},      {200, 70, frame},
        {200, 249, frame},      {388, 240, frame},      {743, 100, frame},
        {500, 70, frame},       {16, 400, frame},       {743, 400, frame},
        {400, 268, frame},      {400, 483, frame},      {17, 200, background},
        {374, 200, background}, {400, 484, background}, {15, 400, background},
        {228, 180, frame},      {297, 180, frame},      {440, 216, frame},
    };

    for (const auto& p : pixels)
        EXPECT_EQ(image.getPixelAt(p.x, p.y), juce::Colour(p.colour)) << p.x << ", " << p.y;
}

TEST_F(EditorPixelTest, TitleIsDrawnInTheAccentColour)
{
    const auto image = render();
    int accentPixels = 0;
    for (int y = 12; y < 42; ++y)
        for (int x = 20; x < 480; ++x)
            if (distance(image.getPixelAt(x, y), juce::Colour(accent)) < 8)
                ++accentPixels;
    EXPECT_GT(accentPixels, 200);
}

TEST_F(EditorPixelTest, KnobArcFollowsTheValue)
{
    // Retune knob at 228, 100; its 70 x 74 rotary area gives a 58 x 62 body, centre
    // (263, 137), arc radius 27.
    const juce::Point<float> centre(263.0f, 137.0f);

    for (const float setting : {0.25f, 0.7f})
    {
        SCOPED_TRACE(setting);
        setFromHost("atSpeed", setting);
        const auto image = render();

        for (float p = 0.02f; p < 0.99f; p += 0.04f)
        {
            const auto point = onCircle(centre, 27.0f, knobAngle(p));
            if (p < setting - 0.06f)
            {
                EXPECT_EQ(nearest(image, point.x, point.y, accent), 0) << "arc missing at " << p;
            }
            else if (p > setting + 0.06f)
            {
                EXPECT_GT(nearest(image, point.x, point.y, accent), 100) << "arc beyond " << p;
            }
        }

        // The pointer runs from the centre toward the value.
        const auto pointer = onCircle(centre, 15.0f, knobAngle(setting));
        EXPECT_EQ(nearest(image, pointer.x, pointer.y, accent), 0);
        EXPECT_EQ(image.getPixelAt(263, 155), juce::Colour(header)); // body, below the centre
    }
}

// ---- Knob drawing alone ------------------------------------------------------

class KnobDrawing : public ::testing::Test
{
  protected:
    juce::Image draw(int size, float proportion)
    {
        juce::Image image(juce::Image::ARGB, size, size, true);
        juce::Graphics g(image);
        g.fillAll(juce::Colours::black);
        lnf.drawRotarySlider(g, 0, 0, size, size, proportion, startAngle, endAngle, slider);
        return image;
    }

    OstraLookAndFeel lnf;
    juce::Slider slider;
};

TEST_F(KnobDrawing, ArcSpansFromStartToValue)
{
    // 100 x 100: bounds 6..94, radius 44, centre (50, 50), arc radius 42.
    const juce::Point<float> centre(50.0f, 50.0f);

    const auto full = draw(100, 1.0f);
    for (float p = 0.025f; p < 1.0f; p += 0.05f)
    {
        const auto point = onCircle(centre, 42.0f, knobAngle(p));
        EXPECT_EQ(nearest(full, point.x, point.y, accent), 0) << p;
    }
    // The gap at the bottom stays empty.
    EXPECT_GT(nearest(full, 50.0f, 92.0f, accent), 100);

    const auto empty = draw(100, 0.0f);
    for (float p = 0.1f; p <= 1.0f; p += 0.1f)
    {
        const auto point = onCircle(centre, 42.0f, knobAngle(p));
        EXPECT_GT(nearest(empty, point.x, point.y, accent), 100) << p;
    }
    // At zero only the pointer, at the start angle, is in the accent colour.
    const auto pointer = onCircle(centre, 30.0f, startAngle);
    EXPECT_EQ(nearest(empty, pointer.x, pointer.y, accent), 0);
    EXPECT_EQ(empty.getPixelAt(50, 80), juce::Colour(header));
    EXPECT_EQ(empty.getPixelAt(3, 50), juce::Colours::black);
}

TEST_F(KnobDrawing, AreasTooSmallForAnArcStillDraw)
{
    // 12 x 12 leaves nothing of the body and 16 x 16 a radius of 2: no arc, and no
    // assertion from the path or stroke code.
    for (const int area : {0, 12, 16})
    {
        juce::Image image(juce::Image::ARGB, 20, 20, true);
        juce::Graphics g(image);
        lnf.drawRotarySlider(g, 2, 2, area, area, 1.0f, startAngle, endAngle, slider);
    }
}

TEST_F(KnobDrawing, ColourOverrides)
{
    const struct
    {
        int id;
        juce::uint32 colour;
    } colours[] = {
        {juce::ResizableWindow::backgroundColourId, background},
        {juce::Slider::textBoxTextColourId, accent},
        {juce::Slider::textBoxOutlineColourId, frame},
        {juce::Label::textColourId, 0xffa0a0ab},
        {juce::ComboBox::backgroundColourId, 0xff1e1e20},
        {juce::ComboBox::textColourId, accent},
        {juce::ComboBox::outlineColourId, frame},
        {juce::TextButton::buttonColourId, 0xff1e1e20},
        {juce::TextButton::textColourOffId, 0xffa0a0ab},
    };
    for (const auto& c : colours)
        EXPECT_EQ(lnf.findColour(c.id), juce::Colour(c.colour)) << std::hex << c.id;
    EXPECT_EQ(lnf.accent, juce::Colour(accent));
}
