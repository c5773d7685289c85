#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "looper/Looper.h"

namespace
{
using Output = std::vector<std::vector<float>>;
using Input = std::function<float(int channel, int n)>;

float silence(int, int)
{
    return 0.0f;
}

// Distinct whole numbers per sample and channel, exact in float up to a minute at 48 kHz.
float ramp(int c, int n)
{
    return static_cast<float>(n + 1 + 100000 * c);
}

float other(int c, int n)
{
    return 0.5f * static_cast<float>(n % 7) - static_cast<float>(c) - 3.0f;
}

float third(int c, int n)
{
    return 1000.0f * static_cast<float>(c + 1) + 0.25f * static_cast<float>(n % 5);
}

// Runs numSamples samples through the looper in blocks of blockSize. Input
// sample n (counted from the start of this call) of channel c is input(c, n).
Output runLooper(Looper& looper, int numChannels, int numSamples, const Input& input,
                 int blockSize = 64)
{
    Output out(static_cast<size_t>(numChannels),
               std::vector<float>(static_cast<size_t>(numSamples)));
    juce::AudioBuffer<float> buffer(numChannels, blockSize);

    for (int start = 0; start < numSamples; start += blockSize)
    {
        const int n = std::min(blockSize, numSamples - start);
        buffer.setSize(numChannels, n, false, false, true);
        for (int c = 0; c < numChannels; ++c)
            for (int s = 0; s < n; ++s)
                buffer.setSample(c, s, input(c, start + s));

        looper.process(buffer);

        for (int c = 0; c < numChannels; ++c)
            for (int s = 0; s < n; ++s)
                out[static_cast<size_t>(c)][static_cast<size_t>(start + s)] =
                    buffer.getSample(c, s);
    }
    return out;
}

// Compares every sample exactly and reports the first difference.
::testing::AssertionResult matches(const Output& out, const Input& expected)
{
    for (size_t c = 0; c < out.size(); ++c)
        for (size_t n = 0; n < out[c].size(); ++n)
        {
            const float want = expected(static_cast<int>(c), static_cast<int>(n));
            if (out[c][n] != want)
                return ::testing::AssertionFailure() << "channel " << c << ", sample " << n << ": "
                                                     << out[c][n] << " instead of " << want;
        }
    return ::testing::AssertionSuccess();
}

class LooperTest : public ::testing::Test
{
  protected:
    static constexpr double rate = 1000.0; // a minute is 60000 samples
    static constexpr int channels = 2;

    void SetUp() override { looper.prepare(rate, channels); }

    Output feed(int numSamples, const Input& input = silence, int blockSize = 64)
    {
        return runLooper(looper, channels, numSamples, input, blockSize);
    }

    // R, S, U, C press record, stop, undo, clear; '.' feeds 100 samples of ramp.
    void play(const std::string& steps)
    {
        for (const char step : steps)
        {
            if (step == 'R')
                looper.recordPressed();
            else if (step == 'S')
                looper.stopPressed();
            else if (step == 'U')
                looper.undo();
            else if (step == 'C')
                looper.clear();
            else
                feed(100, ramp);
        }
    }

    // A first layer of 100 ramp samples, playing from position 0.
    void recordTake()
    {
        looper.recordPressed();
        feed(100, ramp);
        looper.recordPressed();
    }

