#pragma once
#include <optional>

#include "align/fft.h"
#include "align/optimize.h"
#include "align/quality.h"
#include "align/registration.h"
#include "app/control_id.h"
#include "core/bitmap24.h"
#include "core/drawing.h"
#include "stack/resample.h"

namespace planexor {

class ControlModel;
class TMainForm;
class UiServices;
class UserSettings;
struct Workspace;

// The align page: the alignment feature and its reference, registration of
// one frame and of all frames, the ranking, and the graphs of the
// properties window, with the state they keep between runs.
class AlignPage {
public:
    explicit AlignPage(TMainForm& form);

    // The one FFT engine of the form: the alignment box's transforms and scores.
    FftEngine& fft() { return fft_; }
    int alignBoxSize() const;
    const Alignment& alignment() const { return alignment_; }
    // The reference frame as clicked (de-interlaced when asked): what
    // registration compares against. Its own bitmap, never a scratch one.
    const Bitmap24& referenceImage() const { return Image1_; }
    // Restored settings: what follows from the option boxes, without a handler.
    void syncWithControls();
    // A reopened project's feature: the reference is built again at hotx,
    // hoty of the frame in the preview, as the click had built it.
    void restoreFeature();
    // De-interlacing turned on or off, or to columns: the reference is the
    // clicked frame's field in the new mode, built again at the same feature.
    void referenceFieldsChanged();
    void FFTsizeGroupClick();
    void PreviewImageMouseMove(int x, int y);
    void PreviewImageMouseDown(int x, int y);
    void CalculateReferenceFFT();
    void Alignonebuttonclick();
    void FFTFilterspinChange();
    void FFTFilterClick();
    void QualityFilterChange();
    void MisalignwarningClick();
    void HaltbuttonClick();
    void BlurBoxClick();
    void AlignImageMouseDown(int x, int y);
    void AlignImageMouseMove(int x, int y);
    void RegisterFrame();
    void EstimateQuality();
    void AlignallButtonClick();
    void AlignStackButtonClick();
    void AlignSliderChange();
    void DrawRegistrationGraph();
    void OptimizeButtonClick();
    void SearchAreaChange();
    // PreviewImage the box outline under the mouse; AlignImage the feature or
    // trace marks and, while a realign click is awaited, the box outline;
    // imgFFT its " Not defined " caption; imgGraph the power spectrum or
    // registration curves.
    const Drawing& overlay(Control imageControl) const;
    const QualityGraph& qualityGraph() const { return qualityGraph_; }
    const RegistrationGraph& registrationGraph() const { return registrationGraph_; }
    // 0.001 x the sum of the differences after the last align-all run.
    double DifferenceTotal = 0.0;
    // 0.001 x the sum of the differences above the quality limit after the last completed optimizing pass.
    double OptTotal = 0.0;

private:
    friend class TMainForm;
    ControlModel& control(Control id);
    const ControlModel& control(Control id) const;
    struct AlignMarks {
        bool shown = false;
        bool centrePixel = false;
        int x = 0, y = 0, boxLeft = 0, boxTop = 0, size = 0;
    };
    RegistrationOptions registrationOptions() const;
    // The options an align-all run took at its start, kept to its end.
    std::optional<RegistrationOptions> runRegistration_;
    void showBoxSizeCaption();
    void showFeatureChosen();
    void prepareFft();
    void ensureReference();
    bool rebuildReference();
    void makeReferenceImage();
    void alignDecodedFrame(Bitmap24& frame);
    std::optional<GraphPoint> askForRealign();
    void showQualityGraph();
    void noteProfileOwner();
    // One optimizing pass over the ranked frames; false when it was stopped.
    bool runOptimizePass();
    // Passes after an align-all run while each improves enough; false when stopped.
    bool autoOptimize();
    void optimizeDecodedFrame(int frame, Bitmap24& decoded, const OptimizeOptions& options);
    void optimizeField(int frame, Bitmap24& decoded, bool firstField, const OptimizeOptions& options);
    FrameOptimizer optimizer_;
    // Resampled optimizing: the reference resampled whole, and the picture
    // each frame's resampled box is pasted into.
    Bitmap24 resampledReference_, resampledFrame_, optimizeSquare_;
    ResamplePlan optimizePlan_;
    struct OptimizeMarks {
        bool shown = false;
        int boxSize = 0;
        int frame = 0;
    };
    OptimizeMarks optimizeMarks_;
    FftEngine fft_;
    Alignment alignment_;
    Bitmap24 referenceFrame_;  // the clicked frame as decoded, to rebuild the reference at another box size
    Bitmap24 Image1_;
    Bitmap24 unsplitFrame_;    // an interlaced frame kept for its second field
    Bitmap24* alignImage_ = nullptr;
    AlignMarks alignMarks_;
    bool fftNotDefined_ = false;
    int profileFrame_ = -1;    // whose spectrum profile the engine holds, and which field
    bool profileFirstField_ = false;
    mutable Drawing previewOverlay_, alignOverlay_, fftOverlay_;
    Drawing graphDrawing_;
    QualityGraph qualityGraph_;
    RegistrationGraph registrationGraph_;

    TMainForm& form_;
    UiServices& ui_;
    UserSettings& settings_;
    Workspace* workspace_;
};

}  // namespace planexor
