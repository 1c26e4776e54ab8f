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
#include "app/align_page.h"
#include "app/help_about.h"
#include "app/frame_lists.h"
#include "app/calibration_actions.h"
#include "app/editor_windows.h"
#include "app/image_saving.h"
#include "app/process_page.h"
#include "app/project_file.h"
#include "app/stack_page.h"
#include "app/ui_services.h"
#include "app/user_settings.h"
#include "core/bitmap24.h"
#include "core/frame_loop.h"
#include "core/frame_source.h"
#include "core/workspace.h"
#include "stack/frame_preparation.h"

namespace planexor {

struct SerHeader;

// The open dialog's filter a file's extension names (1 AVI, 2 BMP, 3 FITS,
// 4 JPG, 5 SER), or none.
std::optional<int> openFilterOfName(const std::string& path);
// A BMP or JPG frame, by its extension.
bool isStillFrameFile(const std::string& path);

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
    // Frame `frame` of the AVI into the preview bitmap, sizing the images.
    void FetchAviFrames(const std::string& fileName, int frame);
    // The open sequence's frames, AVI or still files: what every run reads.
    FrameSource& sequenceSource();
    // The header of the open SER video; null for every other input.
    const SerHeader* serHeader() const;
    void PageControl1Change();

    // Desktop events that are not a change of a control's value, routed to
    // the named handlers (keys on sliders, mouse on images, tool windows).
    enum class MouseAction { Down, Move, Up, DoubleClick };
    void keyDown(Control control, int key, bool ctrl);
    void mouseEvent(Control control, MouseAction action, int x, int y, MouseButtons buttons);
    void mouseEvent(Control control, MouseAction action, int x, int y, bool leftButton) {
        mouseEvent(control, action, x, y, MouseButtons{leftButton});
    }
    void toolWindowMoved(Control window, int left, int top);
    void toolWindowResized(Control window, int width, int height);
    void toolWindowClosed(Control window);
    // The check lists' events besides a plain click (which is the model's click()).
    enum class ListAction { Click, ClickCheck, DblClick };
    void listEvent(Control list, ListAction action);

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

    // The align page (align_page.h) does the work; these are its handlers.
    void FFTsizeGroupClick() { align_->FFTsizeGroupClick(); }
    void PreviewImageMouseMove(int x, int y) { align_->PreviewImageMouseMove(x, y); }
    void PreviewImageMouseDown(int x, int y) { align_->PreviewImageMouseDown(x, y); }
    void CalculateReferenceFFT() { align_->CalculateReferenceFFT(); }
    void Alignonebuttonclick() { align_->Alignonebuttonclick(); }
    void FFTFilterspinChange() { align_->FFTFilterspinChange(); }
    void FFTFilterClick() { align_->FFTFilterClick(); }
    void QualityFilterChange() { align_->QualityFilterChange(); }
    void MisalignwarningClick() { align_->MisalignwarningClick(); }
    void HaltbuttonClick() { align_->HaltbuttonClick(); }
    void BlurBoxClick() { align_->BlurBoxClick(); }
    void AlignImageMouseDown(int x, int y) { align_->AlignImageMouseDown(x, y); }
    void AlignImageMouseMove(int x, int y) { align_->AlignImageMouseMove(x, y); }
    void RegisterFrame() { align_->RegisterFrame(); }
    void EstimateQuality() { align_->EstimateQuality(); }
    void AlignallButtonClick() { align_->AlignallButtonClick(); }
    void AlignStackButtonClick() { align_->AlignStackButtonClick(); }
    void AlignSliderChange() { align_->AlignSliderChange(); }
    void DrawRegistrationGraph() { align_->DrawRegistrationGraph(); }
    void OptimizeButtonClick() { align_->OptimizeButtonClick(); }
    void SearchAreaChange() { align_->SearchAreaChange(); }
    FftEngine& fft() { return align_->fft(); }
    const Alignment& alignment() const { return align_->alignment(); }
    const Bitmap24& referenceImage() const { return align_->referenceImage(); }
    const QualityGraph& qualityGraph() const { return align_->qualityGraph(); }
    const RegistrationGraph& registrationGraph() const { return align_->registrationGraph(); }
    AlignPage& alignPage() { return *align_; }
    const AlignPage& alignPage() const { return *align_; }
    int alignBoxSize() const { return align_->alignBoxSize(); }
    // What the window paints over an image control, in its pixels, or as the
    // whole picture of a graph; each page draws its own. Empty for other controls.
    const Drawing& overlay(Control imageControl) const;
    // "Align & stack" runs align, stack and process as one chain.
    bool ChainRun = false;

