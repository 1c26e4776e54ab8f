#pragma once
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "core/workspace.h"

namespace planexor {

class LayerStore;

// The header values a save hands to the FITS writer.
struct TFITParams {
    std::string Object, Telescope, Instrument, Exposure, Observer, Comment;
    double Date = -1.0;  // day number counted from 1899-12-30; negative: today
    double Time = -1.0;  // fraction of a day; negative: the current time
    bool UseNow = true;  // both from the clock, in UTC
};

// What is saved, which also decides the scaling and the file names.
enum FitsSource : int {
    FitsStack = 0,         // the stack, scaled over the integer range, ".fit"
    FitsProcessed = 1,     // the recombined image, scaled, the given name kept
    FitsSpecialStack = 2,  // the stack x 128, ".fitq", so a dark keeps its fractions
};

// Red, green, blue; a grey save writes green only.
using FitsChannels = std::array<const TFloatPlane*, 3>;
FitsChannels stackChannels(const Workspace& workspace);
FitsChannels recombinedChannels(const LayerStore& store);

// The files a save writes, in writing order: one, or "_R", "_G", "_B" in colour.
std::vector<std::string> fitsTargetNames(const std::string& fileName, int source, bool colour);

// Asked for each target that already exists (" Overwrite existing file ?");
// false skips that file. Empty: overwrite.
using OverwriteQuestion = std::function<bool(const std::string& path)>;

// Writes width x height of the channels as standard FITS files, BITPIX 16
// or 32, bottom row first. Each file is written atomically; a file that cannot
// be written throws PlanexorError naming it and why. Returns the files written.
std::vector<std::string> WriteFits(const std::string& fileName, int width, int height, int BITPIX, int source,
                                   const TFITParams& params, const FitsChannels& channels, bool colour,
                                   const OverwriteQuestion& overwrite = {});

}  // namespace planexor
