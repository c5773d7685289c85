#include "WaveformPlot.h"

namespace
{
void drawLane(juce::Graphics& g, const juce::AudioBuffer<float>& audio, juce::Rectangle<int> area,
              juce::int64 totalSamples, juce::Colour colour)
{
    g.setColour(juce::Colour(0xff1c1f26));
    g.fillRect(area);
    g.setColour(juce::Colour(0xff3a3f4b));
    g.drawHorizontalLine(area.getCentreY(), (float)area.getX(), (float)area.getRight());

    const int n = audio.getNumSamples();
    if (n == 0 || totalSamples == 0)
        return;

    g.setColour(colour);
    const float half = area.getHeight() * 0.5f;
    for (int x = 0; x < area.getWidth(); ++x)
    {
        const auto from = (int)(totalSamples * x / area.getWidth());
        const auto to = (int)std::min<juce::int64>(n, totalSamples * (x + 1) / area.getWidth());
        if (from >= to)
            continue;
        float lo = 0.0f, hi = 0.0f;
        for (int c = 0; c < audio.getNumChannels(); ++c)
        {
            const auto range = juce::FloatVectorOperations::findMinAndMax(
                audio.getReadPointer(c, from), to - from);
            lo = std::min(lo, range.getStart());
            hi = std::max(hi, range.getEnd());
        }
        lo = juce::jlimit(-1.0f, 1.0f, lo);
        hi = juce::jlimit(-1.0f, 1.0f, hi);
        g.drawVerticalLine(area.getX() + x, area.getCentreY() - hi * half,
                           area.getCentreY() - lo * half + 1.0f);
    }
}
} // namespace

juce::Colour WaveformPlot::colourFor(LoopState state)
{
    switch (state)
    {
    case LoopState::Recording:
        return juce::Colour(0xffe04848);
    case LoopState::Playing:
        return juce::Colour(0xff4cc872);
    case LoopState::Overdubbing:
        return juce::Colour(0xffef9a3c);
    case LoopState::Stopped:
        return juce::Colour(0xff4a7fd8);
    case LoopState::Idle:
        break;
    }
    return juce::Colour(0xff5a5f6b);
}

juce::Image WaveformPlot::draw(const juce::AudioBuffer<float>& input,
                               const juce::AudioBuffer<float>& output,
                               const std::vector<Renderer::StateChange>& timeline, int width,
                               int height)
{
    juce::Image image(juce::Image::RGB, width, height, true);
    juce::Graphics g(image);
    g.fillAll(juce::Colour(0xff111318));

    const juce::int64 total = std::max(input.getNumSamples(), output.getNumSamples());
    const int margin = 8, strip = 24;
    const int lane = (height - 4 * margin - strip) / 2;
    const juce::Rectangle<int> inputArea(margin, margin, width - 2 * margin, lane);
    const auto outputArea = inputArea.translated(0, lane + margin);
    const juce::Rectangle<int> stripArea(margin, outputArea.getBottom() + margin,
                                         width - 2 * margin, strip);

    drawLane(g, input, inputArea, total, juce::Colour(0xff5fa8ff));
    drawLane(g, output, outputArea, total, juce::Colour(0xff4cc872));

    for (size_t i = 0; i < timeline.size(); ++i)
    {
        const auto start = timeline[i].sample;
        const auto end = i + 1 < timeline.size() ? timeline[i + 1].sample : total;
        if (total == 0)
            break;
        const int x0 = stripArea.getX() + (int)(stripArea.getWidth() * start / total);
        const int x1 = stripArea.getX() + (int)(stripArea.getWidth() * end / total);
        g.setColour(colourFor(timeline[i].state));
        g.fillRect(x0, stripArea.getY(), std::max(1, x1 - x0), stripArea.getHeight());
    }
    return image;
}
