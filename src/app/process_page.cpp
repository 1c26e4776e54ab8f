// Handlers of the process page: wavelet processing, recombination, display
// mapping, the selection box, the histogram window and the resized view.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/process_page.h"

#include "app/control_table.h"
#include "app/main_form.h"
#include "core/error.h"
#include "core/pixel.h"
#include "core/scoped_value.h"
#include "input/bmp_codec.h"
#include "core/file_io.h"
#include "input/jpeg_codec.h"
#include "stack/resample.h"

namespace planexor {
namespace {

using Stage = ProcessingCache::Stage;

constexpr int TealColour = 0x808000;  // models hold colours as 0xBBGGRR

Control gainSlider(int layer) { return GainSliders[layer - 1]; }
Control layerCheckBox(int layer) { return LayerCheckBoxes[layer - 1]; }
Control layerButton(int layer) { return LayerButtons[layer - 1]; }
std::string handlerName(Control control, const char* event) { return std::string(controlName(control)) + event; }

// The decomposition's progress: the gauge and "Calculating Layer k" before each layer.
class LayerProgress : public RunProgress {
public:
    explicit LayerProgress(TMainForm& form) : form_(form) {}
    void setPercent(int percent) override {
        ++layer_;
        form_.control(Control::Progressgraph).setValue(percent);
        form_.control(Control::messagewinlabel).setCaption(layerProgressMessage(layer_));
        form_.ui().repaint(Control::MessageWindow);
    }

private:
    TMainForm& form_;
    int layer_ = 0;
};

// A side that exceeds the view gets a scroll bar whose position is the image's left (top) edge.
void fitScrollBar(ControlModel& bar, int side, int view) {
    bar.setVisible(side > view);
    bar.setPageSize(std::max(view, 1));
    if (side > view) bar.setRange(view - side, 1);
    else bar.setValue(0);
}

}  // namespace

void ProcessPage::setProcessViewSize(int width, int height) {
    processViewWidth_ = std::max(width, 1);
    processViewHeight_ = std::max(height, 1);
    if (!form_.findImage(Control::ProcessImage) || form_.findImage(Control::ProcessImage)->empty()) return;
    fitProcessScrollBars();
    HorizScrollbarChange();
    VertiScrollbarChange();
}

void ProcessPage::fitProcessScrollBars() {
    fitScrollBar(control(Control::HorizScrollbar), workspace_->ImageWidth, processViewWidth_);
    fitScrollBar(control(Control::VertiScrollbar), workspace_->ImageHeight, processViewHeight_);
}

ProcessPage::ProcessPage(TMainForm& form)
    : form_(form), ui_(form.ui()), settings_(form.settings()), workspace_(&form.workspace()) {}

ControlModel& ProcessPage::control(Control id) { return form_.control(id); }
const ControlModel& ProcessPage::control(Control id) const { return form_.control(id); }

bool ProcessPage::autoProcess() const { return control(Control::AutoProcessBox).checked(); }


// ------------------------------------------------------------ the pipeline

ProcessingCache& ProcessPage::processingCache() {
    if (!processing_.cache) processing_.cache = std::make_unique<ProcessingCache>(*workspace_);
    return *processing_.cache;
}

void ProcessPage::markLayersStale() {
    // A cache not made yet decomposes at its first update anyway.
    if (processing_.cache) processing_.cache->invalidateLayers();
}

const Histograms& ProcessPage::histograms() const {
    static const Histograms none;
    return processing_.cache ? processing_.cache->histograms() : none;
}

ProcessingSettings ProcessPage::processingSettings() const {
    const Workspace& w = *workspace_;
    ProcessingSettings settings;
    settings.geometry = {w.ImageWidth, w.ImageHeight, control(Control::ColourStack).checked() && w.StackColour};
    settings.decomposition.Scaletype = control(Control::Scaletype).itemIndex();
    settings.decomposition.LevelStep = control(Control::LevelStep).intValue();
    settings.decomposition.Multiplicant = control(Control::Multiplicant).intValue();
    settings.decomposition.kernel = waveletKernel;
    settings.region = selectionRegion(SectionBox, control(Control::Section).checked(), w.ImageWidth, w.ImageHeight);
    for (int layer = 1; layer <= WaveletLayerCount; ++layer) {
        settings.recombination.gainSlider[layer - 1] = control(gainSlider(layer)).intValue();
        settings.recombination.layerOn[layer - 1] = control(layerCheckBox(layer)).checked();
    }
    settings.recombination.HorizFlipCheckbox = control(Control::HorizFlipCheckbox).checked();
    settings.recombination.VertiFlipCheckbox = control(Control::VertiFlipCheckbox).checked();
    settings.display.ContrastSlider = control(Control::ContrastSlider).intValue();
    settings.display.BrightnessSlider = control(Control::BrightnessSlider).intValue();
    settings.display.StretchLow = StretchLow;
    settings.display.StretchHigh = StretchHigh;
    settings.display.RedSlider = control(Control::RedSlider).intValue();
    settings.display.GreenSlider = control(Control::GreenSlider).intValue();
    settings.display.blueslider = control(Control::blueslider).intValue();
    return settings;
}

void ProcessPage::updateProcessing(Stage deepest) {
    LayerProgress progress(form_);
    ProcessingCache& cache = processingCache();
    processing_.lastStage = cache.update(processingSettings(), form_.GammaTable, progress, deepest);
    // While a layer button is held the new picture waits behind the layer view.
    (processing_.heldLayer != 0 ? processing_.heldBackup : form_.image(Control::ProcessImage)) = cache.image();
    finishDisplayPass();
}

void ProcessPage::finishDisplayPass() {
    ui_.repaint(Control::ProcessImage);
    if (control(Control::Histowin).checked()) {
        drawHistogramGraph(histograms(), control(Control::Showpeak).checked(), control(Control::HistoSmooth).checked(), nullptr,
                           processing_.histogram);
        ui_.repaint(Control::Histograph);
    }
    const PictureSize window = processing_.shrinkWindow;
    if (control(Control::Shrinkview).visible() && window.width > 0) ShrinkviewResize(window.width, window.height);
}

void ProcessPage::showLayerDistances() {
    const DecompositionOptions options = processingSettings().decomposition;
    for (int layer = 1; layer <= WaveletLayerCount; ++layer)
        control(layerCheckBox(layer)).setCaption(layerCaption(layer, layerDistance(options, layer)));
}

void ProcessPage::showGainCaptions() {
    for (int layer = 1; layer <= WaveletLayerCount; ++layer)
        control(layerButton(layer)).setCaption(gainCaption(control(gainSlider(layer)).intValue()));
}

// ------------------------------------------------------ wavelet processing

void ProcessPage::ProcessButtonClick() {
    Workspace& w = *workspace_;
    if (form_.ChainRun) control(Control::MessageWindow).setVisible(true);
    // A stack made since the last run has not been decomposed yet.
    if (w.StackReady) markLayersStale();
    w.StackReady = false;
    control(Control::SaveBMP2button).setEnabled(true);
    ui_.setCursor(CursorShape::Hourglass);
    if (control(Control::Resampled).checked()) {
        w.ImageWidth = resampledSide(w.FrameWidth, w.ResampleFactor);
        w.ImageHeight = resampledSide(w.FrameHeight, w.ResampleFactor);
    }
    fitProcessScrollBars();
    HorizScrollbarChange();
    VertiScrollbarChange();
    showLayerDistances();
    showGainCaptions();
    // However the run ends (out of memory, say), the chain is over: no
    // progress window stays up and the next plain Align does not stack.
    const ScopedValue<bool> chainEnds(form_.ChainRun, form_.ChainRun, false);
    try {
        updateProcessing(Stage::Decomposition);
    } catch (...) {
        control(Control::MessageWindow).setVisible(false);
        throw;
    }
    control(Control::MessageWindow).setVisible(false);
    ui_.setCursor(CursorShape::Arrow);
}

void ProcessPage::AutoProcessBoxClick() {
    const bool on = control(Control::AutoProcessBox).checked();
    control(Control::ProcessButton).setVisible(!on);
    settings_.writeBool("Settings", "Autoprocess", on);
}

void ProcessPage::syncWithControls() {
    control(Control::ProcessButton).setVisible(!autoProcess());
    const bool linear = control(Control::Scaletype).itemIndex() == 1;
    control(Control::LevelStep).setEnabled(linear);
    control(Control::Multiplicant).setEnabled(linear);
    for (int layer = 1; layer <= WaveletLayerCount; ++layer)
        control(gainSlider(layer)).setEnabled(control(layerCheckBox(layer)).checked());
    showLayerDistances();
    showGainCaptions();
    form_.GammaTable.build(control(Control::Gamma1spin).value());
    showMappingCaptions();
    const bool section = control(Control::Section).checked();
    if (section) control(Control::SaveSectionbox).setVisible(true);
    control(Control::HorizFlipCheckbox).setEnabled(!section);
    control(Control::VertiFlipCheckbox).setEnabled(!section);
    markLayersStale();
}

void ProcessPage::TabSheet4Enter() {
    if (workspace_->StackReady) ProcessButtonClick();
}

void ProcessPage::ScaletypeClick() {
    markLayersStale();
    const bool linear = control(Control::Scaletype).itemIndex() == 1;
    control(Control::LevelStep).setEnabled(linear);
    control(Control::Multiplicant).setEnabled(linear);
    showLayerDistances();
    if (autoProcess()) ProcessButtonClick();
}

void ProcessPage::LevelStepChange() {
    markLayersStale();
    showLayerDistances();
    if (autoProcess()) ProcessButtonClick();
}

void ProcessPage::MultiplicantChange() { LevelStepChange(); }

void ProcessPage::layerCheckBoxClick(int layer) {
    ProcessButtonClick();
    control(gainSlider(layer)).setEnabled(control(layerCheckBox(layer)).checked());
}

void ProcessPage::layerbuttonMouseDown(int layer) {
    if (layer < 1 || layer > WaveletLayerCount || processing_.heldLayer != 0) return;
    const Workspace& w = *workspace_;
    int width = w.ImageWidth;
    int height = w.ImageHeight;
    if (control(Control::Resampled).checked()) {
        width = resampledSide(w.FrameWidth, w.ResampleFactor);
        height = resampledSide(w.FrameHeight, w.ResampleFactor);
    }
    Bitmap24& shown = form_.image(Control::ProcessImage);
    processing_.heldBackup = shown;
    processing_.heldLayer = layer;
    processing_.heldRange = renderLayerView(processingCache().layers(), layer, std::clamp(width, 0, MaxImageSide),
                                            std::clamp(height, 0, MaxImageSide),
                                            control(Control::HorizFlipCheckbox).checked(),
                                            control(Control::VertiFlipCheckbox).checked(), shown);
    ui_.repaint(Control::ProcessImage);
}

void ProcessPage::layerbuttonMouseUp(int layer) {
    if (layer != processing_.heldLayer || layer == 0) return;
    form_.image(Control::ProcessImage) = processing_.heldBackup;
    processing_.heldLayer = 0;
    ui_.repaint(Control::ProcessImage);
}

// ------------------------------------------------------------ recombination

void ProcessPage::RxSlider3Changed() {
    ui_.setCursor(CursorShape::Hourglass);
    showGainCaptions();
    updateProcessing(Stage::Recombination);
    ui_.setCursor(CursorShape::Arrow);
}

void ProcessPage::gainSliderChange(int layer) {
    control(layerButton(layer)).setCaption(gainCaption(control(gainSlider(layer)).intValue()));
    if (autoProcess()) RxSlider3Changed();
}

void ProcessPage::HorizFlipCheckboxClick() {
    if (autoProcess()) RxSlider3Changed();
}

void ProcessPage::VertiFlipCheckboxClick() {
    if (autoProcess()) RxSlider3Changed();
}

void ProcessPage::sliderCommitted(Control name) {
    if (std::find(GainSliders.begin(), GainSliders.end(), name) != GainSliders.end())
        form_.dispatch("RxSlider3Changed", true, [this] { RxSlider3Changed(); });
    else if (name == Control::ContrastSlider || name == Control::BrightnessSlider)
        form_.dispatch("ContrastSliderChanged", true, [this] { ContrastSliderChanged(); });
}

void ProcessPage::ProcessImageMouseDown(int x, int y) {
    control(Control::Boxoptionspanel).setExpanded(true);
    SectionBox.SectionX1 = SectionBox.SectionX2 = x;
    SectionBox.SectionY1 = SectionBox.SectionY2 = y;
    SectionBox.SectionFlipH = control(Control::HorizFlipCheckbox).checked();
    SectionBox.SectionFlipV = control(Control::VertiFlipCheckbox).checked();
    processing_.boxDragging = true;
    ui_.repaint(Control::ProcessImage);
}

void ProcessPage::ProcessImageMouseMove(int x, int y, bool leftButton) {
    if (!leftButton || !processing_.boxDragging) return;
    SectionBox.SectionX2 = std::max(x, 0);
    SectionBox.SectionY2 = std::max(y, 0);
    ui_.repaint(Control::ProcessImage);
}

void ProcessPage::ProcessImageMouseUp() {
    if (!processing_.boxDragging) return;
    processing_.boxDragging = false;
    control(Control::Section).setEnabled(true);
    if (autoProcess()) ContrastSliderChanged();
    control(Control::Section).setCheckedByUser(true);
    ui_.repaint(Control::ProcessImage);
}

void ProcessPage::SectionClick() {
    const bool on = control(Control::Section).checked();
    if (on) control(Control::SaveSectionbox).setVisible(true);
    // Mirroring cannot change under a processed selection.
    control(Control::HorizFlipCheckbox).setEnabled(!on);
    control(Control::VertiFlipCheckbox).setEnabled(!on);
    ui_.repaint(Control::ProcessImage);
    if (on && selectionTooSmall(SectionBox)) {
        ui_.showMessage(MessageKind::Information, "Select an image section first.");
        return;
    }
    if (autoProcess()) ProcessButtonClick();
}

void ProcessPage::ShowsectionboxClick() {
    settings_.writeBool("Settings", "Showsectionbox", control(Control::Showsectionbox).checked());
    ui_.repaint(Control::ProcessImage);
}

void ProcessPage::SaveSectionboxClick() {
    settings_.writeBool("Settings", "Savesection", control(Control::SaveSectionbox).checked());
}

void ProcessPage::ResetButtonClick() {
    // Silently: SectionClick would run a processing of its own; the flips
    // it would enable are enabled here.
    control(Control::Section).setChecked(false);
    control(Control::HorizFlipCheckbox).setEnabled(true);
    control(Control::VertiFlipCheckbox).setEnabled(true);
    SectionBox.SectionX1 = SectionBox.SectionY1 = SectionBox.SectionX2 = SectionBox.SectionY2 = 0;
    control(Control::LevelStep).setValue(1);
    control(Control::Multiplicant).setValue(0);
    markLayersStale();
    for (int layer = 1; layer <= WaveletLayerCount; ++layer) control(gainSlider(layer)).setValue(DefaultGainSlider);
    control(Control::ContrastSlider).setValue(100);
    control(Control::BrightnessSlider).setValue(0);
    control(Control::ContrastLabel).setCaption("C : 100");
    control(Control::Brightnesslabel).setCaption("B : 0");
    // A curve drawn in the gamma editor stays unless the spin really changes.
    if (control(Control::Gamma1spin).value() != 1.0) {
        control(Control::Gamma1spin).setValue(1.0);
        form_.GammaTable.build(1.0);
    }
    ProcessButtonClick();
}

// ------------------------------------------------------------ display mapping

void ProcessPage::showMappingCaptions() {
    control(Control::ContrastLabel).setCaption("C : " + std::to_string(control(Control::ContrastSlider).intValue()));
    control(Control::Brightnesslabel).setCaption("B : " + std::to_string(control(Control::BrightnessSlider).intValue()));
}

void ProcessPage::ContrastSliderChanged() {
    showMappingCaptions();
    updateProcessing(Stage::Mapping);
}

void ProcessPage::ContrastSliderChange() {
    if (autoProcess()) ContrastSliderChanged();
}

void ProcessPage::stepDisplaySlider(Control name, int key, bool ctrl) {
    if (key != TMainForm::KeyLeft && key != TMainForm::KeyRight) return;
    ControlModel& slider = control(name);
    const double before = slider.value();
    const int step = ctrl ? 1 : 10;
    slider.setValue(before + (key == TMainForm::KeyLeft ? -step : step));
    if (slider.value() != before) ContrastSliderChanged();
}

void ProcessPage::ContrastSliderKeyDown(int key, bool ctrl) { stepDisplaySlider(Control::ContrastSlider, key, ctrl); }

void ProcessPage::BrightnessSliderKeyDown(int key, bool ctrl) { stepDisplaySlider(Control::BrightnessSlider, key, ctrl); }

void ProcessPage::Gamma1spinChange() {
    ControlModel& spin = control(Control::Gamma1spin);
    if (spin.value() > 0) {
        form_.GammaTable.build(spin.value());
        ContrastSliderChanged();
    } else {
        spin.setValueByUser(1.0);
    }
}

void ProcessPage::HistowinClick() {
    control(Control::HistoWindow).setVisible(control(Control::Histowin).checked());
    ContrastSliderChanged();
}

namespace {

void showStretchMarkers(TMainForm& form, const StretchMarkers& markers) {
    ControlModel& low = form.control(Control::Lowtriangle);
    ControlModel& high = form.control(Control::Hitriangle);
    low.setPosition(markers.low, low.top());
    high.setPosition(markers.high, high.top());
}

}  // namespace

void ProcessPage::HistographMouseMove(int x, int y, bool leftButton) {
    if (!leftButton) return;
    // Only the markers move: they stand on the picture as it is shown, and
    // "Stretch" maps them through the bounds in force.
    if (!dragStretchMarker(processing_.markers, x, y)) return;
    showStretchMarkers(form_, processing_.markers);
    drawHistogramGraph(histograms(), control(Control::Showpeak).checked(), control(Control::HistoSmooth).checked(),
                       &processing_.markers, processing_.histogram);
    ui_.repaint(Control::Histograph);
}

void ProcessPage::BitBtn3Click() {
    DisplayOptions bounds;
    bounds.StretchLow = StretchLow;
    bounds.StretchHigh = StretchHigh;
    applyStretch(processing_.markers, bounds);
    StretchLow = bounds.StretchLow;
    StretchHigh = bounds.StretchHigh;
    showStretchMarkers(form_, processing_.markers);
    ContrastSliderChanged();
}

// Opening a sequence puts the processing and display controls back to their
// defaults, and with them everything derived from them: the gamma table, the
// gain sliders' enabling, the stretch and the selection.
void ProcessPage::resetProcessingControls() {
    const auto toDefault = [this](Control id) { control(id).setValue(definitionOf(id).defaultValue); };
    for (int layer = 1; layer <= WaveletLayerCount; ++layer) {
        toDefault(gainSlider(layer));
        control(gainSlider(layer)).setEnabled(true);
        control(layerCheckBox(layer)).setChecked(true);
        control(layerButton(layer)).setCaption(definitionOf(layerButton(layer)).caption);
    }
    for (const Control id : {Control::ContrastSlider, Control::BrightnessSlider, Control::RedSlider,
                             Control::GreenSlider, Control::blueslider, Control::ResampleSpin})
        toDefault(id);
    for (const Control id : {Control::ContrastLabel, Control::Brightnesslabel})
        control(id).setCaption(definitionOf(id).caption);
    // As Reset: a curve drawn in the gamma editor, which still shows it, stays
    // in force unless the spin really changes.
    if (control(Control::Gamma1spin).value() != definitionOf(Control::Gamma1spin).defaultValue) {
        toDefault(Control::Gamma1spin);
        form_.GammaTable.build(control(Control::Gamma1spin).value());
    }
    workspace_->ResampleFactor = static_cast<float>(control(Control::ResampleSpin).value());
    DisplayOptions bounds;
    resetStretch(processing_.markers, bounds);
    StretchLow = bounds.StretchLow;
    StretchHigh = bounds.StretchHigh;
    showStretchMarkers(form_, processing_.markers);
    SectionBox = {};
    control(Control::Section).setChecked(false);
    control(Control::Section).setEnabled(false);
    control(Control::HorizFlipCheckbox).setEnabled(true);
    control(Control::VertiFlipCheckbox).setEnabled(true);
    markLayersStale();
}

void ProcessPage::HistoResetClick() {
    DisplayOptions bounds;
    resetStretch(processing_.markers, bounds);
    StretchLow = bounds.StretchLow;
    StretchHigh = bounds.StretchHigh;
    showStretchMarkers(form_, processing_.markers);
    ContrastSliderChanged();
}

std::pair<bool, bool> ProcessPage::shownFlips() const {
    const ProcessingCache* cache = processing_.cache.get();
    if (cache && cache->mapped()) return {cache->mappedHorizontalFlip(), cache->mappedVerticalFlip()};
    return {control(Control::HorizFlipCheckbox).checked(), control(Control::VertiFlipCheckbox).checked()};
}

const Drawing& ProcessPage::processingOverlay(Control controlName) const {
    if (controlName == Control::Histograph) return processing_.histogram;
    Drawing& overlay = processing_.overlay;
    if (controlName != Control::ProcessImage) {
        static const Drawing nothing;
        return nothing;
    }
    DrawingBuilder builder(overlay);
    const SelectionBox& box = SectionBox;
    const int width = workspace_->ImageWidth;
    const int height = workspace_->ImageHeight;
    if (processing_.boxDragging) {
        drawSelectionBox(builder, {box.SectionX1, box.SectionY1, box.SectionX2, box.SectionY2}, true);
    } else if (processing_.heldLayer == 0 && control(Control::Section).checked() && control(Control::Showsectionbox).checked()) {
        const PixelRegion region = selectionRegion(box, true, width, height);
        const auto [horizontal, vertical] = shownFlips();
        drawSelectionBox(builder, selectionOutline(region, horizontal, vertical, width, height), false);
    }
    if (processing_.heldLayer != 0) {
        builder.text(drawing_colour::Black, {0, 10}, layerViewCaption("HI :", processing_.heldRange.maximum));
        builder.text(drawing_colour::Black, {0, 30}, layerViewCaption("LO :", processing_.heldRange.minimum));
    }
    return overlay;
}

// ------------------------------------------------------------ panning

void ProcessPage::HorizScrollbarChange() {
    ControlModel& picture = control(Control::ProcessImage);
    picture.setEnabled(false);
    picture.setPosition(control(Control::HorizScrollbar).intValue(), picture.top());
    picture.setEnabled(true);
}

void ProcessPage::VertiScrollbarChange() {
    ControlModel& picture = control(Control::ProcessImage);
    picture.setEnabled(false);
    picture.setPosition(picture.left(), control(Control::VertiScrollbar).intValue());
    picture.setEnabled(true);
}

// ------------------------------------------------------------ resized view

void ProcessPage::showShrinkview(int width, int height) {
    if (form_.image(Control::ProcessImage).empty()) throw PlanexorError("Source bitmap too small");
    width = std::max(width, 1);
    height = std::max(height, 1);
    ControlModel& window = control(Control::Shrinkview);
    window.setEnabled(false);
    form_.image(Control::ShrinkImage).resize(width, height);
    control(Control::Imagesize).setCaption(imageSizeCaption(width, height));
    processing_.shrinkAspect = static_cast<float>(width) / static_cast<float>(height);
    window.setVisible(true);
    // Exactly the picture's room: a window the toolkit cannot make that
    // short (its side controls need more) must not let a spare column grow
    // the picture by a pixel each way.
    ShrinkviewResize(width + ShrinkSideArea, height + ShrinkBottomArea);
    window.setEnabled(true);
}

void ProcessPage::ShrinkClick() {
    if (!control(Control::Resampled).checked()) workspace_->ResampleFactor = 1.0f;
    const Bitmap24& processed = form_.image(Control::ProcessImage);
    showShrinkview(processed.width(), processed.height());
}

void ProcessPage::ShrinkviewResize(int windowWidth, int windowHeight) {
    processing_.shrinkWindow = {windowWidth, windowHeight};
    ControlModel& window = control(Control::Shrinkview);
    window.setEnabled(false);
    const PictureSize size = fitShrinkImage(windowWidth, windowHeight, processing_.shrinkAspect);
    Bitmap24& shrunk = form_.image(Control::ShrinkImage);
    shrunk.resize(size.width, size.height);
    control(Control::Imagesize).setCaption(imageSizeCaption(size.width, size.height));
    const Bitmap24& processed = form_.image(Control::ProcessImage);
    if (!processed.empty()) {
        const ResampleFilter& filter = filterForItem(control(Control::ResizeFilters).itemIndex());
        Stretch(processed, shrunk, filter.function, filter.support);
    }
    window.setEnabled(true);
    ui_.repaint(Control::ShrinkImage);
}

void ProcessPage::ShrinktooriginalClick() {
    const Workspace& w = *workspace_;
    int width = w.OrigWidth;
    int height = w.OrigHeight;
    if (control(Control::Resampled).checked()) {
        const double factor = w.ResampleFactor;
        if (width * factor > 1024.0) width = nearest(1024.0 / factor);
        if (height * factor > 1024.0) height = nearest(1024.0 / factor);
    }
    if (control(Control::Expandstack).checked()) {
        width = w.StackWidth;
        height = w.StackHeight;
    }
    showShrinkview(width, height);
}

void ProcessPage::ResizeFiltersClick() {
    const PictureSize window = processing_.shrinkWindow;
    if (control(Control::Shrinkview).visible() && window.width > 0) ShrinkviewResize(window.width, window.height);
}

void ProcessPage::SaveShrinkClick() {
    FileDialogRequest request;
    request.dialog = "SaveDialog4";
    request.filters = {"Bitmap (*.bmp)", "Jpeg (*.jpg)"};
    request.defaultExtension = "BMP";
    request.save = true;
    request.asksBeforeReplacing = true;
    request.directory = form_.saving().saveDirectory();
    const FileDialogAnswer answer = ui_.runFileDialog(request);
    if (!answer.accepted || answer.files.empty()) return;
    const std::string& chosen = answer.files.front();
    settings_.writeString("Files", "SaveDir", directoryOf(chosen));
    const std::string target = shrinkSaveTarget(chosen, answer.filterIndex);
    if (std::filesystem::exists(target) && !ui_.askYesNo(MessageKind::Warning, " Overwrite existing file ?")) return;
    if (answer.filterIndex == 2) writeJpegFile(target, form_.image(Control::ShrinkImage), 90);
    else writeBmpFile(target, form_.image(Control::ShrinkImage));
}

void TMainForm::bindProcessHandlers() {
    bind(Control::ProcessButton, "ProcessButtonClick", true, [this] { ProcessButtonClick(); });
    bind(Control::AutoProcessBox, "AutoProcessBoxClick", false, [this] { AutoProcessBoxClick(); });
    bind(Control::Scaletype, "ScaletypeClick", true, [this] { ScaletypeClick(); });
    bind(Control::LevelStep, "LevelStepChange", true, [this] { LevelStepChange(); });
    bind(Control::Multiplicant, "MultiplicantChange", true, [this] { MultiplicantChange(); });
    for (int layer = 1; layer <= WaveletLayerCount; ++layer) {
        bind(gainSlider(layer), handlerName(gainSlider(layer), "Change"), true, [this, layer] { process_->gainSliderChange(layer); });
        bind(layerCheckBox(layer), handlerName(layerCheckBox(layer), "Click"), true,
             [this, layer] { process_->layerCheckBoxClick(layer); });
    }
    bind(Control::HorizFlipCheckbox, "HorizFlipCheckboxClick", true, [this] { HorizFlipCheckboxClick(); });
    bind(Control::VertiFlipCheckbox, "VertiFlipCheckboxClick", true, [this] { VertiFlipCheckboxClick(); });
    bind(Control::Section, "SectionClick", true, [this] { SectionClick(); });
    bind(Control::Showsectionbox, "ShowsectionboxClick", false, [this] { ShowsectionboxClick(); });
    bind(Control::SaveSectionbox, "SaveSectionboxClick", false, [this] { SaveSectionboxClick(); });
    bind(Control::ResetButton, "ResetButtonClick", true, [this] { ResetButtonClick(); });
    bind(Control::ContrastSlider, "ContrastSliderChange", true, [this] { ContrastSliderChange(); });
    bind(Control::BrightnessSlider, "ContrastSliderChange", true, [this] { ContrastSliderChange(); });
    bind(Control::Gamma1spin, "Gamma1spinChange", true, [this] { Gamma1spinChange(); });
    bind(Control::Showpeak, "ShowpeakClick", true, [this] { ContrastSliderChanged(); });
    bind(Control::HistoSmooth, "HistoSmoothClick", true, [this] { ContrastSliderChanged(); });
    bind(Control::HistoReset, "HistoResetClick", true, [this] { HistoResetClick(); });
    bind(Control::BitBtn3, "BitBtn3Click", true, [this] { BitBtn3Click(); });
    bind(Control::RedSlider, "RedSliderChanged", true, [this] { ContrastSliderChanged(); });
    bind(Control::GreenSlider, "GreenSliderChanged", true, [this] { ContrastSliderChanged(); });
    bind(Control::blueslider, "bluesliderChanged", true, [this] { ContrastSliderChanged(); });
    bind(Control::HorizScrollbar, "HorizScrollbarChange", false, [this] { HorizScrollbarChange(); });
    bind(Control::VertiScrollbar, "VertiScrollbarChange", false, [this] { VertiScrollbarChange(); });
    bind(Control::Shrink, "ShrinkClick", true, [this] { ShrinkClick(); });
    bind(Control::Shrinktooriginal, "ShrinktooriginalClick", true, [this] { ShrinktooriginalClick(); });
    bind(Control::ResizeFilters, "ResizeFiltersClick", true, [this] { ResizeFiltersClick(); });
    bind(Control::SaveShrink, "SaveShrinkClick", false, [this] { SaveShrinkClick(); });

    control(Control::Lowtriangle).setColour(TealColour);
    control(Control::Hitriangle).setColour(ColourRed);
    control(Control::Lowtriangle).setPosition(process_->processing_.markers.low, control(Control::Lowtriangle).top());
    control(Control::Hitriangle).setPosition(process_->processing_.markers.high, control(Control::Hitriangle).top());
}

}  // namespace planexor
