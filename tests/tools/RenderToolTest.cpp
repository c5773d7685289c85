#include <gtest/gtest.h>

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_graphics/juce_graphics.h>

// lumiro-render run as a process, on files written by the test.
namespace
{
struct Run
{
    int exitCode = -1;
    juce::String output;
};

Run render(const juce::StringArray& args)
{
    juce::StringArray command{LUMIRO_RENDER};
    command.addArray(args);
    juce::ChildProcess process;
    Run run;
    if (!process.start(command))
        return run;
    run.output = process.readAllProcessOutput();
    process.waitForProcessToFinish(60000);
    run.exitCode = (int)process.getExitCode();
    return run;
}

class RenderTool : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        dir = juce::File::getSpecialLocation(juce::File::tempDirectory)
                  .getChildFile(
                      "lumiro-render-test-" +
                      juce::String::toHexString(juce::Random::getSystemRandom().nextInt64()));
        ASSERT_TRUE(dir.createDirectory());
    }
    void TearDown() override { dir.deleteRecursively(); }

    juce::String path(const juce::String& name) const
    {
        return dir.getChildFile(name).getFullPathName();
    }

    juce::String writeWav(const juce::String& name, const juce::AudioBuffer<float>& audio,
                          double rate) const
    {
        const auto file = dir.getChildFile(name);
        file.deleteFile();
        auto stream = std::make_unique<juce::FileOutputStream>(file);
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> writer(
            wav.createWriterFor(stream.get(), rate, (unsigned)audio.getNumChannels(), 32, {}, 0));
        stream.release();
        writer->writeFromAudioSampleBuffer(audio, 0, audio.getNumSamples());
        return file.getFullPathName();
    }

    struct Wav
    {
        juce::AudioBuffer<float> audio;
        double rate = 0.0;
    };

    Wav readWav(const juce::String& name) const
    {
        Wav w;
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatReader> reader(
            wav.createReaderFor(new juce::FileInputStream(dir.getChildFile(name)), true));
        if (reader == nullptr)
            return w;
        w.rate = reader->sampleRate;
        w.audio.setSize((int)reader->numChannels, (int)reader->lengthInSamples);
        reader->read(&w.audio, 0, w.audio.getNumSamples(), 0, true, true);
        return w;
    }

    // Everything in the folder but the files a test wrote itself.
    juce::StringArray filesBesides(const juce::StringArray& own) const
    {
        juce::StringArray names;
        for (const auto& f : dir.findChildFiles(juce::File::findFiles, false, "*"))
            if (!own.contains(f.getFileName()))
                names.add(f.getFileName());
        return names;
    }

    juce::File dir;
};

juce::AudioBuffer<float> impulses(int channels, int length, std::initializer_list<int> at)
{
    juce::AudioBuffer<float> b(channels, length);
    b.clear();
    for (int c = 0; c < channels; ++c)
        for (int s : at)
            b.setSample(c, s, 0.5f);
    return b;
}

// Positions of samples whose magnitude is above a threshold.
std::vector<int> peaks(const juce::AudioBuffer<float>& b, int channel, float threshold)
{
    std::vector<int> at;
    for (int s = 0; s < b.getNumSamples(); ++s)
        if (std::abs(b.getSample(channel, s)) > threshold)
            at.push_back(s);
    return at;
}
} // namespace