    Looper looper;
};

TEST_F(LooperTest, TransportCommandsFollowTheStateTable)
{
    struct Case
    {
        const char* from;
        const char* setup;
        char command;
        LoopState state;
        int layers;
    };
    const Case cases[] = {
        {"Idle", "", 'R', LoopState::Recording, 0},
        {"Idle", "", 'S', LoopState::Stopped, 0},
        {"Idle", "", 'U', LoopState::Idle, 0},
        {"Idle", "", 'C', LoopState::Idle, 0},
        {"Recording", "R.", 'R', LoopState::Playing, 1},
        {"Recording", "R.", 'S', LoopState::Stopped, 0},
        {"Recording", "R.", 'U', LoopState::Recording, 0},
        {"Recording", "R.", 'C', LoopState::Idle, 0},
        {"Playing", "R.R.", 'R', LoopState::Overdubbing, 1},
        {"Playing", "R.R.", 'S', LoopState::Stopped, 1},
        {"Playing", "R.R.", 'U', LoopState::Idle, 0},
        {"Playing", "R.R.", 'C', LoopState::Idle, 0},
        {"Overdubbing", "R.R.R.", 'R', LoopState::Playing, 2},
        {"Overdubbing", "R.R.R.", 'S', LoopState::Stopped, 2},
        {"Overdubbing", "R.R.R.", 'U', LoopState::Idle, 0},
        {"Overdubbing", "R.R.R.", 'C', LoopState::Idle, 0},
        {"Stopped", "R.R.S.", 'R', LoopState::Playing, 1},
        {"Stopped", "R.R.S.", 'S', LoopState::Stopped, 1},
        {"Stopped", "R.R.S.", 'U', LoopState::Idle, 0},
        {"Stopped", "R.R.S.", 'C', LoopState::Idle, 0},
        {"Playing, two layers", "R.R.R.R.", 'U', LoopState::Playing, 1},
        {"Overdubbing, two layers", "R.R.R.R.R.", 'U', LoopState::Overdubbing, 1},
        {"Stopped, two layers", "R.R.R.R.S", 'U', LoopState::Stopped, 1},
        {"Stopped from Idle", "S.", 'R', LoopState::Playing, 0},
        {"Stopped with the take dropped", "R.S.", 'R', LoopState::Playing, 0},
        {"Stopped with the take dropped", "R.S.", 'C', LoopState::Idle, 0},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::string(c.from) + " + " + c.command);
        looper.prepare(rate, channels);
        play(c.setup);
        play(std::string(1, c.command));
        EXPECT_EQ(looper.getLoopState(), c.state);
        EXPECT_EQ(looper.getNumLayers(), c.layers);
    }
}

TEST_F(LooperTest, RecordingPassesInputAndKeepsTheFirstMinute)
{
    looper.recordPressed();
    EXPECT_TRUE(matches(feed(61000, ramp, 512), ramp));

    looper.recordPressed();
    EXPECT_TRUE(
        matches(feed(60010, silence, 512), [](int c, int n) { return ramp(c, n % 60000); }));
}

TEST_F(LooperTest, LayersAddToTheLiveInput)
{
    recordTake();
    looper.recordPressed();
    // The open pass is not heard; the first layer is.
    EXPECT_TRUE(
        matches(feed(100, other), [](int c, int n) { return (0.0f + ramp(c, n)) + other(c, n); }));
    looper.recordPressed();
    ASSERT_EQ(looper.getNumLayers(), 2);

    // Blocks of 37 cross the loop end mid-block.
    EXPECT_TRUE(matches(feed(250, third, 37),
                        [](int c, int n)
                        {
                            const int p = n % 100;
                            return (0.0f + ramp(c, p) + other(c, p)) + third(c, n);
                        }));
}

TEST_F(LooperTest, OverdubOverTwoCyclesBecomesOneLayer)
{
    recordTake();
    looper.recordPressed();
    EXPECT_TRUE(matches(feed(200, other),
                        [](int c, int n) { return (0.0f + ramp(c, n % 100)) + other(c, n); }));
    looper.recordPressed();
    ASSERT_EQ(looper.getNumLayers(), 2);

    EXPECT_TRUE(matches(feed(100),
                        [](int c, int p)
                        {
                            const float pass = 0.0f + other(c, p) + other(c, p + 100);
                            return (0.0f + ramp(c, p) + pass) + 0.0f;
                        }));
}

TEST_F(LooperTest, PositionWrapsMidBlockWithoutAGap)
{
    for (const int blockSize : {64, 7, 100, 1000})
    {
        SCOPED_TRACE(blockSize);
        looper.prepare(rate, channels);
        recordTake();
        EXPECT_TRUE(
            matches(feed(1050, silence, blockSize), [](int c, int n) { return ramp(c, n % 100); }));
    }
}

