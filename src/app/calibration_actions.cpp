// Loading and making the dark frame and the flat field.
#include "app/calibration_actions.h"

#include <algorithm>
#include <array>
#include <utility>
#include <filesystem>
#include <vector>

#include "app/main_form.h"
#include "core/error.h"
#include "core/pixel.h"
#include "core/scoped_value.h"
#include "input/calibration.h"

namespace planexor {
namespace {

const std::vector<std::string> CalibrationFilters = {"bitmap 24bits (*.bmp)", "special planexor fits (*.fitq)",
                                                     "fits (*.fit *.fits)"};

// Controls whose work would move, resample or rebuild the calibration
// frames, or leave sums instead of means: held at their neutral value for
// one making run and given back afterwards, without their handlers.
class NeutralStackControls {
public:
    explicit NeutralStackControls(TMainForm& form) : form_(form) {
        for (const auto& [control, checked] : CheckBoxes) {
            ControlModel& model = form_.control(control);
            checkedBefore_.push_back(model.checked());
            model.setChecked(checked);
        }
        for (const Control control : Shifts) {
            valuesBefore_.push_back(form_.control(control).value());
            form_.control(control).setValue(0);
        }
    }
    ~NeutralStackControls() {
        for (std::size_t i = 0; i < CheckBoxes.size(); ++i)
            form_.control(CheckBoxes[i].first).setChecked(checkedBefore_[i]);
        for (std::size_t i = 0; i < Shifts.size(); ++i) form_.control(Shifts[i]).setValue(valuesBefore_[i]);
    }
    NeutralStackControls(const NeutralStackControls&) = delete;
    NeutralStackControls& operator=(const NeutralStackControls&) = delete;

private:
    static constexpr std::array<std::pair<Control, bool>, 5> CheckBoxes = {{{Control::Resampled, false},
                                                                           {Control::Expandstack, false},
                                                                           {Control::Interlaced, false},
                                                                           {Control::Averagepixel, true},
                                                                           {Control::SubpixelBox, false}}};
    static constexpr std::array<Control, 2> Shifts = {Control::Xshift, Control::Yshift};
    TMainForm& form_;
    std::vector<bool> checkedBefore_;
    std::vector<double> valuesBefore_;
};

}  // namespace

CalibrationActions::CalibrationActions(TMainForm& form) : form_(form), ui_(form.ui()) {}

void CalibrationActions::bindHandlers() {
    // A load or a making run changes what a running stack reads.
    form_.bind(Control::LoadDarkframe, "LoadDarkframeClick", true, [this] { LoadDarkframeClick(); });
    form_.bind(Control::Flatfieldbutton, "FlatfieldbuttonClick", true, [this] { FlatfieldbuttonClick(); });
    form_.bind(Control::CreateDarkframe, "CreateDarkframeClick", true, [this] { CreateDarkframeClick(); });
    form_.bind(Control::CreateFlatfield, "CreateDarkframeClick", true, [this] { CreateDarkframeClick(); });
}

void CalibrationActions::LoadDarkframeClick() { askAndLoad(Kind::Dark); }

void CalibrationActions::FlatfieldbuttonClick() { askAndLoad(Kind::Flat); }

void CalibrationActions::askAndLoad(Kind kind) {
    const Workspace& w = form_.workspace();
    const int lastType = kind == Kind::Dark ? w.darkfiletype : w.flatfiletype;
    FileDialogRequest request;
    request.dialog = "OpenDialog";
    request.filters = CalibrationFilters;
    request.filterIndex = lastType >= CalibrationBmp && lastType <= CalibrationFits ? lastType : CalibrationBmp;
    request.defaultExtension = "FIT";
    request.directory = form_.sequenceDirectory();
    const FileDialogAnswer answer = ui_.runFileDialog(request);
    if (!answer.accepted || answer.files.empty()) return;
    // A name typed in is loaded as the type its extension names, whatever filter showed.
    const std::string& path = answer.files.front();
    load(kind, path, calibrationTypeOfName(path).value_or(static_cast<CalibrationFileType>(answer.filterIndex)), true);
}

void CalibrationActions::load(Kind kind, const std::string& path, int typeIndex, bool chosen) {
    Workspace& w = form_.workspace();
    const bool dark = kind == Kind::Dark;
    const CalibrationLoad result = dark ? loadDarkFrame(w, path, typeIndex) : loadFlatField(w, path, typeIndex);
    // A FITS calibration is grey: stacking goes mono when the user picks one.
    // A project keeps the choice it was saved with, made after that.
    if (chosen && result.uncheckColourStack) form_.control(Control::ColourStack).setCheckedByUser(false);
    if (!result.message.empty()) ui_.showMessage(MessageKind::Warning, result.message);
    ControlModel& useBox = form_.control(dark ? Control::UseDarkFrame : Control::UseFlatfield);
    // A file that was not loaded hides the box only when nothing else is in force to use.
    const bool inForce = dark ? w.DarkWidth > 0 && w.DarkHeight > 0 : w.FlatWidth > 0 && w.FlatHeight > 0;
    useBox.setVisible(result.loaded || inForce);
}

bool CalibrationActions::LoadDarkFile(const std::string& path, int typeIndex) {
    return loadWithoutDialog(Kind::Dark, path, typeIndex);
}

bool CalibrationActions::LoadFlatFile(const std::string& path, int typeIndex) {
    return loadWithoutDialog(Kind::Flat, path, typeIndex);
}

bool CalibrationActions::loadWithoutDialog(Kind kind, const std::string& path, int typeIndex) {
    const bool dark = kind == Kind::Dark;
    ControlModel& useBox = form_.control(dark ? Control::UseDarkFrame : Control::UseFlatfield);
    useBox.setVisible(true);
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        ui_.showMessage(MessageKind::Warning, std::string(dark ? "Warning : darkframe " : "Warning : flatfield ") +
                                                  path + " missing ");
        useBox.setChecked(false);
        return false;
    }
    // Whatever else fails is shown here, so that the rest of a project still loads.
    try {
        load(kind, path, typeIndex, false);
    } catch (const PlanexorError& failure) {
        ui_.showMessage(MessageKind::Error, failure.what());
        useBox.setChecked(false);
        return false;
    }
    const Workspace& w = form_.workspace();
    if ((dark ? w.darkfile : w.flatfile) == path && (dark ? w.darkfiletype : w.flatfiletype) == typeIndex) return true;
    useBox.setChecked(false);
    return false;
}