TEST_F(RenderTool, TheDemoRendersWithAPlot)
{
    const auto run = render({"-o", path("demo.wav"), "--seconds", "2", "--plot", path("demo.png"),
                             "--at", "0.2", "rec", "--at", "1.2", "rec"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(run.output.contains("loop Playing, 1 layers")) << run.output;
    const auto out = readWav("demo.wav");
    EXPECT_EQ(out.rate, 48000.0);
    EXPECT_EQ(out.audio.getNumChannels(), 2);
    EXPECT_EQ(out.audio.getNumSamples(), 96000);
    EXPECT_GT(out.audio.getRMSLevel(0, 0, 96000), 0.01f);
    const auto image = juce::ImageFileFormat::loadFrom(dir.getChildFile("demo.png"));
    EXPECT_TRUE(image.isValid());
}

TEST_F(RenderTool, AFileGivesAFileOfTheSameLengthAndChannels)
{
    struct Case
    {
        int channels;
        double rate;
        int length;
        const char* block;
    };
    for (const auto& c : {Case{1, 44100.0, 57331, "256"}, Case{2, 48000.0, 30001, "97"}})
    {
        SCOPED_TRACE(c.channels);
        juce::AudioBuffer<float> in(c.channels, c.length);
        for (int ch = 0; ch < c.channels; ++ch)
            for (int s = 0; s < c.length; ++s)
                in.setSample(ch, s, 0.3f * std::sin(0.01f * (float)s * (float)(ch + 1)));
        const auto input = writeWav("in.wav", in, c.rate);
        const auto run =
            render({input, "-o", path("out.wav"), "--block", c.block, "--vary-blocks"});
        ASSERT_EQ(run.exitCode, 0) << run.output;
        const auto out = readWav("out.wav");
        EXPECT_EQ(out.rate, c.rate);
        EXPECT_EQ(out.audio.getNumChannels(), c.channels);
        EXPECT_EQ(out.audio.getNumSamples(), c.length);
    }
}

TEST_F(RenderTool, AnImpulseThroughAFreshInstanceEchoesAt350ms)
{
    const auto input = writeWav("impulse.wav", impulses(2, 48000, {1000}), 48000.0);
    const auto run = render({input, "-o", path("out.wav"), "--float"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const auto out = readWav("out.wav");
    for (int c = 0; c < 2; ++c)
    {
        const auto at = peaks(out.audio, c, 1e-6f);
        ASSERT_EQ(at.size(), 3u);
        EXPECT_EQ(at[0], 1000);
        EXPECT_EQ(at[1], 1000 + 16800);
        EXPECT_EQ(at[2], 1000 + 2 * 16800);
        EXPECT_FLOAT_EQ(out.audio.getSample(c, 1000), 0.5f * 0.65f);
        EXPECT_FLOAT_EQ(out.audio.getSample(c, 1000 + 16800), 0.5f * 0.35f);
    }
}

TEST_F(RenderTool, TwoRecordPressesOneSecondApartLoopExactlyOneSecond)
{
    // One impulse inside the take; with the delay off it comes back every
    // 48000 samples under the (silent) input.
    const auto input = writeWav("in.wav", impulses(2, 177600, {28800}), 48000.0);
    const auto run = render({input, "-o", path("out.wav"), "--float", "--set", "dlOn=off",
                             "--block", "256", "--at", "0.5", "rec", "--at", "1.5", "rec"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(run.output.contains("loop Playing, 1 layers")) << run.output;
    const auto out = readWav("out.wav");
    const std::vector<int> expected{28800, 28800 + 48000, 28800 + 96000, 28800 + 144000};
    EXPECT_EQ(peaks(out.audio, 0, 1e-6f), expected);
    EXPECT_EQ(peaks(out.audio, 1, 1e-6f), expected);
}

TEST_F(RenderTool, StateWrittenByOneRunIsRestoredByTheNext)
{
    auto run = render({"-o", path("a.wav"), "--seconds", "0.1", "--set", "dlTime=500", "--set",
                       "fzPreset=Underwater", "--state-out", path("state.bin")});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    run = render({"-o", path("b.wav"), "--seconds", "0.1", "--state-in", path("state.bin"),
                  "--state-out", path("state2.bin")});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    juce::MemoryBlock first, second;
    dir.getChildFile("state.bin").loadFileAsData(first);
    dir.getChildFile("state2.bin").loadFileAsData(second);
    EXPECT_EQ(first, second);
    const auto text = juce::String::fromUTF8(static_cast<const char*>(first.getData()) + 8);
    EXPECT_TRUE(text.contains("<PARAM id=\"dlTime\" value=\"500.0\"/>")) << text;
}

TEST_F(RenderTool, BadInputGivesAMessageAnExitCodeAndNoOutput)
{
    const auto good = writeWav("good.wav", impulses(1, 4800, {10}), 48000.0);
    dir.getChildFile("junk.wav").replaceWithText("this is not audio");
    struct Case
    {
        juce::StringArray args;
        juce::String message;
    };
    const Case cases[] = {
        {{good, "--set", "dlTim=300"}, "closest: dlTime"},
        {{good, "--set", "dlTime=5000"}, "between 20 and 2000"},
        {{good, "--set", "dlMode=Granular"}, "Digital, Analog, Tape, Reverse"},
        {{good, "--set", "dlOn=maybe"}, "on or off"},
        {{good, "--at", "1", "octGat=-30"}, "closest: octGate"},
        {{path("missing.wav")}, "no such file"},
        {{path("junk.wav")}, "cannot read"},
        {{good, "--at", "-1", "rec"}, "time"},
        {{good, "--at", "soon", "rec"}, "time"},
        {{good, "--at", "1", "jump"}, "rec, stop, undo, clear"},
        {{good, "--rate", "0"}, "sample rate"},
        {{good, "--rate", "-44100"}, "sample rate"},
        {{good, "--block", "0"}, "block size"},
        {{good, "--block", "-5"}, "block size"},
        {{good, "--bpm", "0"}, "tempo"},
        {{good, "--state-in", path("missing.bin")}, "cannot read state"},
        {{good, "--frobnicate"}, "unknown option"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.args.joinIntoString(" "));
        auto args = c.args;
        args.addArray({"-o", path("out.wav")});
        const auto run = render(args);
        EXPECT_NE(run.exitCode, 0);
        EXPECT_TRUE(run.output.contains(c.message)) << run.output;
        EXPECT_EQ(filesBesides({"good.wav", "junk.wav"}).joinIntoString(","), "");
    }
}

TEST_F(RenderTool, AMissingOutputFolderLeavesNothingBehind)
{
    const auto good = writeWav("good.wav", impulses(1, 4800, {10}), 48000.0);
    const auto run = render({good, "-o", path("nowhere/out.wav")});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.output.contains("cannot write")) << run.output;
    EXPECT_EQ(filesBesides({"good.wav"}).joinIntoString(","), "");
}
