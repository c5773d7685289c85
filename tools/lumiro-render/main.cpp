// lumiro-render: runs the Lumiro Looper Station offline on a sound file or a
// built-in demo phrase and writes the result, as a host would process it.

#include <cmath>
#include <cstdio>
#include <iostream>
#include <unistd.h>

#include <juce_audio_formats/juce_audio_formats.h>

#include "DemoSignal.h"
#include "ParameterAssignment.h"
#include "RenderOptions.h"
#include "Renderer.h"
#include "WaveformPlot.h"

namespace
{
int fail(const juce::String& message, int code = 1)
{
    std::cerr << "lumiro-render: " << message << std::endl;
    return code;
}

// Writes through a hidden temporary file in the same folder and renames it at
// the end, so an interrupted or failed run never leaves half a file behind.
// `write` gets a fresh stream on the temporary file and takes it over.
bool writeAtomically(const juce::File& target,
                     const std::function<bool(std::unique_ptr<juce::FileOutputStream>)>& write)
{
    if (!target.getParentDirectory().isDirectory())
        return false;
    const auto temp =
        target.getSiblingFile("." + target.getFileName() + ".partial-" +
                              juce::String::toHexString(juce::Random::getSystemRandom().nextInt()));
    auto stream = std::make_unique<juce::FileOutputStream>(temp);
    bool ok = stream->openedOk() && write(std::move(stream));
    ok = ok && temp.moveFileTo(target);
    if (!ok)
        temp.deleteFile();
    return ok;
}

bool writeBytes(std::unique_ptr<juce::FileOutputStream> stream, const void* data, size_t size)
{
    const bool ok = stream->write(data, size);
    stream->flush();
    return ok && stream->getStatus().wasOk();
}

float peakOf(const juce::AudioBuffer<float>& b)
{
    float peak = 0.0f;
    for (int c = 0; c < b.getNumChannels(); ++c)
        peak = std::max(peak, b.getMagnitude(c, 0, b.getNumSamples()));
    return peak;
}

float rmsOf(const juce::AudioBuffer<float>& b)
{
    double sum = 0.0;
    for (int c = 0; c < b.getNumChannels(); ++c)
        for (int s = 0; s < b.getNumSamples(); ++s)
            sum += (double)b.getSample(c, s) * b.getSample(c, s);
    const double n = (double)b.getNumChannels() * b.getNumSamples();
    return n > 0 ? (float)std::sqrt(sum / n) : 0.0f;
}

juce::String dB(float level)
{
    return level > 0.0f ? juce::String(juce::Decibels::gainToDecibels(level, -200.0f), 1) + " dBFS"
                        : juce::String("-inf dBFS");
}

const char* stateName(LoopState s)
{
    switch (s)
    {
    case LoopState::Idle:
        return "Idle";
    case LoopState::Recording:
        return "Recording";
    case LoopState::Playing:
        return "Playing";
    case LoopState::Overdubbing:
        return "Overdubbing";
    case LoopState::Stopped:
        return "Stopped";
    }
    return "?";
}

int run(const juce::StringArray& args)
{
    RenderOptions options;
    if (const auto error = options.parse(args); error.isNotEmpty())
        return fail(error, 2);
    if (options.showHelp)
    {
        std::cout << RenderOptions::usage();
        return 0;
    }

    // The signal to process.
    juce::AudioBuffer<float> input;
    double fileRate = 48000.0;
    if (options.input != juce::File())
    {
        if (!options.input.existsAsFile())
            return fail("cannot read " + options.input.getFullPathName() + ": no such file");
        juce::AudioFormatManager formats;
        formats.registerBasicFormats();
        std::unique_ptr<juce::AudioFormatReader> reader(formats.createReaderFor(options.input));
        if (reader == nullptr)
            return fail("cannot read " + options.input.getFullPathName() +
                        ": not a WAV, AIFF or FLAC file this program can decode");
        if (reader->numChannels < 1 || reader->numChannels > 2)
            return fail(options.input.getFullPathName() + " has " +
                        juce::String(reader->numChannels) +
                        " channels; the station takes mono or stereo");
        if (reader->lengthInSamples > std::numeric_limits<int>::max() / 2)
            return fail(options.input.getFullPathName() + " is too long");
        if (!(reader->sampleRate > 0.0))
            return fail(options.input.getFullPathName() + " gives no sample rate");
        fileRate = reader->sampleRate;
        input.setSize((int)reader->numChannels, (int)reader->lengthInSamples);
        if (!reader->read(&input, 0, input.getNumSamples(), 0, true, true))
            return fail("cannot read the audio of " + options.input.getFullPathName());
    }
    const double rate = options.sampleRate > 0.0 ? options.sampleRate : fileRate;
    if (options.input == juce::File())
        input = DemoSignal::make(rate, options.demoSeconds, 2);

    const int channels = input.getNumChannels();
    const double tail = std::round(options.tailSeconds * rate);
    if ((double)input.getNumSamples() + tail > std::numeric_limits<int>::max() / 2)
        return fail("the render would be too long");

    LumiroLooperProcessor processor;
    if (channels == 1)
    {
        juce::AudioProcessor::BusesLayout mono;
        mono.inputBuses.add(juce::AudioChannelSet::mono());
        mono.outputBuses.add(juce::AudioChannelSet::mono());
        processor.setBusesLayout(mono);
    }

    if (options.stateIn != juce::File())
    {
        juce::MemoryBlock blob;
        if (!options.stateIn.loadFileAsData(blob))
            return fail("cannot read state " + options.stateIn.getFullPathName());
        processor.setStateInformation(blob.getData(), (int)blob.getSize());
    }

    for (const auto& text : options.assignments)
    {
        ParameterAssignment assignment;
        if (const auto error = ParameterAssignment::parse(processor.apvts, text, assignment);
            error.isNotEmpty())
            return fail(error, 2);
        assignment.apply(processor.apvts);
    }

    std::vector<Renderer::Action> actions;
    for (const auto& timed : options.actions)
    {
        Renderer::Action action;
        action.sample = (juce::int64)std::llround(timed.seconds * rate);
        action.command = timed.command;
        if (timed.command == RenderOptions::Command::none)
            if (const auto error = ParameterAssignment::parse(processor.apvts, timed.assignment,
                                                              action.assignment);
                error.isNotEmpty())
                return fail(error, 2);
        actions.push_back(action);
    }

    if (!options.output.getParentDirectory().isDirectory())
        return fail("cannot write " + options.output.getFullPathName() + ": no such folder");

    juce::AudioBuffer<float> audio(channels, input.getNumSamples() + (int)tail);
    audio.clear();
    for (int c = 0; c < channels; ++c)
        audio.copyFrom(c, 0, input, c, 0, input.getNumSamples());

    const bool showProgress = isatty(fileno(stderr)) && audio.getNumSamples() > rate * 20.0;
    Renderer renderer(processor, rate, options.blockSize, options.varyBlocks);
    renderer.setTiming(options.hasPlayHead, options.bpm, options.signature);
    renderer.render(audio, actions,
                    [&](double done)
                    {
                        if (!showProgress)
                            return;
                        const int width = 40, filled = (int)(done * width);
                        std::cerr << "\r[" << std::string((size_t)filled, '#')
                                  << std::string((size_t)(width - filled), '.') << "] "
                                  << (int)(done * 100) << "%" << std::flush;
                    });
    if (showProgress)
        std::cerr << std::endl;

    const bool wrote = writeAtomically(
        options.output,
        [&](std::unique_ptr<juce::FileOutputStream> stream)
        {
            juce::WavAudioFormat wav;
            std::unique_ptr<juce::AudioFormatWriter> writer(wav.createWriterFor(
                stream.get(), rate, (unsigned int)channels, options.floatOutput ? 32 : 24, {}, 0));
            if (writer == nullptr)
                return false;
            auto* file = stream.release(); // the writer owns the stream now
            const bool ok = writer->writeFromAudioSampleBuffer(audio, 0, audio.getNumSamples()) &&
                            writer->flush() && file->getStatus().wasOk();
            writer.reset();
            return ok;
        });
    if (!wrote)
        return fail("cannot write " + options.output.getFullPathName());

    if (options.stateOut != juce::File())
    {
        juce::MemoryBlock blob;
        processor.getStateInformation(blob);
        if (!writeAtomically(options.stateOut, [&](std::unique_ptr<juce::FileOutputStream> s)
                             { return writeBytes(std::move(s), blob.getData(), blob.getSize()); }))
            return fail("cannot write state " + options.stateOut.getFullPathName());
    }

    if (options.plot != juce::File())
    {
        const auto image = WaveformPlot::draw(input, audio, renderer.getStateTimeline());
        juce::PNGImageFormat png;
        if (!writeAtomically(options.plot,
                             [&](std::unique_ptr<juce::FileOutputStream> s)
                             {
                                 juce::MemoryOutputStream encoded;
                                 return png.writeImageToStream(image, encoded) &&
                                        writeBytes(std::move(s), encoded.getData(),
                                                   encoded.getDataSize());
                             }))
            return fail("cannot write plot " + options.plot.getFullPathName());
    }

    const double seconds = audio.getNumSamples() / rate;
    const double speed =
        renderer.getProcessingSeconds() > 0.0 ? seconds / renderer.getProcessingSeconds() : 0.0;
    std::cout << juce::String(seconds, 2) << " s at " << rate << " Hz, " << channels << " ch"
              << " | in peak " << dB(peakOf(input)) << ", rms " << dB(rmsOf(input))
              << " | out peak " << dB(peakOf(audio)) << ", rms " << dB(rmsOf(audio)) << " | loop "
              << stateName(processor.looper.getLoopState()) << ", "
              << processor.looper.getNumLayers() << " layers"
              << " | " << juce::String(speed, 0) << "x real time"
              << " -> " << options.output.getFullPathName() << std::endl;
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add(juce::String::fromUTF8(argv[i]));
    return run(args);
}
