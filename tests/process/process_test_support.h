#pragma once
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>

#include "core/workspace.h"
#include "process/wavelet_layers.h"

namespace planexor::testing {

// A workspace and a layer store (about 150 MB together), cleared for each
// test. Fresh memory costs page faults that take seconds on a virtual machine,
// so two sets are allocated once and handed out in turn.
struct ProcessingPlanes {
    Workspace* workspace = nullptr;
    LayerStore* store = nullptr;
    static inline int inUse = 0;

    ProcessingPlanes() {
        static std::unique_ptr<Workspace> workspaces[2];
        static std::unique_ptr<LayerStore> stores[2];
        const int slot = inUse++;
        if (slot >= 2) throw std::logic_error("at most two sets of processing planes at a time");
        if (!workspaces[slot]) {
            workspaces[slot] = std::make_unique<Workspace>();
            stores[slot] = std::make_unique<LayerStore>();
        }
        workspace = workspaces[slot].get();
        store = stores[slot].get();
        for (TFloatPlane* plane : {&workspace->StackR, &workspace->StackG, &workspace->StackB, &workspace->ProcR,
                                   &workspace->ProcG, &workspace->ProcB, &store->smoothScratch()})
            plane->clear();
        for (int slotIndex = 0; slotIndex <= WaveletLayerCount; ++slotIndex)
            for (int channel = 0; channel < ColourChannels; ++channel) store->plane(slotIndex, channel).clear();
        workspace->StackMin = workspace->StackMax = 0;
    }
    ~ProcessingPlanes() { --inUse; }
    ProcessingPlanes(const ProcessingPlanes&) = delete;
    ProcessingPlanes& operator=(const ProcessingPlanes&) = delete;

    TFloatPlane& stack(int channel) {
        return channel == 0 ? workspace->StackR : channel == 1 ? workspace->StackG : workspace->StackB;
    }
    TFloatPlane& processing(int channel) { return *processingPlanes(*workspace)[channel]; }

    // value(channel, x, y) over width x height of the stack.
    void fillStack(int width, int height, const std::function<float(int, int, int)>& value) {
        for (int channel = 0; channel < ColourChannels; ++channel)
            for (int x = 0; x < width; ++x)
                for (int y = 0; y < height; ++y) stack(channel)[x][y] = value(channel, x, y);
    }
};

// Planet-like detail with grain: no two neighbours alike, every channel different.
inline float texturedValue(int channel, int x, int y) {
    const std::uint32_t hash = static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u ^
                               static_cast<std::uint32_t>(channel) * 83492791u;
    return static_cast<float>(80 + 60 * std::sin(x * 0.21 + channel) * std::cos(y * 0.17) + (hash % 1000) * 0.02);
}

}  // namespace planexor::testing