TEST_F(LooperTest, StoppedHoldsThePositionAndRecordResumesThere)
{
    recordTake();
    feed(30);
    looper.stopPressed();
    EXPECT_TRUE(matches(feed(50, other), other));

    looper.recordPressed();
    EXPECT_EQ(looper.getLoopState(), LoopState::Playing);
    EXPECT_TRUE(matches(feed(10), [](int c, int n) { return ramp(c, 30 + n); }));
}

TEST_F(LooperTest, PlayingWithoutLayersPassesTheInput)
{
    play("SR");
    ASSERT_EQ(looper.getLoopState(), LoopState::Playing);
    EXPECT_TRUE(matches(feed(300, other), other));

    play("C");
    EXPECT_EQ(looper.getLoopState(), LoopState::Idle);
    EXPECT_TRUE(matches(feed(10, other), other));
}

TEST_F(LooperTest, ChannelsBeyondThePreparedOnesAreNeverTouched)
{
    looper.prepare(rate, 1);
    auto feedTwo = [this](const Input& input) { return runLooper(looper, 2, 150, input); };
    auto second = [](const Output& out) { return Output{out[1]}; };
    auto secondOfOther = [](int, int n) { return other(1, n); };

    EXPECT_TRUE(matches(second(feedTwo(other)), secondOfOther)); // Idle
    looper.recordPressed();
    EXPECT_TRUE(matches(second(feedTwo(other)), secondOfOther)); // Recording
    looper.recordPressed();
    const auto playing = feedTwo(other);
    EXPECT_TRUE(matches(second(playing), secondOfOther));
    EXPECT_EQ(playing[0][0], (0.0f + other(0, 0)) + other(0, 0)); // the loop plays on channel 0
    looper.recordPressed();
    EXPECT_TRUE(matches(second(feedTwo(other)), secondOfOther)); // Overdubbing
    looper.stopPressed();
    EXPECT_TRUE(matches(second(feedTwo(other)), secondOfOther)); // Stopped
}

TEST_F(LooperTest, PrepareDiscardsTheLoop)
{
    play("R.R.R.R.R.");
    ASSERT_EQ(looper.getLoopState(), LoopState::Overdubbing);
    ASSERT_EQ(looper.getNumLayers(), 2);

    looper.prepare(48000.0, channels);
    EXPECT_EQ(looper.getLoopState(), LoopState::Idle);
    EXPECT_EQ(looper.getNumLayers(), 0);
    EXPECT_TRUE(matches(feed(300, other), other));

    // The next take is measured afresh.
    looper.recordPressed();
    feed(10, ramp);
    looper.recordPressed();
    EXPECT_TRUE(matches(feed(25), [](int c, int n) { return ramp(c, n % 10); }));
}

TEST_F(LooperTest, UndoingTheOnlyLayerLetsTheNextTakeSetTheLength)
{
    recordTake();
    looper.undo();
    EXPECT_EQ(looper.getLoopState(), LoopState::Idle);
    EXPECT_EQ(looper.getNumLayers(), 0);
    EXPECT_TRUE(matches(feed(150, other), other));

    looper.recordPressed();
    EXPECT_EQ(looper.getLoopState(), LoopState::Recording);
    feed(40, ramp);
    looper.recordPressed();
    EXPECT_TRUE(matches(feed(100), [](int c, int n) { return ramp(c, n % 40); }));
}

TEST_F(LooperTest, UndoWhileOverdubbingKeepsThePassGoing)
{
    recordTake();
    play("R");
    feed(100, other);
    play("R"); // second layer: one cycle of other
    play("R");
    feed(50, third);
    looper.undo();
    EXPECT_EQ(looper.getLoopState(), LoopState::Overdubbing);
    EXPECT_EQ(looper.getNumLayers(), 1);

    // Only the first layer is heard now; the pass keeps recording.
    EXPECT_TRUE(matches(feed(50, [](int c, int n) { return third(c, n + 50); }),
                        [](int c, int n) { return (0.0f + ramp(c, n + 50)) + third(c, n + 50); }));
    looper.recordPressed();
    EXPECT_EQ(looper.getNumLayers(), 2);
    EXPECT_TRUE(matches(feed(100), [](int c, int p)
                        { return (0.0f + ramp(c, p) + (0.0f + third(c, p))) + 0.0f; }));
}

