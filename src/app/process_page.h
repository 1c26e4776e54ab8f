#pragma once
#include <utility>

#include "app/control_id.h"
#include "app/processing_view.h"
#include "core/drawing.h"
#include "process/processing_cache.h"
#include "process/recombination.h"
#include "process/wavelet_layers.h"

namespace planexor {

class ControlModel;
class TMainForm;
class UiServices;
class UserSettings;
struct Workspace;

// The process page: wavelet processing, recombination, display mapping, the
// selection box, the histogram window and the resized view, with the state
// they keep between runs.
class ProcessPage {
public:
    explicit ProcessPage(TMainForm& form);
    void bindHandlers();
    // Opening a sequence puts the processing and display controls back to
    // their defaults, with everything derived from them.
    void resetProcessingControls();

    // The window tells how large the processed image's view really is
    // (640 x 480 until it does); larger pictures pan inside it.
    void setProcessViewSize(int width, int height);
    // Restored settings: what follows from the processing controls, without
    // a handler: the gamma table, captions, and the showing and enabling rules.
    void syncWithControls();
    void ProcessButtonClick();
    void AutoProcessBoxClick();
    void TabSheet4Enter();
    void ScaletypeClick();
    void LevelStepChange();
    void MultiplicantChange();
    // Recombination and display: the committed change of any gain slider.
    void RxSlider3Changed();
    // The re-map: the committed change of a display control.
    void ContrastSliderChanged();
    void ContrastSliderChange();  // contrast or brightness moving
    void ContrastSliderKeyDown(int key, bool ctrl);
    void BrightnessSliderKeyDown(int key, bool ctrl);
    void Gamma1spinChange();
    void HistowinClick();
    void HistoResetClick();
    void BitBtn3Click();
    void HistographMouseMove(int x, int y, bool leftButton);
    void HorizFlipCheckboxClick();
    void VertiFlipCheckboxClick();
    void ProcessImageMouseDown(int x, int y);
    void ProcessImageMouseMove(int x, int y, bool leftButton);
    void ProcessImageMouseUp();
    void SectionClick();
    void ShowsectionboxClick();
    void SaveSectionboxClick();
    void ResetButtonClick();
    void layerbuttonMouseDown(int layer);  // layer1button .. layer6button, layer 1..6
    void layerbuttonMouseUp(int layer);
    void HorizScrollbarChange();
    void VertiScrollbarChange();
    void ShrinkClick();
    void ShrinkviewResize(int windowWidth, int windowHeight);
    void ShrinktooriginalClick();
    void ResizeFiltersClick();
    void SaveShrinkClick();
    // A slider released after a drag, or changed by a click or key: its
    // "changed" event. A value moving only follows live with AutoProcess.
    void sliderCommitted(Control control);
    // A new stack or kernel: the next processing run decomposes again.
    void markLayersStale();
    bool autoProcess() const;
    // What the window paints: over ProcessImage the rubber band while a box
    // is dragged, the selection outline (lime) when Section and
    // Showsectionbox are checked, and the "HI :"/"LO :" texts while a layer
    // button is held; on Histograph the whole graph (Histowin checked or a
    // marker dragged). Empty for other controls.
    const Drawing& processingOverlay(Control control) const;
    const Histograms& histograms() const;
    // The mirroring of the picture shown (horizontal, vertical): the flip
    // boxes' until a first mapping, then the one it was mapped with, so that
    // a box is found on the picture as it is, flips ticked since or not.
    std::pair<bool, bool> shownFlips() const;
    const StretchMarkers& stretchMarkers() const { return processing_.markers; }
    // The size the resized view's window should take (image + control areas).
    PictureSize shrinkviewSize() const { return processing_.shrinkWindow; }
    // The first stage the last processing update reran.
    ProcessingCache::Stage lastProcessingStage() const { return processing_.lastStage; }
    WaveletKernel waveletKernel;
    float StretchLow = 0.0f;
    float StretchHigh = 255.0f;
    SelectionBox SectionBox;

private:
    void showMappingCaptions();
    friend class TMainForm;
    friend class ImageSaving;
    ControlModel& control(Control id);
    const ControlModel& control(Control id) const;
    void fitProcessScrollBars();
    int processViewWidth_ = 640;
    int processViewHeight_ = 480;
    ProcessingCache& processingCache();
    ProcessingSettings processingSettings() const;
    void updateProcessing(ProcessingCache::Stage deepest);
    void finishDisplayPass();
    void showLayerDistances();
    void showGainCaptions();
    void gainSliderChange(int layer);
    void layerCheckBoxClick(int layer);
    void stepDisplaySlider(Control slider, int key, bool ctrl);
    void showShrinkview(int width, int height);
    ProcessingPage processing_;

    TMainForm& form_;
    UiServices& ui_;
    UserSettings& settings_;
    Workspace* workspace_;
};

}  // namespace planexor
