#include "ParameterAssignment.h"

#include "RenderOptions.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace
{
int editDistance(const juce::String& a, const juce::String& b)
{
    const int n = a.length(), m = b.length();
    std::vector<int> row((size_t)m + 1);
    for (int j = 0; j <= m; ++j)
        row[(size_t)j] = j;
    for (int i = 1; i <= n; ++i)
    {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= m; ++j)
        {
            const int above = row[(size_t)j];
            const int cost = juce::CharacterFunctions::toLowerCase(a[i - 1]) ==
                                     juce::CharacterFunctions::toLowerCase(b[j - 1])
                                 ? 0
                                 : 1;
            row[(size_t)j] = std::min({above + 1, row[(size_t)j - 1] + 1, diagonal + cost});
            diagonal = above;
        }
    }
    return row[(size_t)m];
}
} // namespace

juce::String ParameterAssignment::closestIds(juce::AudioProcessorValueTreeState& apvts,
                                             const juce::String& id)
{
    std::vector<std::pair<int, juce::String>> ranked;
    for (auto* p : apvts.processor.getParameters())
        if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*>(p))
            ranked.emplace_back(editDistance(id, ranged->getParameterID()),
                                ranged->getParameterID());
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    juce::StringArray names;
    for (size_t i = 0; i < std::min<size_t>(3, ranked.size()); ++i)
        names.add(ranked[i].second);
    return names.joinIntoString(", ");
}

juce::String ParameterAssignment::parse(juce::AudioProcessorValueTreeState& apvts,
                                        const juce::String& text, ParameterAssignment& result)
{
    if (!text.containsChar('='))
        return "expected ID=VALUE, got \"" + text + "\"";

    result.id = text.upToFirstOccurrenceOf("=", false, false).trim();
    const auto valueText = text.fromFirstOccurrenceOf("=", false, false).trim();

    auto* param = apvts.getParameter(result.id);
    if (param == nullptr)
        return "unknown parameter \"" + result.id + "\"; closest: " + closestIds(apvts, result.id);

    if (dynamic_cast<juce::AudioParameterBool*>(param) != nullptr)
    {
        const auto v = valueText.toLowerCase();
        if (v == "on" || v == "true" || v == "yes" || v == "1")
            result.value = 1.0f;
        else if (v == "off" || v == "false" || v == "no" || v == "0")
            result.value = 0.0f;
        else
            return result.id + " is a switch: use on or off, not \"" + valueText + "\"";
        return {};
    }

    if (auto* choice = dynamic_cast<juce::AudioParameterChoice*>(param))
    {
        const int byText = choice->choices.indexOf(valueText, true);
        double index = 0.0;
        if (byText >= 0)
            result.value = (float)byText;
        else if (RenderOptions::parseNumber(valueText, index) && index == std::floor(index) &&
                 index >= 0.0 && index < choice->choices.size())
            result.value = (float)index;
        else
            return result.id + " takes an index from 0 to " +
                   juce::String(choice->choices.size() - 1) +
                   " or one of: " + choice->choices.joinIntoString(", ") + "; got \"" + valueText +
                   "\"";
        return {};
    }

    const auto range = apvts.getParameterRange(result.id);
    double number = 0.0;
    if (!RenderOptions::parseNumber(valueText, number))
        return result.id + " needs a number from " + juce::String(range.start) + " to " +
               juce::String(range.end) + ", got \"" + valueText + "\"";
    if (number < range.start || number > range.end)
        return result.id + " must be between " + juce::String(range.start) + " and " +
               juce::String(range.end) + ", got " + valueText;
    result.value = (float)number;
    return {};
}

void ParameterAssignment::apply(juce::AudioProcessorValueTreeState& apvts) const
{
    if (auto* param = apvts.getParameter(id))
        param->setValueNotifyingHost(param->convertTo0to1(value));
}