    // The process page (process_page.h) does the work; these are its handlers.
    void setProcessViewSize(int width, int height) { process_->setProcessViewSize(width, height); }
    void ProcessButtonClick() { process_->ProcessButtonClick(); }
    void AutoProcessBoxClick() { process_->AutoProcessBoxClick(); }
    void TabSheet4Enter() { process_->TabSheet4Enter(); }
    void ScaletypeClick() { process_->ScaletypeClick(); }
    void LevelStepChange() { process_->LevelStepChange(); }
    void MultiplicantChange() { process_->MultiplicantChange(); }
    void RxSlider3Changed() { process_->RxSlider3Changed(); }
    void ContrastSliderChanged() { process_->ContrastSliderChanged(); }
    void ContrastSliderChange() { process_->ContrastSliderChange(); }
    void ContrastSliderKeyDown(int key, bool ctrl) { process_->ContrastSliderKeyDown(key, ctrl); }
    void BrightnessSliderKeyDown(int key, bool ctrl) { process_->BrightnessSliderKeyDown(key, ctrl); }
    void Gamma1spinChange() { process_->Gamma1spinChange(); }
    void HistowinClick() { process_->HistowinClick(); }
    void HistoResetClick() { process_->HistoResetClick(); }
    void BitBtn3Click() { process_->BitBtn3Click(); }
    void HistographMouseMove(int x, int y, bool leftButton) { process_->HistographMouseMove(x, y, leftButton); }
    void HorizFlipCheckboxClick() { process_->HorizFlipCheckboxClick(); }
    void VertiFlipCheckboxClick() { process_->VertiFlipCheckboxClick(); }
    void ProcessImageMouseDown(int x, int y) { process_->ProcessImageMouseDown(x, y); }
    void ProcessImageMouseMove(int x, int y, bool leftButton) { process_->ProcessImageMouseMove(x, y, leftButton); }
    void ProcessImageMouseUp() { process_->ProcessImageMouseUp(); }
    void SectionClick() { process_->SectionClick(); }
    void ShowsectionboxClick() { process_->ShowsectionboxClick(); }
    void SaveSectionboxClick() { process_->SaveSectionboxClick(); }
    void ResetButtonClick() { process_->ResetButtonClick(); }
    void layerbuttonMouseDown(int layer) { process_->layerbuttonMouseDown(layer); }
    void layerbuttonMouseUp(int layer) { process_->layerbuttonMouseUp(layer); }
    void HorizScrollbarChange() { process_->HorizScrollbarChange(); }
    void VertiScrollbarChange() { process_->VertiScrollbarChange(); }
    void ShrinkClick() { process_->ShrinkClick(); }
    void ShrinkviewResize(int windowWidth, int windowHeight) { process_->ShrinkviewResize(windowWidth, windowHeight); }
    void ShrinktooriginalClick() { process_->ShrinktooriginalClick(); }
    void ResizeFiltersClick() { process_->ResizeFiltersClick(); }
    void SaveShrinkClick() { process_->SaveShrinkClick(); }
    void sliderCommitted(Control control) { process_->sliderCommitted(control); }
    void markLayersStale() { process_->markLayersStale(); }
    const Drawing& processingOverlay(Control control) const { return process_->processingOverlay(control); }
    const Histograms& histograms() const { return process_->histograms(); }
    bool autoProcess() const { return process_->autoProcess(); }
    const StretchMarkers& stretchMarkers() const { return process_->stretchMarkers(); }
    PictureSize shrinkviewSize() const { return process_->shrinkviewSize(); }
    ProcessingCache::Stage lastProcessingStage() const { return process_->lastProcessingStage(); }
    void resetProcessingControls() { process_->resetProcessingControls(); }
    ProcessPage& processPage() { return *process_; }
    const ProcessPage& processPage() const { return *process_; }

