#pragma once

#include <memory>
#include <vector>

#include "looper/LoopLayer.h"

// The loop's layers, oldest first, as one unchangeable list. Every change to
// the loop builds a new stack off the audio thread and swaps it in whole, so
// the audio step always sums a complete set of layers. The stack also keeps
// each layer's sample pointers per channel, so summing touches no reference
// counts.
class LayerStack
{
  public:
    // `base` (may be null for no layers) with `layer` added as the newest.
    // Throws std::bad_alloc.
    static std::unique_ptr<const LayerStack> withNewest(const LayerStack* base,
                                                        std::shared_ptr<const LoopLayer> layer);

    // `base` without its newest layer; null when that leaves none.
    // Throws std::bad_alloc.
    static std::unique_ptr<const LayerStack> withoutNewest(const LayerStack& base);

    int size() const noexcept { return static_cast<int>(layers.size()); }

    // size() pointers, oldest layer first, to the samples of one channel.
    const float* const* channelData(int channel) const noexcept
    {
        return pointers.data() + static_cast<size_t>(channel) * layers.size();
    }

  private:
    explicit LayerStack(std::vector<std::shared_ptr<const LoopLayer>> layerList);

    std::vector<std::shared_ptr<const LoopLayer>> layers;
    std::vector<const float*> pointers;
};
