#include "editor/OstraLookAndFeel.h"

#include <cmath>

OstraLookAndFeel::OstraLookAndFeel() : accent(0xff00e5ff)
{
    setColour(juce::ResizableWindow::backgroundColourId, juce::Colour(0xff0a0a0a));
    setColour(juce::Slider::textBoxTextColourId, accent);
    setColour(juce::Slider::textBoxOutlineColourId, juce::Colour(0xff27272a));
    setColour(juce::Label::textColourId, juce::Colour(0xffa0a0ab));
    setColour(juce::ComboBox::backgroundColourId, juce::Colour(0xff1e1e20));
    setColour(juce::ComboBox::textColourId, accent);
    setColour(juce::ComboBox::outlineColourId, juce::Colour(0xff27272a));
    setColour(juce::TextButton::buttonColourId, juce::Colour(0xff1e1e20));
    setColour(juce::TextButton::textColourOffId, juce::Colour(0xffa0a0ab));
}

OstraLookAndFeel::~OstraLookAndFeel() = default;

void OstraLookAndFeel::drawRotarySlider(juce::Graphics& g, int x, int y, int width, int height,
                                        float sliderPosProportional, float rotaryStartAngle,
                                        float rotaryEndAngle, juce::Slider&)
{
    const float left = (float)x + 6.0f;
    const float top = (float)y + 6.0f;
    const float w = juce::jmax(0.0f, (float)width - 12.0f);
    const float h = juce::jmax(0.0f, (float)height - 12.0f);

    const float radius = juce::jmin(w, h) * 0.5f;
    const float centreX = left + w * 0.5f;
    const float centreY = top + h * 0.5f;

    // The body follows the area (an oval in a non-square one); arc and pointer stay round.
    g.setColour(juce::Colour(0xff161618));
    g.fillEllipse(left, top, w, h);
    g.setColour(juce::Colour(0xff27272a));
    g.drawEllipse(left, top, w, h, 1.0f);

    const float angle =
        rotaryStartAngle + sliderPosProportional * (rotaryEndAngle - rotaryStartAngle);

    g.setColour(accent);
    const float arcRadius = radius - 2.0f;
    if (arcRadius > 0.0f)
    {
        juce::Path arc;
        arc.addCentredArc(centreX, centreY, arcRadius, arcRadius, 0.0f, rotaryStartAngle, angle,
                          true);
        g.strokePath(arc, juce::PathStrokeType(3.0f, juce::PathStrokeType::mitered,
                                               juce::PathStrokeType::butt));
    }

    // Angles run clockwise from twelve o'clock; a quarter turn back gives the screen angle.
    const float halfPi = 1.5707964f;
    const float length = radius - 4.0f;
    g.drawLine(centreX, centreY, centreX + length * std::cos(angle - halfPi),
               centreY + length * std::sin(angle - halfPi), 2.5f);
}
