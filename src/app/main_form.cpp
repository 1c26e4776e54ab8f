#include "app/main_form.h"

#include <algorithm>
#include <exception>
#include <new>

#include "app/control_table.h"
#include "app/run_scope.h"
#include "core/error.h"
#include "core/pixel.h"

namespace planexor {

TMainForm::TMainForm(UiServices& ui, UserSettings& settings)
    : ui_(ui), settings_(settings), workspace_(std::make_unique<Workspace>()) {
    preview_.reserve(MaxImageSide, MaxImageSide);
    stack_ = std::make_unique<StackPage>(*this);
    process_ = std::make_unique<ProcessPage>(*this);
    align_ = std::make_unique<AlignPage>(*this);
    saving_ = std::make_unique<ImageSaving>(*this);
    project_ = std::make_unique<ProjectFile>(*this);
    help_ = std::make_unique<HelpAndAbout>(*this);
    lists_ = std::make_unique<FrameLists>(*this);
    calibration_ = std::make_unique<CalibrationActions>(*this);
    editors_ = std::make_unique<EditorWindows>(*this);
    GammaTable.build(1.0);
    buildModels();
    bindHandlers();
}

TMainForm::~TMainForm() = default;

void TMainForm::buildModels() {
    models_.resize(ControlCount);
    for (const ControlDefinition& desc : controlTable()) {
        auto model = std::make_unique<ControlModel>(desc.id, desc.kind);
        model->setRange(desc.minimum, desc.maximum);
        model->setStep(desc.step);
        model->setDecimals(desc.decimals);
        model->setValue(desc.defaultValue);
        model->setChecked(desc.defaultChecked);
        model->setCaption(desc.caption);
        model->setItems(desc.items);
        model->setHint(desc.hint);
        model->setVisible(desc.visible);
        model->setEnabled(desc.enabled);
        model->setPosition(desc.left, desc.top);
        models_[indexOf(desc.id)] = std::move(model);
    }
}

Bitmap24& TMainForm::image(Control id) {
    if (id == Control::PreviewImage) return preview_;
    if (id == Control::StackImage) return stack_->stackBitmap();
    return images_[id];
}

const Bitmap24* TMainForm::findImage(Control id) const {
    if (id == Control::PreviewImage) return &preview_;
    if (id == Control::StackImage) return &stack_->stackBitmap();
    const auto found = images_.find(id);
    return found == images_.end() ? nullptr : &found->second;
}

const std::string& TMainForm::caption() const { return control(Control::MainForm).caption(); }

void TMainForm::setCaption(const std::string& caption) { control(Control::MainForm).setCaption(caption); }

int TMainForm::frameCount() const {
    if (!workspace_->SequenceOpen) return 0;
    // A single image stands in two frame slots so that it can be stacked.
    return workspace_->SingleImage ? 1 : nearest(control(Control::PreviewSlider).maximum()) + 1;
}

std::string TMainForm::describeSource() const { return source_ ? source_->describe() : "none"; }

void TMainForm::bind(Control controlName, std::string handlerName, bool startsRun,
                     std::function<void()> handler) {
    control(controlName).onChange([this, name = std::move(handlerName), startsRun, handler = std::move(handler)] {
        dispatch(name, startsRun, handler);
    });
}

void TMainForm::dispatch(std::string_view handlerName, bool startsRun, const std::function<void()>& handler) {
    // A frame loop yields to the desktop between frames; a second run started
    // from there would work on the same workspace underneath the first.
    if (startsRun && runInProgress()) return;
    if (handlerTrace) handlerTrace(handlerName);
    std::string failure;
    try {
        handler();
        return;
    } catch (const PlanexorError& error) {
        failure = error.what();
    } catch (const std::bad_alloc&) {
        failure = NotEnoughMemoryText;
    } catch (const std::exception& error) {
        failure = "Unexpected failure in " + std::string(handlerName) + ": " + error.what();
    }
    ++failedHandlers_;
    ui_.setCursor(CursorShape::Arrow);
    ui_.showMessage(MessageKind::Error, failure);
}

void TMainForm::bindHandlers() {
    bind(Control::SelectFileButton, "SelectFileButtonClick", true, [this] { SelectFileButtonClick(); });
    bind(Control::PreviewSlider, "PreviewSliderChange", true, [this] { PreviewSliderChange(); });
    bind(Control::BitBtn2, "BitBtn2Click", false, [this] { BitBtn2Click(); });
    bindPageHandlers();
    bindAlignHandlers();
    bindStackHandlers();
    bindProcessHandlers();
    saving_->bindHandlers();
    project_->bindHandlers();
    help_->bindHandlers();
    lists_->bindHandlers();
    calibration_->bindHandlers();
    editors_->bindHandlers();
}

void TMainForm::BitBtn2Click() {
    workspace_->StopRequested = true;
    control(Control::MessageWindow).setVisible(false);
    ui_.setCursor(CursorShape::Arrow);
}

const Drawing& TMainForm::overlay(Control imageControl) const {
    switch (imageControl) {
        case Control::PreviewImage:
        case Control::AlignImage:
        case Control::imgFFT:
        case Control::imgGraph: return align_->overlay(imageControl);
        case Control::StackGraph:
        case Control::StackImage: return stack_->overlay(imageControl);
        case Control::ProcessImage:
        case Control::Histograph: return process_->processingOverlay(imageControl);
        case Control::GammaSplineGraph: return editors_->gammaGraph();
        default: break;
    }
    static const Drawing nothing;
    return nothing;
}

void TMainForm::lockControlsForRun(bool locked) {
    for (const ControlDefinition& desc : controlTable())
        if (desc.lockedDuringRun) control(desc.id).setLocked(locked);
}

void TMainForm::showTabs(bool align, bool stack, bool process) {
    control(Control::TabSheet2).setVisible(align);
    control(Control::TabSheet3).setVisible(stack);
    control(Control::TabSheet4).setVisible(process);
}

}  // namespace planexor