TEST_F(LooperTest, ShortOverdubIsSilentWhereItDidNotPlay)
{
    recordTake();
    feed(20);
    looper.recordPressed();
    feed(30, other); // loop positions 20 to 49
    looper.recordPressed();

    // Playback resumes at position 50.
    EXPECT_TRUE(matches(feed(100),
                        [](int c, int n)
                        {
                            const int p = (n + 50) % 100;
                            const float pass = p >= 20 && p < 50 ? 0.0f + other(c, p - 20) : 0.0f;
                            return (0.0f + ramp(c, p) + pass) + 0.0f;
                        }));
}

TEST_F(LooperTest, StopWhileOverdubbingKeepsThePass)
{
    recordTake();
    looper.recordPressed();
    feed(100, other);
    looper.stopPressed();
    EXPECT_EQ(looper.getLoopState(), LoopState::Stopped);
    EXPECT_EQ(looper.getNumLayers(), 2);
    EXPECT_TRUE(matches(feed(70, third), third));

    looper.recordPressed();
    EXPECT_TRUE(matches(feed(100), [](int c, int p)
                        { return (0.0f + ramp(c, p) + (0.0f + other(c, p))) + 0.0f; }));
}

TEST_F(LooperTest, ClearStartsTheNextTakeFromItsFirstSample)
{
    looper.recordPressed();
    feed(50, other);
    looper.clear();
    EXPECT_EQ(looper.getLoopState(), LoopState::Idle);

    looper.recordPressed();
    feed(20, ramp);
    looper.recordPressed();
    EXPECT_TRUE(matches(feed(45), [](int c, int n) { return ramp(c, n % 20); }));
}

// Plays a marker through a one-sample overdub and counts the samples until
// it comes round again: the loop length, whatever the loop holds.
int measuredLoopLength(Looper& looper, int limit)
{
    constexpr float marker = 1.0e9f;
    looper.recordPressed();
    runLooper(looper, 1, 1, [](int, int) { return marker; });
    looper.recordPressed();

    const auto out = runLooper(looper, 1, limit, silence, 8192);
    const auto hit =
        std::find_if(out[0].begin(), out[0].end(), [](float v) { return v >= marker * 0.5f; });
    return hit == out[0].end() ? -1 : static_cast<int>(hit - out[0].begin()) + 1;
}

