#pragma once
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "align/fft.h"
#include "align/registration.h"
#include "app/control_id.h"
#include "app/control_model.h"
#include "app/processing_view.h"
#include "app/stack_graph.h"
#include "app/stack_page.h"
#include "app/ui_services.h"
#include "app/user_settings.h"
#include "core/bitmap24.h"
#include "core/frame_loop.h"
#include "core/frame_source.h"
#include "core/workspace.h"
#include "process/fits_writer.h"
#include "stack/frame_preparation.h"

namespace planexor {

inline constexpr int ColourRed = 255;
inline constexpr int ColourGreen = 32768;

// The main window without a window: the workspace, one model per named
// control, and every handler. The Qt window and the CLI both drive it.
class TMainForm {
public:
    TMainForm(UiServices& ui, UserSettings& settings);
    ~TMainForm();
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    Workspace& workspace() { return *workspace_; }
    const Workspace& workspace() const { return *workspace_; }
    ControlModel& control(Control id) { return *models_[indexOf(id)]; }
    const ControlModel& control(Control id) const { return *models_[indexOf(id)]; }
    // Indexed by Control.
    const std::vector<std::unique_ptr<ControlModel>>& controls() const { return models_; }

    UiServices& ui() { return ui_; }
    UserSettings& settings() { return settings_; }

    // The current decoded frame: the preview image's bitmap.
    Bitmap24& previewBitmap() { return preview_; }
    const Bitmap24& previewBitmap() const { return preview_; }
    // The bitmap an image control shows, by the control's name (PreviewImage,
    // AlignImage, StackImage, ProcessImage, imgFFT, ...): what the window draws.
    Bitmap24& image(Control control);
    const Bitmap24* findImage(Control control) const;
    const std::string& caption() const;
    int frameCount() const;
    std::string describeSource() const;  // "AVI rawvideo", "BMP", ...

    // True while a frame loop runs; handlers that would start another run are refused.
    bool runInProgress() const { return runDepth_ > 0; }
    // How many handlers ended in a failure the user was shown: the CLI's exit status.
    int failedHandlers() const { return failedHandlers_; }
    // Every handler that runs, by name, for tests and the window's diagnostics.
    std::function<void(std::string_view)> handlerTrace;

    // Handlers.
    void SelectFileButtonClick();
    void PreviewSliderChange();
    void PreviewSliderKeyDown(int key);  // key: KeySpace toggles the frame's exclusion
    void BitBtn2Click();
    void FetchAviFrames(const std::string& fileName, int frame);
    void PageControl1Change();

    // Desktop events that are not a change of a control's value, routed to
    // the named handlers (keys on sliders, mouse on images, tool windows).
    enum class MouseAction { Down, Move, Up };
    void keyDown(Control control, int key, bool ctrl);
    void mouseEvent(Control control, MouseAction action, int x, int y, bool leftButton);
    void toolWindowMoved(Control window, int left, int top);
    void toolWindowResized(Control window, int width, int height);
    void toolWindowClosed(Control window);

    static constexpr int KeySpace = 32;
    static constexpr int KeyLeft = 37;
    static constexpr int KeyRight = 39;

    int RubberX = -1;
    int RubberY = -1;
    GammaCurve GammaTable;

    // The stack page (stack_page.h) does the work; these are its handlers.
    void StackButtonClick() { stack_->StackButtonClick(); }
    void StackSliderChange() { stack_->StackSliderChange(); }
    void differencecutsliderChange() { stack_->differencecutsliderChange(); }
    void InterlacedClick() { stack_->InterlacedClick(); }
    void ResampledClick() { stack_->ResampledClick(); }
    void ResampleSpinChange() { stack_->ResampleSpinChange(); }
    void ColourStackClick() { stack_->ColourStackClick(); }
    void Colourprocess2Click() { stack_->Colourprocess2Click(); }
    void ExpandstackClick() { stack_->ExpandstackClick(); }
    void SetMiddleButtonClick() { stack_->SetMiddleButtonClick(); }
    void StackImageMouseMove(int x, int y) { stack_->StackImageMouseMove(x, y); }
    void StackImageMouseDown(int x, int y) { stack_->StackImageMouseDown(x, y); }
    StackPage& stackPage() { return *stack_; }
    const StackPage& stackPage() const { return *stack_; }
    const Bitmap24& stackBitmap() const { return stack_->stackBitmap(); }
    const StackGraphData& stackGraph() const { return stack_->stackGraph(); }
    const StackImageMarks& stackImageMarks() const { return stack_->stackImageMarks(); }
    const StackQualityTable& stackQualities() const { return stack_->stackQualities(); }
    int stackedCount() const { return stack_->stackedCount(); }

    // Alignment
    // The one FFT engine of the form: the alignment box's transforms and scores.
    FftEngine& fft() { return fft_; }
    const Alignment& alignment() const { return alignment_; }
    // The reference frame as clicked (de-interlaced when asked): what
    // registration compares against. Its own bitmap, never a scratch one.
    const Bitmap24& referenceImage() const { return Image1_; }
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
    // What the window paints over an image control, in its pixels, or as the
    // whole picture of a graph: PreviewImage the box outline under the mouse;
    // AlignImage the feature or trace marks and, while a realign click is
    // awaited, the box outline; imgFFT its " Not defined " caption; imgGraph
    // the power spectrum or registration curves; StackGraph the stack graph;
    // StackImage the set-middle marks; ProcessImage and Histograph as
    // processingOverlay(). Empty otherwise. The one entry the window paints from.
    const Drawing& overlay(Control imageControl) const;
    const QualityGraph& qualityGraph() const { return qualityGraph_; }
    const RegistrationGraph& registrationGraph() const { return registrationGraph_; }
    bool ChainRun = false;
    // 0.001 x the sum of the differences after the last align-all run.
    double DifferenceTotal = 0.0;
    // End of alignment

