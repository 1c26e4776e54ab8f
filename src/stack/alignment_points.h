#pragma once
#include <array>
#include <vector>

#include "core/bitmap24.h"
#include "core/vector_lanes.h"

namespace planexor {

// Seeing moves parts of a planet's disc differently within one frame, which
// no single shift undoes. After the global registration, points spread over
// the disc are registered one by one against a reference made from the
// frames about to be stacked, and each frame is warped so that its detail
// lands where the reference has it before it is added.
//
// Shifts are in frame pixels. A frame "placed at (shiftX, shiftY)" has its
// pixel q + shift on the reference's pixel q, as the stack places it.
class AlignmentPoints {
public:
    static constexpr int Auto = -1;
    static constexpr int BoxSize = 48;      // a point's box, pixels
    static constexpr int SearchRadius = 6;  // the largest local shift sought
    // A shift further than this from its neighbours' median is taken for a
    // false match and replaced by that median.
    static constexpr float MaxDisagreement = 2.0f;

    struct Point {
        int x = 0, y = 0;                 // the box's centre on the reference
        float shiftX = 0.0f, shiftY = 0.0f;  // in the last frame measured, beyond the frame's shift
        bool found = false;               // registered there, not replaced from the neighbours
        float firmX = 0.0f, firmY = 0.0f;    // how firmly the shift is known along each axis, 0..1
    };

    // The reference covers width x height pixels; frames added are averaged
    // in grey where the stack places them, fractions of a pixel included.
    void startReference(int width, int height);
    void addToReference(const Bitmap24& frame, double shiftX, double shiftY);

    // Lays a grid of points over the disc of the reference, keeping those
    // whose box has detail in both directions: about `requested` of them, or
    // with Auto about AutoPoints, but no further apart than AutoSpacing.
    // None on a flat or black reference. Returns how many were placed.
    int placePoints(int requested);
    static constexpr int AutoPoints = 24;
    static constexpr int AutoSpacing = 32;
    const std::vector<Point>& points() const { return points_; }
    int spacing() const { return spacing_; }

    // Registers every point in `frame` placed at its shift. A point whose
    // search leaves the frame or finds no match, and one that disagrees with
    // its neighbours, takes its neighbours' median, or no local shift.
    void measure(const Bitmap24& frame, double shiftX, double shiftY);

    // Moves the frame's detail by the measured shifts, interpolated smoothly
    // between the points and fading to none away from them: afterwards the
    // frame's pixel x holds what it had at x + local shift.
    void warp(Bitmap24& frame, double shiftX, double shiftY);

    // The local shift the warp applies at reference position (x, y).
    void blendedShift(double x, double y, float& shiftX, float& shiftY) const;

private:
    // The six parameters of the refinement: a shift at the point and how
    // it changes across the box (dx/dx, dx/dy, dy/dx, dy/dy).
    static constexpr int Motions = 6;
    struct Template {
        std::vector<float> full, half;  // zero-mean, window-weighted boxes
        double fullEnergy = 0.0, halfEnergy = 0.0;
        // For the refinement: the box less its windowed mean, its windowed
        // gradients, and the inverse of its normal equations (which depend
        // on the box alone).
        std::vector<float> centred, gradX, gradY;
        std::array<double, Motions * Motions> inverse{};
        bool refinable = false;
    };
    // How far a point's shifts have scattered over the frames measured so
    // far: the reference, an average of them all, is blurred by as much.
    struct Scatter {
        double frames = 0.0, sumX = 0.0, squaresX = 0.0, sumY = 0.0, squaresY = 0.0;
    };
    void makeTemplate(const Point& point, Template& into) const;
    bool registerPoint(const Bitmap24& frame, std::size_t index, int wholeX, int wholeY, float& shiftX,
                       float& shiftY);
    void blurLikeReference(const Scatter& scatter);
    bool refine(const Template& model, double& shiftX, double& shiftY);
    void replaceOutliers();
    void weighFirmness();
    void buildField(int gridColumns, int gridRows);

    int width_ = 0, height_ = 0;
    int spacing_ = 0;
    std::vector<float> sum_;
    std::vector<int> count_;
    std::vector<float> reference_;
    std::vector<Point> points_;
    std::vector<Template> templates_;
    std::vector<std::vector<int>> neighbours_;
    // Each frame's working space, sized when the points are placed.
    struct Scratch {
        std::vector<float> medianX, medianY, values;
        std::vector<int> known;
    } scratch_;
    std::vector<float> window_, halfWindow_;
    double windowTotal_ = 0.0, halfWindowTotal_ = 0.0;
    std::vector<float> region_, halfRegion_;   // a point's search area of the frame, grey
    std::vector<Scatter> scatter_;
    std::vector<float> blurTaps_, blurLine_, blurRows_;
    std::vector<float> sampled_;               // the frame's box moved as the refinement has it
    std::vector<float> fieldX_, fieldY_;       // the local shift every GridStep reference pixels
    std::vector<lanes::F4> source_;  // the frame's part being warped: blue, green, red and a spare lane
    std::vector<std::uint8_t> movingCells_;
    Bitmap24 warped_;
};

}  // namespace planexor