TEST(LooperLoopLength, FollowsTheTakeOrWholeBars)
{
    struct Case
    {
        const char* name;
        double rate;
        HostTiming timing;
        int barsIndex;
        bool sync;
        int take;
        int length;
    };
    const Case cases[] = {
        {"Nearest rounds 1.5625 bars up", 48000, {120.0, 4, 4}, 0, true, 150000, 192000},
        {"Nearest cuts the end of 1.04 bars", 48000, {120.0, 4, 4}, 0, true, 100000, 96000},
        {"Nearest takes a half up", 48000, {120.0, 4, 4}, 0, true, 144000, 192000},
        {"Nearest gives an empty take one bar", 48000, {120.0, 4, 4}, 0, true, 0, 96000},
        {"Nearest never goes below one bar", 48000, {120.0, 4, 4}, 0, true, 20000, 96000},
        {"4 Bars of 3/4 at 90 bpm", 44100, {90.0, 3, 4}, 3, true, 1000, 352800},
        {"1 Bar of 6/8 at 120 bpm", 44100, {120.0, 6, 8}, 1, true, 1000, 66150},
        {"2 Bars at 120 bpm", 48000, {120.0, 4, 4}, 2, true, 1000, 192000},
        {"8 Bars at 30 bpm cut to a minute", 48000, {30.0, 4, 4}, 4, true, 1000, 2880000},
        {"an unknown choice is one bar", 48000, {120.0, 4, 4}, 7, true, 1000, 96000},
        {"sync off keeps the take", 48000, {120.0, 4, 4}, 3, false, 150000, 150000},
        {"sync off makes an empty take one sample", 48000, {120.0, 4, 4}, 0, false, 0, 1},
        {"a bar of under one sample means no sync", 48000, {1.0e9, 4, 4}, 3, true, 500, 500},
        {"a tempo of 0 means no sync", 48000, {0.0, 4, 4}, 3, true, 500, 500},
        {"a note value of 0 means no sync", 48000, {120.0, 4, 0}, 3, true, 500, 500},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Looper looper;
        looper.prepare(c.rate, 1);
        looper.updateParameters(c.timing, c.barsIndex, c.sync);
        looper.recordPressed();
        runLooper(looper, 1, c.take, ramp, 4096);
        looper.recordPressed();
        ASSERT_EQ(looper.getLoopState(), LoopState::Playing);

        // The take up to the loop length, then silence where the loop is longer.
        const int length = c.length;
        const int take = c.take;
        EXPECT_TRUE(matches(runLooper(looper, 1, length + 10, silence, 4096),
                            [=](int, int n)
                            {
                                const int p = n % length;
                                return p < take ? ramp(0, p) : 0.0f;
                            }));
        EXPECT_EQ(measuredLoopLength(looper, length + 10), length);
    }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LOOPER_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define LOOPER_UNDER_SANITIZER 1
#endif
#endif

// Lets the process map only `headroom` more bytes while it lives.
class AddressSpaceLimit
{
  public:
    explicit AddressSpaceLimit(size_t headroom)
    {
        getrlimit(RLIMIT_AS, &saved);
        size_t pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        rlimit limited = saved;
        limited.rlim_cur = pages * static_cast<size_t>(sysconf(_SC_PAGESIZE)) + headroom;
        setrlimit(RLIMIT_AS, &limited);
    }

    ~AddressSpaceLimit() { setrlimit(RLIMIT_AS, &saved); }

  private:
    rlimit saved{};
};

TEST(LooperMemory, CommandsThatFindNoMemoryLeaveTheLoopAsItWas)
{
#ifdef LOOPER_UNDER_SANITIZER
    GTEST_SKIP() << "sanitizers reserve address space of their own";
#else
    // Four channels of a minute are 46 MB, beyond what the limit below allows.
    Looper looper;
    looper.prepare(48000.0, 4);
    looper.updateParameters({30.0, 4, 4}, 4, true); // a one-minute loop
    looper.recordPressed();
    runLooper(looper, 4, 1000, ramp, 512);

    {
        const AddressSpaceLimit limit(8 << 20);
        looper.recordPressed(); // closing the take needs a 46 MB layer
    }
    EXPECT_EQ(looper.getLoopState(), LoopState::Recording);
    EXPECT_EQ(looper.getNumLayers(), 0);

    // The take goes on and closes once memory is there again.
    EXPECT_TRUE(matches(runLooper(looper, 4, 100, [](int c, int n) { return ramp(c, n + 1000); }),
                        [](int c, int n) { return ramp(c, n + 1000); }));
    looper.recordPressed();
    EXPECT_EQ(looper.getLoopState(), LoopState::Playing);
    EXPECT_EQ(looper.getNumLayers(), 1);
    EXPECT_TRUE(matches(runLooper(looper, 4, 1200, silence, 512),
                        [](int c, int n) { return n < 1100 ? ramp(c, n) : 0.0f; }));

    {
        const AddressSpaceLimit limit(8 << 20);
        looper.recordPressed(); // an overdub pass needs 46 MB
    }
    EXPECT_EQ(looper.getLoopState(), LoopState::Playing);
    EXPECT_EQ(looper.getNumLayers(), 1);
    // Playback went on from position 1200 untouched.
    EXPECT_TRUE(matches(runLooper(looper, 4, 100, other, 64),
                        [](int c, int n) { return (0.0f + 0.0f) + other(c, n); }));
#endif
}

// ---------------------------------------------------------------------------
// Audio thread against commands.
//
// A plain single-threaded model of the looper replays the run afterwards. Each
// command may take effect at any block boundary between the moment it was
// issued and the moment it returned; a take may close at the length it had at
// any boundary in that span up to where the loop starts playing. Every block
// the audio thread produced must equal the model's block for some such choice
// of boundaries, so a block that saw half a command cannot match.

enum class Command
{
    record,
    stop,
    undo,
    clear
};

// At 240 bpm in 4/4 a bar is 1000 samples, some 16 blocks: passes often run
// past a whole cycle, so a pass missing from a block would be heard.
constexpr double threadRate = 1000.0;

struct LoopModel
{
    using Layer = std::shared_ptr<const Output>;

    double sampleRate = threadRate;
    HostTiming timing;
    int maxLoopSamples = static_cast<int>(threadRate * 60.0);
    int numChannels = 2;

    LoopState state = LoopState::Idle;
    int loopLength = 0;
    int playPosition = 0;
    Output take; // only while Recording
    Output pass; // only while Overdubbing
    std::vector<Layer> layers;

    int recordPosition() const { return static_cast<int>(take[0].size()); }

    int lengthFor(int r) const
    {
        const double bar =
            timing.numerator * (60.0 / timing.bpm) * (4.0 / timing.denominator) * sampleRate;
        const double n = std::max(std::round(r / bar), 1.0);
        const double l = std::round(bar * n);
        return l <= 0.0 ? 1 : static_cast<int>(std::min(l, static_cast<double>(maxLoopSamples)));
    }

    void closePass(LoopState next)
    {
        layers.push_back(std::make_shared<const Output>(pass));
        pass.clear();
        state = next;
    }

    void apply(Command command, int taken)
    {
        switch (command)
        {
        case Command::record:
            if (state == LoopState::Idle)
            {
                take.assign(static_cast<size_t>(numChannels), {});
                state = LoopState::Recording;
            }
            else if (state == LoopState::Recording)
            {
                loopLength = lengthFor(taken);
                Output layer(static_cast<size_t>(numChannels),
                             std::vector<float>(static_cast<size_t>(loopLength), 0.0f));
                for (size_t c = 0; c < layer.size(); ++c)
                    std::copy_n(take[c].begin(), std::min(taken, loopLength), layer[c].begin());
                layers.push_back(std::make_shared<const Output>(std::move(layer)));
                take.clear();
                playPosition = 0;
                state = LoopState::Playing;
            }
            else if (state == LoopState::Playing)
            {
                pass.assign(static_cast<size_t>(numChannels),
                            std::vector<float>(static_cast<size_t>(loopLength), 0.0f));
                state = LoopState::Overdubbing;
            }
            else if (state == LoopState::Overdubbing)
                closePass(LoopState::Playing);
            else
                state = LoopState::Playing;
            break;
        case Command::stop:
            if (state == LoopState::Overdubbing)
                closePass(LoopState::Stopped);
            take.clear();
            state = LoopState::Stopped;
            break;
        case Command::undo:
            if (layers.empty())
                break;
            layers.pop_back();
            if (layers.empty())
            {
                pass.clear();
                loopLength = 0;
                playPosition = 0;
                state = LoopState::Idle;
            }
            break;
        case Command::clear:
            layers.clear();
            take.clear();
            pass.clear();
            loopLength = 0;
            playPosition = 0;
            state = LoopState::Idle;
            break;
        }
    }

    void block(const Output& in, Output& out)
    {
        const int numSamples = static_cast<int>(in[0].size());
        out = in;
        if (state == LoopState::Recording)
        {
            for (int s = 0; s < numSamples && recordPosition() < maxLoopSamples; ++s)
                for (size_t c = 0; c < take.size(); ++c)
                    take[c].push_back(in[c][static_cast<size_t>(s)]);
            return;
        }
        if ((state != LoopState::Playing && state != LoopState::Overdubbing) || loopLength <= 0)
            return;

        for (int s = 0; s < numSamples; ++s)
        {
            const auto p = static_cast<size_t>(playPosition);
            for (size_t c = 0; c < in.size(); ++c)
            {
                float sum = 0.0f;
                for (const auto& layer : layers)
                    sum += (*layer)[c][p];
                const float x = in[c][static_cast<size_t>(s)];
                if (state == LoopState::Overdubbing)
                    pass[c][p] += x;
                out[c][static_cast<size_t>(s)] = sum + x;
            }
            playPosition = playPosition + 1 < loopLength ? playPosition + 1 : 0;
        }
    }

    bool operator==(const LoopModel& o) const
    {
        if (state != o.state || loopLength != o.loopLength || playPosition != o.playPosition ||
            layers.size() != o.layers.size() || take != o.take || pass != o.pass)
            return false;
        for (size_t i = 0; i < layers.size(); ++i)
            if (layers[i] != o.layers[i] && *layers[i] != *o.layers[i])
                return false;
        return true;
    }
};

struct IssuedCommand
{
    Command command;
    int earliest; // first block boundary that may show it
    int latest;   // last block boundary that may show it
};

// One way the run may have gone so far.
struct Candidate
{
    LoopModel model;
    size_t next = 0; // first command not yet in effect
    int taken = -1;  // length of a closing take, once fixed

    bool operator==(const Candidate& o) const
    {
        return next == o.next && taken == o.taken && model == o.model;
    }
};

void expandAtBoundary(Candidate c, int boundary, const std::vector<IssuedCommand>& commands,
                      std::vector<Candidate>& into)
{
    if (c.next >= commands.size() || boundary < commands[c.next].earliest)
    {
        into.push_back(std::move(c));
        return;
    }

    const auto& issued = commands[c.next];
    const bool mustLand = boundary >= issued.latest;
    const bool closesTake =
        issued.command == Command::record && c.model.state == LoopState::Recording;

    if (!mustLand)
    {
        into.push_back(c);
        if (closesTake && c.taken < 0)
        {
            Candidate fixed = c;
            fixed.taken = c.model.recordPosition();
            into.push_back(std::move(fixed));
        }
    }

    const int taken = c.taken >= 0                            ? c.taken
                      : c.model.state == LoopState::Recording ? c.model.recordPosition()
                                                              : 0;
    c.model.apply(issued.command, taken);
    c.taken = -1;
    ++c.next;
    expandAtBoundary(std::move(c), boundary, commands, into);
}

float threadInput(int c, int n)
{
    return static_cast<float>((n * 7919 + c * 104729) % 2000 + 1) / 1024.0f;
}

TEST(LooperThreads, EveryBlockSeesEachCommandWholeOrNotAtAll)
{
    constexpr int blockSize = 64;
    constexpr int maxBlocks = 60000;
    constexpr int numCommands = 600;
    constexpr int maxOverlap = 8;
    const HostTiming timing{240.0, 4, 4};

    Looper looper;
    looper.prepare(threadRate, 2);

    std::vector<float> recorded(static_cast<size_t>(maxBlocks) * 2 * blockSize);
    std::atomic<int> blocksDone{0};
    std::atomic<bool> commandsDone{false};
    std::atomic<bool> audioDone{false};
    // The audio thread runs at most a few blocks past the point where the
    // next command is due, so the run has the same shape however busy the
    // machine is. All pacing is relaxed: the threads' only ordering comes
    // from the looper itself, and the thread sanitizer sees every access the
    // looper leaves unordered, not just those that happen to coincide.
    std::atomic<int> allowedBlocks{0};

    std::thread audio(
        [&]
        {
            juce::AudioBuffer<float> buffer(2, blockSize);
            int lastBlock = maxBlocks;
            for (int b = 0; b < lastBlock && b < maxBlocks; ++b)
            {
                while (b >= allowedBlocks.load(std::memory_order_relaxed) &&
                       !commandsDone.load(std::memory_order_relaxed))
                    std::this_thread::yield();

                for (int c = 0; c < 2; ++c)
                    for (int s = 0; s < blockSize; ++s)
                        buffer.setSample(c, s, threadInput(c, b * blockSize + s));

                // Blocks take a little while, as real ones do, so commands
                // run while blocks are being processed.
                const auto due = std::chrono::steady_clock::now() + std::chrono::microseconds(10);
                while (std::chrono::steady_clock::now() < due)
                {
                }

                looper.updateParameters(timing, 0, true);
                looper.process(buffer);

                for (int c = 0; c < 2; ++c)
                    std::copy_n(buffer.getReadPointer(c), blockSize,
                                recorded.begin() +
                                    (static_cast<size_t>(b) * 2 + static_cast<size_t>(c)) *
                                        blockSize);
                blocksDone.store(b + 1, std::memory_order_relaxed);

                if (lastBlock == maxBlocks && commandsDone.load(std::memory_order_relaxed))
                    lastBlock = b + 40;
            }
            audioDone.store(true, std::memory_order_relaxed);
        });

    std::mt19937 random(20240613);
    std::vector<IssuedCommand> commands;
    LoopModel shown; // what the accessors must report after each command
    int accessorMismatches = 0;

    for (int i = 0; i < numCommands && !audioDone.load(std::memory_order_relaxed); ++i)
    {
        const int target =
            blocksDone.load(std::memory_order_relaxed) + static_cast<int>(random() % 41);
        allowedBlocks.store(target + maxOverlap, std::memory_order_relaxed);
        while (blocksDone.load(std::memory_order_relaxed) < target &&
               !audioDone.load(std::memory_order_relaxed))
            std::this_thread::yield();

        const unsigned pick = random() % 20;
        const Command command = pick < 11   ? Command::record
                                : pick < 14 ? Command::stop
                                : pick < 18 ? Command::undo
                                            : Command::clear;
        const int earliest = blocksDone.load(std::memory_order_relaxed);
        switch (command)
        {
        case Command::record:
            looper.recordPressed();
            break;
        case Command::stop:
            looper.stopPressed();
            break;
        case Command::undo:
            looper.undo();
            break;
        case Command::clear:
            looper.clear();
            break;
        }
        commands.push_back({command, earliest, blocksDone.load(std::memory_order_relaxed) + 1});

        shown.apply(command, 0);
        if (looper.getLoopState() != shown.state ||
            looper.getNumLayers() != static_cast<int>(shown.layers.size()))
            ++accessorMismatches;
    }
    commandsDone.store(true, std::memory_order_relaxed);
    audio.join();

    ASSERT_EQ(commands.size(), static_cast<size_t>(numCommands)) << "the audio thread ran out";
    EXPECT_EQ(accessorMismatches, 0);

    const int numBlocks = blocksDone.load(std::memory_order_relaxed);
    std::vector<Candidate> beam(1);
    beam[0].model.timing = timing;
    Output in(2, std::vector<float>(blockSize));
    Output out;
    size_t widest = 1;

    for (int b = 0; b < numBlocks; ++b)
    {
        for (int c = 0; c < 2; ++c)
            for (int s = 0; s < blockSize; ++s)
                in[static_cast<size_t>(c)][static_cast<size_t>(s)] =
                    threadInput(c, b * blockSize + s);

        std::vector<Candidate> expanded;
        for (auto& c : beam)
            expandAtBoundary(std::move(c), b, commands, expanded);

        beam.clear();
        for (auto& c : expanded)
        {
            c.model.block(in, out);
            bool same = true;
            for (size_t ch = 0; ch < 2 && same; ++ch)
                same = std::equal(out[ch].begin(), out[ch].end(),
                                  recorded.begin() + (static_cast<size_t>(b) * 2 + ch) * blockSize);
            if (same && std::find(beam.begin(), beam.end(), c) == beam.end())
                beam.push_back(std::move(c));
        }
        ASSERT_FALSE(beam.empty()) << "block " << b << " matches no whole sequence of commands";
        widest = std::max(widest, beam.size());
    }

    EXPECT_TRUE(std::any_of(beam.begin(), beam.end(),
                            [&](const Candidate& c) { return c.next == commands.size(); }));
    RecordProperty("widestBeam", static_cast<int>(widest));
}

} // namespace
