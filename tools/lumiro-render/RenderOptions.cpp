#include "RenderOptions.h"

#include <cmath>

namespace
{
juce::File resolve(const juce::String& path)
{
    return juce::File::getCurrentWorkingDirectory().getChildFile(path);
}

bool parseInt(const juce::String& text, int& out)
{
    const auto t = text.trim();
    if (t.isEmpty() || !t.containsOnly("0123456789-+") || t.length() > 9)
        return false;
    out = t.getIntValue();
    return true;
}
} // namespace

bool RenderOptions::parseNumber(const juce::String& text, double& out)
{
    const auto t = text.trim();
    if (t.isEmpty() || !t.containsOnly("0123456789.-+eE"))
        return false;
    out = t.getDoubleValue();
    return std::isfinite(out);
}

juce::String RenderOptions::usage()
{
    return R"(usage: lumiro-render [options] [INPUT]

Runs the Lumiro Looper Station offline on INPUT (WAV, AIFF or FLAC, mono or
stereo) or, without INPUT, on a built-in sung demo phrase, and writes a WAV.

  -o, --output FILE       output WAV (default: lumiro-demo.wav, or INPUT-lumiro.wav)
  --rate HZ               host sample rate (default: the file's, 48000 for the demo;
                          a file is not resampled)
  --block N               block size (default 256)
  --vary-blocks           vary the block size at random between 1 and 2N-1
  --bpm X|none            host tempo (default 120)
  --sig N/D|none          host time signature (default 4/4)
  --no-playhead           the host gives no play head at all
  --seconds S             length of the demo (default 6)
  --tail S                render S seconds of silence after the input (default 0)
  --set ID=VALUE          set a parameter before rendering: the real value in its
                          range (dlTime in ms), a choice's index or text, on/off
  --at SECONDS ID=VALUE   change a parameter at a time
  --at SECONDS rec|stop|undo|clear
                          press a looper button at a time
  --state-in FILE         restore a saved state before rendering
  --state-out FILE        write the state after rendering
  --plot FILE.png         draw input, output and the loop state
  --float                 write 32-bit float (default 24-bit)
  -h, --help              this text
)";
}

juce::String RenderOptions::parse(const juce::StringArray& args)
{
    bool hasInput = false;
    bool hasOutput = false;

    for (int i = 0; i < args.size(); ++i)
    {
        const auto& a = args[i];
        auto next = [&](juce::String& value) -> bool
        {
            if (i + 1 >= args.size())
                return false;
            value = args[++i];
            return true;
        };
        juce::String v;

        if (a == "-h" || a == "--help")
        {
            showHelp = true;
        }
        else if (a == "-o" || a == "--output")
        {
            if (!next(v))
                return a + " needs a file name";
            output = resolve(v);
            hasOutput = true;
        }
        else if (a == "--rate")
        {
            if (!next(v) || !parseNumber(v, sampleRate) || sampleRate <= 0.0)
                return "--rate needs a sample rate above 0, got \"" + v + "\"";
        }
        else if (a == "--block")
        {
            if (!next(v) || !parseInt(v, blockSize) || blockSize <= 0)
                return "--block needs a block size of at least 1, got \"" + v + "\"";
        }
        else if (a == "--vary-blocks")
        {
            varyBlocks = true;
        }
        else if (a == "--bpm")
        {
            if (!next(v))
                return "--bpm needs a tempo or none";
            double x = 0.0;
            if (v == "none")
                bpm.reset();
            else if (parseNumber(v, x) && x > 0.0)
                bpm = x;
            else
                return "--bpm needs a tempo above 0 or none, got \"" + v + "\"";
        }
        else if (a == "--sig")
        {
            if (!next(v))
                return "--sig needs N/D or none";
            int n = 0, d = 0;
            if (v == "none")
                signature.reset();
            else if (parseInt(v.upToFirstOccurrenceOf("/", false, false), n) &&
                     parseInt(v.fromFirstOccurrenceOf("/", false, false), d) && n > 0 && d > 0)
                signature = std::make_pair(n, d);
            else
                return "--sig needs a signature such as 3/4, or none, got \"" + v + "\"";
        }
        else if (a == "--no-playhead")
        {
            hasPlayHead = false;
        }
        else if (a == "--seconds" || a == "--tail")
        {
            double x = 0.0;
            if (!next(v) || !parseNumber(v, x) || x < 0.0 || x > 3600.0)
                return a + " needs a length in seconds from 0 to 3600, got \"" + v + "\"";
            (a == "--seconds" ? demoSeconds : tailSeconds) = x;
        }
        else if (a == "--set")
        {
            if (!next(v))
                return "--set needs ID=VALUE";
            assignments.add(v);
        }
        else if (a == "--at")
        {
            juce::String when, what;
            if (!next(when) || !next(what))
                return "--at needs a time in seconds and an action";
            TimedAction action;
            if (!parseNumber(when, action.seconds) || action.seconds < 0.0)
                return "--at needs a time of 0 seconds or more, got \"" + when + "\"";
            if (what == "rec")
                action.command = Command::rec;
            else if (what == "stop")
                action.command = Command::stop;
            else if (what == "undo")
                action.command = Command::undo;
            else if (what == "clear")
                action.command = Command::clear;
            else if (what.containsChar('='))
                action.assignment = what;
            else
                return "--at " + when + " needs rec, stop, undo, clear or ID=VALUE, got \"" + what +
                       "\"";
            actions.push_back(action);
        }
        else if (a == "--state-in" || a == "--state-out" || a == "--plot")
        {
            if (!next(v))
                return a + " needs a file name";
            (a == "--state-in" ? stateIn : a == "--state-out" ? stateOut : plot) = resolve(v);
        }
        else if (a == "--float")
        {
            floatOutput = true;
        }
        else if (a.startsWith("-") && a.length() > 1)
        {
            return "unknown option \"" + a + "\" (see --help)";
        }
        else
        {
            if (hasInput)
                return "only one input file, got \"" + input.getFullPathName() + "\" and \"" + a +
                       "\"";
            input = resolve(a);
            hasInput = true;
        }
    }

    if (!hasOutput)
        output = hasInput ? juce::File::getCurrentWorkingDirectory().getChildFile(
                                input.getFileNameWithoutExtension() + "-lumiro.wav")
                          : resolve("lumiro-demo.wav");

    std::stable_sort(actions.begin(), actions.end(),
                     [](const TimedAction& x, const TimedAction& y)
                     { return x.seconds < y.seconds; });
    return {};
}
