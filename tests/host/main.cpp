#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

// The parameter tree's timer and the editor's attachments need a message
// manager, so every test runs inside the framework's GUI initialiser.
int main(int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