void CalibrationActions::CreateDarkframeClick() {
    Workspace& w = form_.workspace();
    if (!w.SequenceOpen) throw PlanexorError("Open the sequence of calibration frames first");
    const int last = std::clamp(nearest(form_.control(Control::PreviewSlider).maximum()), 0, LastFrameNumber);
    // Every frame in frame order, each at its own place on the sensor: an
    // earlier alignment's shifts would move the pattern a dark or flat holds.
    for (int n = 0; n <= last; ++n) {
        TFrameRec& record = w.FrameRecs[n];
        record.Quality = record.Difference = record.FieldDifference = 1.0f;
        record.ShiftX = record.ShiftY = record.FieldShiftX = record.FieldShiftY = 0;
        w.Ranking[n].Frame = n;
    }
    // The stack list names each rank's frame: its toggles must reach these.
    form_.frameLists().listRanks(last + 1);
    const ScopedValue<bool> creating(w.DarkCreation, true, false);
    const NeutralStackControls neutral(form_);
    form_.control(Control::TabSheet3).setVisible(true);
    form_.control(Control::PageControl1).setItemIndexByUser(2);
    // Whatever range an alignment left, every frame is a rank now.
    ControlModel& slider = form_.control(Control::StackSlider);
    slider.setRange(0, last);
    if (slider.intValue() != last) slider.setValueByUser(last);
    else form_.StackSliderChange();
    form_.StackButtonClick();
}

}  // namespace planexor
