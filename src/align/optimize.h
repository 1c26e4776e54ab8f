#pragma once
#include <vector>

#include "core/bitmap24.h"
#include "core/workspace.h"

namespace planexor {

inline constexpr int MinSearchArea = 1;
inline constexpr int MaxSearchArea = 10;

// What one refinement reads besides the two pictures.
struct OptimizeOptions {
    int boxSize = 128;         // N
    int searchArea = 2;        // S, whole pixels each way; kept within 1..10
    bool interlaced = false;   // equal sums keep the earlier candidate
    bool biasSubtract = false;
    int bias = 50;
    // DarkG in 1/128 of a level, subtracted from both boxes; null: no dark.
    const TFloatPlane* dark = nullptr;
    int darkWidth = 0, darkHeight = 0;
    // Positions are divided by this before the dark is read: the dark is
    // at frame size while resampled boxes are read at the larger size.
    double darkScale = 1.0;
};

// Where the boxes lie: the reference box around (centreX, centreY), the
// frame's around the same point plus its shift, both read only where inside
// width x height and the bitmap.
struct OptimizePlacement {
    int centreX = 0, centreY = 0;
    int width = 0, height = 0;
};

// Refines one frame's shift in the image domain: every whole-pixel shift
// within the search area around the stored one is compared with the
// reference box by the mean-subtracted sum of squared grey differences, and
// the smallest sum wins. Both boxes are read once into scratch planes, so
// the search itself touches no bitmap. One lives for a pass; its planes are
// sized once for the largest box and search area.
class FrameOptimizer {
public:
    FrameOptimizer();

    struct Outcome {
        int shiftX = 0, shiftY = 0;
        double best = 0.0;
        bool moved = false;
    };
    // Updates the record (its field values when firstField) and returns what it holds.
    Outcome optimize(TFrameRec& record, bool firstField, const Bitmap24& reference, const Bitmap24& frame,
                     const OptimizePlacement& placement, const OptimizeOptions& options);

    // After optimize(): the sum of candidate (dx, dy), each within the search area.
    double sumOfSquares(int dx, int dy) const;

private:
    void extract(const Bitmap24& reference, const Bitmap24& frame, int shiftX, int shiftY,
                 const OptimizePlacement& placement, const OptimizeOptions& options);

    std::vector<float> reference_, frame_;  // [column * side + row], cell S + N/2 + offset
    int side_ = 0, search_ = 0, box_ = 0;
    double referenceMean_ = 0.0, frameMean_ = 0.0;
};

// A frame of rank `rank` is optimized when its quality is at least
// lowerQualityPercent of the best's; a best of 0 (blank frames) counts as 1.
bool aboveQualityLimit(const Workspace& workspace, int rank, int lowerQualityPercent);

// 0.001 x the sum of the differences of ranks 0..lastRank above the quality limit.
double optimizedTotal(const Workspace& workspace, int lastRank, int lowerQualityPercent);

}  // namespace planexor
