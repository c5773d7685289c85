#include "looper/LayerStack.h"

std::unique_ptr<const LayerStack> LayerStack::withNewest(const LayerStack* base,
                                                         std::shared_ptr<const LoopLayer> layer)
{
    std::vector<std::shared_ptr<const LoopLayer>> list;
    list.reserve((base != nullptr ? base->layers.size() : 0) + 1);
    if (base != nullptr)
        list.insert(list.end(), base->layers.begin(), base->layers.end());
    list.push_back(std::move(layer));
    return std::unique_ptr<const LayerStack>(new LayerStack(std::move(list)));
}

std::unique_ptr<const LayerStack> LayerStack::withoutNewest(const LayerStack& base)
{
    if (base.layers.size() <= 1)
        return nullptr;

    std::vector<std::shared_ptr<const LoopLayer>> list(base.layers.begin(), base.layers.end() - 1);
    return std::unique_ptr<const LayerStack>(new LayerStack(std::move(list)));
}

LayerStack::LayerStack(std::vector<std::shared_ptr<const LoopLayer>> layerList)
    : layers(std::move(layerList))
{
    const int numChannels = layers.front()->audio.getNumChannels();
    pointers.resize(static_cast<size_t>(numChannels) * layers.size());

    for (int c = 0; c < numChannels; ++c)
        for (size_t i = 0; i < layers.size(); ++i)
            pointers[static_cast<size_t>(c) * layers.size() + i] =
                layers[i]->audio.getReadPointer(c);
}
