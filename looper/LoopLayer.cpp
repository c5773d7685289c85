#include "looper/LoopLayer.h"

LoopLayer::LoopLayer(int numChannels, int numSamples) : audio(numChannels, numSamples)
{
    audio.clear();
}