    // Processing
    // The window tells how large the processed image's view really is
    // (640 x 480 until it does); larger pictures pan inside it.
    void setProcessViewSize(int width, int height);
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
    bool autoProcess() const { return control(Control::AutoProcessBox).checked(); }
    // What the window paints: over ProcessImage the rubber band while a box
    // is dragged, the selection outline (lime) when Section and
    // Showsectionbox are checked, and the "HI :"/"LO :" texts while a layer
    // button is held; on Histograph the whole graph (Histowin checked or a
    // marker dragged). Empty for other controls.
    const Drawing& processingOverlay(Control control) const;
    const Histograms& histograms() const;
    const StretchMarkers& stretchMarkers() const { return processing_.markers; }
    // The size the resized view's window should take (image + control areas).
    PictureSize shrinkviewSize() const { return processing_.shrinkWindow; }
    // The first stage the last processing update reran.
    ProcessingCache::Stage lastProcessingStage() const { return processing_.lastStage; }
    WaveletKernel waveletKernel;
    float StretchLow = 0.0f;
    float StretchHigh = 255.0f;
    SelectionBox SectionBox;
    // End of processing

    // Saving pictures
    void SaveButtonClick();
    void SaveBMP2buttonClick();
    void SaveSubClick();
    // Where saving starts: with "Save to subdir" the input directory's
    // Subdirname, made with its parents; otherwise empty (the dialog's choice).
    std::string saveDirectory();
    // The header texts of FITS saves; an empty Comment says what was saved.
    TFITParams fitsHeader;
    // The files the last save wrote: none after a cancel, a No or a refusal.
    const std::vector<std::string>& savedFiles() const { return savedFiles_; }
    // End of saving

private:
    friend class RunScope;
    friend class StackPage;
    void buildModels();
    void bindHandlers();
    void bindPageHandlers();
    void bindAlignHandlers();
    void bindStackHandlers();
    void bindProcessHandlers();
    void bind(Control control, std::string handlerName, bool startsRun, std::function<void()> handler);
    void dispatch(std::string_view handlerName, bool startsRun, const std::function<void()>& handler);

    void showTabs(bool align, bool stack, bool process);
    void lockControlsForRun(bool locked);
    void resetProcessingControls();
    bool openStillFrames(const std::vector<std::string>& selected, bool jpeg);
    bool openAvi(const std::string& path);
    void openFitsInput(const std::string& path);
    void finishOpening(int lastFrame);
    void buildFrameList();
    void showFrameState();
    void updateFramesLabel();
    void loadFrame(int frame);
    void setCaption(const std::string& caption);
    void limitFrameSize();
    std::string sequenceDirectory() const;
    void setSequenceDirectory(const std::string& directory);

    UiServices& ui_;
    UserSettings& settings_;
    std::unique_ptr<Workspace> workspace_;
    std::vector<std::unique_ptr<ControlModel>> models_;
    Bitmap24 preview_;
    std::map<Control, Bitmap24> images_;
    std::unique_ptr<FrameSource> source_;  // open for the length of the sequence
    int runDepth_ = 0;
    int failedHandlers_ = 0;
    bool sequenceOpenedThisRun_ = false;
    // Window moves while the form is being built are not the user's.
    bool recordWindowPlaces_ = false;

    std::unique_ptr<StackPage> stack_;

    // Alignment
    struct AlignMarks {
        bool shown = false;
        bool centrePixel = false;
        int x = 0, y = 0, boxLeft = 0, boxTop = 0, size = 0;
    };
    RegistrationOptions registrationOptions() const;
    // The options an align-all run took at its start, kept to its end.
    std::optional<RegistrationOptions> runRegistration_;
    int alignBoxSize() const;
    void showBoxSizeCaption();
    void prepareFft();
    void ensureReference();
    bool rebuildReference();
    void makeReferenceImage();
    void alignDecodedFrame(Bitmap24& frame);
    std::optional<GraphPoint> askForRealign();
    void showQualityGraph();
    void noteProfileOwner();
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
    mutable Drawing previewOverlay_, alignOverlay_, fftOverlay_, stackGraphOverlay_, stackMarksOverlay_;
    Drawing graphDrawing_;
    QualityGraph qualityGraph_;
    RegistrationGraph registrationGraph_;
    // End of alignment

    // Processing
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
    // End of processing

    // Saving pictures
    struct SaveChoice {
        std::string directory;
        std::string name;  // with its extension
        int filterIndex = 1;
    };
    void bindSavingHandlers();
    std::optional<SaveChoice> askSaveFile();
    bool mayWrite(const std::string& path);
    void savePicture(const SaveChoice& choice, const Bitmap24& picture);
    void saveFits(const SaveChoice& choice, int source, const FitsChannels& channels);
    std::string savedWorkText(bool processed) const;
    int saveFilterIndex_ = 1;  // SaveDialog1 opens with the filter it closed with
    std::vector<std::string> savedFiles_;
    // End of saving
};

}  // namespace planexor
