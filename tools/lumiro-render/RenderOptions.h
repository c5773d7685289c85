#pragma once

#include <juce_core/juce_core.h>

#include <optional>
#include <vector>

// What the command line asks for. Parameter assignments stay as text here;
// they are checked against the processor's parameters before rendering.
struct RenderOptions
{
    enum class Command
    {
        none,
        rec,
        stop,
        undo,
        clear
    };

    struct TimedAction
    {
        double seconds = 0.0;
        Command command = Command::none; // none: a parameter change
        juce::String assignment;         // "ID=VALUE" when command is none
    };

    juce::File input; // none: the built-in demo
    juce::File output;
    double sampleRate = 0.0; // 0: the file's rate, or 48000 for the demo
    int blockSize = 256;
    bool varyBlocks = false;
    bool hasPlayHead = true;
    std::optional<double> bpm = 120.0; // none: the play head gives no tempo
    std::optional<std::pair<int, int>> signature = std::make_pair(4, 4);
    double demoSeconds = 6.0;
    double tailSeconds = 0.0;
    juce::StringArray assignments;
    std::vector<TimedAction> actions;
    juce::File stateIn, stateOut, plot;
    bool floatOutput = false;
    bool showHelp = false;

    // Returns an empty string on success, else a message for the user.
    juce::String parse(const juce::StringArray& args);

    static juce::String usage();

    // A finite decimal number and nothing else.
    static bool parseNumber(const juce::String& text, double& out);
};