    // Projects (project_file.h): the whole piece of work saved and reopened.
    void SaveProjectClick() { project_->SaveProjectClick(); }
    void LoadProjectClick() { project_->LoadProjectClick(); }
    ProjectFile& project() { return *project_; }
    // Help panels and the About page (help_about.h).
    void BitBtn1Click() { help_->BitBtn1Click(); }
    void MailLabelClick() { help_->MailLabelClick(); }
    HelpAndAbout& help() { return *help_; }
    const HelpAndAbout& help() const { return *help_; }
    // Writes the control values to the settings file, where the program
    // keeps one (not in the CLI or tests).
    std::function<void()> storeSettings;
    // From here on tool-window moves reach the user settings: the places
    // given while the window is being built are not the user's.
    void openUserSettingsKey() { recordWindowPlaces_ = true; }
    // The frame lists (frame_lists.h) and their file.
    // Opens a frame list file (.pxl) as a new sequence, without a dialog.
    void openFrameList(const std::string& path) { lists_->openFrameList(path); }
    FrameLists& frameLists() { return *lists_; }

    // Saving (image_saving.h) writes the stack and the processed picture.
    void SaveButtonClick() { saving_->SaveButtonClick(); }
    void SaveBMP2buttonClick() { saving_->SaveBMP2buttonClick(); }
    ImageSaving& saving() { return *saving_; }
    const ImageSaving& saving() const { return *saving_; }

    // Dark frame and flat field (calibration_actions.h). What is loaded, and
    // darkfile, darkfiletype, flatfile, flatfiletype, live in the workspace.
    void LoadDarkframeClick() { calibration_->LoadDarkframeClick(); }
    void FlatfieldbuttonClick() { calibration_->FlatfieldbuttonClick(); }
    void CreateDarkframeClick() { calibration_->CreateDarkframeClick(); }
    bool LoadDarkFile(const std::string& path, int typeIndex) { return calibration_->LoadDarkFile(path, typeIndex); }
    bool LoadFlatFile(const std::string& path, int typeIndex) { return calibration_->LoadFlatFile(path, typeIndex); }
    // The gamma curve and wavelet filter windows (editor_windows.h).
    EditorWindows& editors() { return *editors_; }
    const EditorWindows& editors() const { return *editors_; }

private:
    friend class RunScope;
    friend class StackPage;
    friend class AlignPage;
    friend class ProcessPage;
    friend class ImageSaving;
    friend class ProjectFile;
    friend class HelpAndAbout;
    friend class FrameLists;
    friend class CalibrationActions;
    friend class EditorWindows;
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
    bool openStillFrames(const std::vector<std::string>& selected, bool jpeg);
    void probeInput(int filterIndex, const std::vector<std::string>& files);
    bool openVideo(const std::string& path, InputKind kind);
    FrameSource& videoSource(const std::string& path);
    void openFitsInput(const std::string& path);
    void finishOpening(int lastFrame);
    // Any sequence may be a set of calibration frames, an AVI as much as a
    // frame list or a project's: both Make buttons show on every opening.
    void offerCalibrationMaking();
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
    std::string sourcePath_;               // the video source_ reads, if it is one
    int runDepth_ = 0;
    int failedHandlers_ = 0;
    bool sequenceOpenedThisRun_ = false;
    // Window moves while the form is being built are not the user's.
    bool recordWindowPlaces_ = false;

    std::unique_ptr<StackPage> stack_;

    std::unique_ptr<AlignPage> align_;

    std::unique_ptr<ProcessPage> process_;

    std::unique_ptr<ImageSaving> saving_;

    std::unique_ptr<ProjectFile> project_;

    std::unique_ptr<HelpAndAbout> help_;

    std::unique_ptr<FrameLists> lists_;
    std::unique_ptr<CalibrationActions> calibration_;
    std::unique_ptr<EditorWindows> editors_;
};

}  // namespace planexor
