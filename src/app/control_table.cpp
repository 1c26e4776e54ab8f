#include "app/control_table.h"

#include <algorithm>
#include <array>

namespace planexor {
namespace {

using K = ControlKind;
using P = ControlPlace;
using C = Control;

ControlDefinition make(Control id, K kind, P place, std::string caption = {}) {
    ControlDefinition desc;
    desc.id = id;
    desc.name = std::string(controlName(id));
    desc.kind = kind;
    desc.place = place;
    desc.caption = std::move(caption);
    // What the user can change is what a run must not see change.
    desc.lockedDuringRun = kind == K::Button || kind == K::CheckBox || kind == K::Slider || kind == K::Spin ||
                           kind == K::RadioGroup || kind == K::CheckList || kind == K::Edit;
    return desc;
}

// Usable while a run goes on: Cancel, Re-Align, the boxes that only show or
// hide a tool window, and what only displays or pans.
ControlDefinition live(ControlDefinition desc) {
    desc.lockedDuringRun = false;
    return desc;
}

ControlDefinition button(Control id, P place, std::string caption, bool visible = true) {
    auto desc = make(id, K::Button, place, std::move(caption));
    desc.visible = visible;
    return desc;
}

ControlDefinition checkBox(Control id, P place, std::string caption, bool checked, bool visible = true) {
    auto desc = make(id, K::CheckBox, place, std::move(caption));
    desc.defaultChecked = checked;
    desc.visible = visible;
    return desc;
}

ControlDefinition slider(Control id, P place, double minimum, double maximum, double value,
                   bool visible = true) {
    auto desc = make(id, K::Slider, place);
    desc.minimum = minimum;
    desc.maximum = maximum;
    desc.defaultValue = value;
    desc.visible = visible;
    return desc;
}

ControlDefinition spin(Control id, P place, std::string caption, double minimum, double maximum,
                 double step, int decimals, double value, bool visible = true) {
    auto desc = make(id, K::Spin, place, std::move(caption));
    desc.minimum = minimum;
    desc.maximum = maximum;
    desc.step = step;
    desc.decimals = decimals;
    desc.defaultValue = value;
    desc.visible = visible;
    return desc;
}

ControlDefinition radio(Control id, P place, std::string caption, std::vector<std::string> items,
                  int index, int columns = 1, bool visible = true) {
    auto desc = make(id, K::RadioGroup, place, std::move(caption));
    desc.maximum = static_cast<double>(items.size()) - 1;
    desc.items = std::move(items);
    desc.defaultValue = index;
    desc.columns = columns;
    desc.visible = visible;
    return desc;
}

ControlDefinition label(Control id, P place, std::string caption, bool visible = true) {
    auto desc = make(id, K::Label, place, std::move(caption));
    desc.visible = visible;
    return desc;
}

ControlDefinition hidden(ControlDefinition desc) {
    desc.visible = false;
    return desc;
}

ControlDefinition disabled(ControlDefinition desc) {
    desc.enabled = false;
    return desc;
}

ControlDefinition in(std::string parent, ControlDefinition desc) {
    desc.parent = std::move(parent);
    return desc;
}

ControlDefinition toolWindow(Control id, std::string caption, int left, int top, int width, int height) {
    auto desc = make(id, K::ToolWindow, P::Window, std::move(caption));
    desc.visible = false;
    desc.left = left;
    desc.top = top;
    desc.width = width;
    desc.height = height;
    return desc;
}

ControlDefinition page(Control id, std::string caption, bool visible) {
    auto desc = make(id, K::Page, P::Window, std::move(caption));
    desc.visible = visible;
    return desc;
}

ControlDefinition stored(ControlDefinition desc, std::vector<StoredEntry> entries) {
    desc.stored = std::move(entries);
    return desc;
}

ControlDefinition readWhenUsed(ControlDefinition desc) {
    desc.noHandler = true;
    return desc;
}

ControlDefinition mouseDriven(ControlDefinition desc) {
    desc.noHandler = true;
    return desc;
}

ControlDefinition withHint(ControlDefinition desc, std::string hint) {
    desc.hint = std::move(hint);
    return desc;
}

std::vector<ControlDefinition> buildTable() {
    std::vector<ControlDefinition> t;
    auto add = [&t](ControlDefinition desc) { t.push_back(std::move(desc)); };

    // The window, its pages and the top bar.
    add(make(C::MainForm, K::Page, P::Window, "Planexor"));
    add(label(C::VersionCaption, P::TopBar, "Planexor Freeware Version"));
    add(button(C::LoadProject, P::TopBar, "LoadProject"));
    add(button(C::SaveProject, P::TopBar, "SaveProject"));
    add(live(button(C::BitBtn1, P::TopBar, "Help")));
    add(live(button(C::BitBtn2, P::TopBar, "Cancel")));
    add(radio(C::PageControl1, P::Window, "", {"Select Input", "Align Frames", "Stack Frames",
                                             "Image Processing", "About"}, 0));
    add(page(C::TabSheet1, "Select Input", true));
    add(page(C::TabSheet2, "Align Frames", false));
    add(page(C::TabSheet3, "Stack Frames", false));
    add(page(C::TabSheet4, "Image Processing", false));
    add(page(C::TabSheet5, "About", true));

    // Select Input.
    add(withHint(make(C::PreviewImage, K::Image, P::Page1), "Point at alignment feature"));
    add(make(C::Showpanel, K::Panel, P::Page1, "Planexor V 1.1 beta"));
    add(hidden(make(C::Frontpanel, K::Panel, P::Page1)));
    add(in("Frontpanel", label(C::Label9, P::Page1, "0 / 0")));
    add(in("Frontpanel", label(C::Frames, P::Page1, "Frames")));
    add(in("Frontpanel", hidden(make(C::UseFramesign, K::Shape, P::Page1))));
    add(in("Frontpanel", withHint(slider(C::PreviewSlider, P::Page1, 0, 0, 0), "Spacebar toggles enable/disable")));
    add(stored(live(checkBox(C::ShowFramelist, P::Page1, "Show frame list", false)), {{StoredProperty::Checked, 80}}));
    add(stored(radio(C::FFTsizeGroup, P::Page1, "Alignment box (pixels)", {"64", "128", "256"}, 1, 3, false), {{StoredProperty::ItemIndex, 18}}));
    add(stored(checkBox(C::Interlaced, P::Page1, "De-interlace", false), {{StoredProperty::Checked, 47}}));
    add(stored(checkBox(C::InterlaceHoriz, P::Page1, "Horizontal", false, false), {{StoredProperty::Checked, 48}}));
    add(stored(checkBox(C::ColourStack, P::Page1, "Colour processing", true), {{StoredProperty::Checked, 11}}));
    add(button(C::SelectFileButton, P::Page1, "Select input"));
    add(checkBox(C::SaveSub, P::Page1, "Save to subdir", false));
    add(hidden(make(C::Subdirname, K::Edit, P::Page1, "processed")));
    add(stored(readWhenUsed(checkBox(C::UseDarkFrame, P::Page1, "Use darkframe", false, false)), {{StoredProperty::Checked, 91}}));
    add(button(C::LoadDarkframe, P::Page1, "Load Darkframe"));
    add(button(C::CreateDarkframe, P::Page1, "Make Darkframe", false));
    add(stored(readWhenUsed(checkBox(C::UseFlatfield, P::Page1, "Use flatfield", false, false)), {{StoredProperty::Checked, 92}}));
    add(button(C::Flatfieldbutton, P::Page1, "Load Flatfield"));
    add(button(C::CreateFlatfield, P::Page1, "Make Flatfield", false));
    add(hidden(make(C::DirectoryListBox1, K::Edit, P::Page1)));
    add(hidden(make(C::DriveComboBox1, K::Edit, P::Page1)));

    // Align Frames.
    add(make(C::AlignImage, K::Image, P::Page2));
    add(button(C::Allignallbutton, P::Page2, "Align"));
    add(disabled(button(C::Optimizebutton, P::Page2, "Optimize")));
    add(button(C::AlignStackButton, P::Page2, "Align && stack"));
    add(button(C::AlignOneBUtton, P::Page2, "Recalc FFT", false));
    add(live(button(C::Haltbutton, P::Page2, "Re-Align", false)));
    add(stored(make(C::Trackpanel, K::Panel, P::Page2, "Tracking"), {{StoredProperty::Expand, 90}}));
    add(stored(in("Trackpanel", readWhenUsed(checkBox(C::Followme, P::Page2, "Track object", true))), {{StoredProperty::Checked, 33}}));
    add(stored(in("Trackpanel", readWhenUsed(checkBox(C::PredictTrack, P::Page2, "Predict track", false))), {{StoredProperty::Checked, 58}}));
    add(stored(in("Trackpanel", checkBox(C::Misalignwarning, P::Page2, "Misalign warning", false)), {{StoredProperty::Checked, 52}}));
    add(stored(make(C::Optimizepanel, K::Panel, P::Page2, "Optimizing"), {{StoredProperty::Expand, 55}}));
    add(stored(in("Optimizepanel", spin(C::OptimizeSpin, P::Page2, "Optimize until ", 1, 50, 1, 0, 1)), {{StoredProperty::Value, 57}}));
    add(stored(in("Optimizepanel", spin(C::SearchArea, P::Page2, "Search area", 1, 10, 1, 0, 2)), {{StoredProperty::Value, 75}}));
    add(stored(in("Optimizepanel", spin(C::OptimizeQualitySpin, P::Page2, "Lower quality", 0, 100, 5, 0, 80)), {{StoredProperty::Value, 56}}));
    add(stored(make(C::ProcessingPanel, K::Panel, P::Page2, "Processing options"), {{StoredProperty::Expand, 59}}));
    add(stored(in("ProcessingPanel", checkBox(C::BlurBox, P::Page2, "Bias subtract", false)), {{StoredProperty::Checked, 3}}));
    add(stored(in("ProcessingPanel", spin(C::Bias, P::Page2, "", 0, 255, 1, 0, 50, false)), {{StoredProperty::Value, 2}}));
    add(stored(in("Filters group", checkBox(C::FFTFilter, P::Page2, "FFT filter", true)), {{StoredProperty::Checked, 16}}));
    add(stored(in("Filters group", spin(C::FFTFilterspin, P::Page2, "pixels", 1, 50, 0.1, 1, 10)), {{StoredProperty::Value, 17}}));
    add(stored(in("Filters group", spin(C::QualityFilter, P::Page2, "Quality estimate", 1, 250, 1, 0, 12)), {{StoredProperty::Value, 62}}));
    add(stored(in("Graphs", live(checkBox(C::ShowFFTbox, P::Page2, "Show FFT", false))), {{StoredProperty::Checked, 79}}));
    add(stored(in("Graphs", live(checkBox(C::Showgraphbox, P::Page2, "Show graph", true))), {{StoredProperty::Checked, 81}}));
    add(stored(in("Options", checkBox(C::Resampled, P::Page2, "Resampling", false)), {{StoredProperty::Checked, 64}}));
    add(stored(in("Options", spin(C::ResampleSpin, P::Page2, "x", 1.0, 4.0, 0.1, 1, 2.0, false)), {{StoredProperty::Value, 66}}));
    add(stored(readWhenUsed(checkBox(C::AutoOptimize, P::Page2, "Auto-Optimisation", true)), {{StoredProperty::Checked, 0}}));
    add(stored(readWhenUsed(radio(C::Correlationtype, P::Page2, "Correlation type", {"Cross", "Phase"}, 0, 1, false)), {{StoredProperty::ItemIndex, 12}}));
    add(stored(readWhenUsed(checkBox(C::Normalize, P::Page2, "Normalized", true, false)), {{StoredProperty::Checked, 54}}));
    // Beyond whole pixels: options, off by default, not kept in the settings or project.
    add(readWhenUsed(checkBox(C::SubpixelBox, P::Page2, "Sub-pixel", false)));
    add(readWhenUsed(radio(C::QualityMeasure, P::Page2, "Quality", {"Spectrum", "Disc"}, 0, 2)));
    {
        ControlDefinition points = readWhenUsed(spin(C::PointsSpin, P::Page2, "Alignment points", -1, 400, 1, 0, 0));
        points.minimumText = "auto";
        add(std::move(points));
    }
    add(readWhenUsed(checkBox(C::LocalQualityBox, P::Page2, "Local quality", false)));
    add(checkBox(C::Showtracebox, P::Page2, "Show aligning", true, false));
    add(slider(C::AlignSlider, P::Page2, 0, 0, 0, false));
    add(label(C::Label4, P::Page2, "Frames", false));
    add(hidden(make(C::Memo2, K::Memo, P::Page2)));

    // Stack Frames.
    add(make(C::StackImage, K::Image, P::Page3));
    add(button(C::Stackbutton, P::Page3, "Stack"));
    add(button(C::SaveButton, P::Page3, "Save"));
    add(button(C::SetMiddleButton, P::Page3, "Set middle", false));
    add(stored(in("Options", readWhenUsed(checkBox(C::QualStack, P::Page3, "Use image quality", true))), {{StoredProperty::Checked, 63}}));
    add(stored(in("Options", readWhenUsed(checkBox(C::Averagepixel, P::Page3, "Partial coverage ", true))), {{StoredProperty::Checked, 1}}));
    add(stored(in("Options", checkBox(C::Colourprocess2, P::Page3, "Colour processing", true)), {{StoredProperty::Checked, 98}}));
    add(stored(in("Options", checkBox(C::Expandstack, P::Page3, "Expand image", false)), {{StoredProperty::Checked, 15}}));
    add(stored(live(checkBox(C::Stacklist, P::Page3, "Show stack list", false)), {{StoredProperty::Checked, 88}}));
    add(stored(make(C::ResamplePanel, K::Panel, P::Page3, "Resampling"), {{StoredProperty::Expand, 65}}));
    add(stored(in("ResamplePanel", readWhenUsed(radio(C::Filters, P::Page3, "Filters", {"Bell", "B-Spline", "Lanczos", "Mitchell"}, 3))), {{StoredProperty::ItemIndex, 105}}));
    add(stored(hidden(make(C::DeInterlacepanel, K::Panel, P::Page3, "De-interlacing")), {{StoredProperty::Expand, 13}}));
    add(stored(in("DeInterlacepanel", readWhenUsed(radio(C::interlaceinterpolation, P::Page3, "Interpolation",
                                            {"none", "odd && even lines", "odd lines ", "even lines "}, 1))),
               {{StoredProperty::ItemIndex, 99}}));
    add(stored(make(C::Stackgraphpanel, K::Panel, P::Page3, "Stack graph"), {{StoredProperty::Expand, 87}}));
    add(in("Stackgraphpanel", make(C::StackGraph, K::Image, P::Page3)));
    add(stored(in("Stackgraphpanel", slider(C::StackSlider, P::Page3, 0, 0, 0)), {{StoredProperty::Value, 89}}));
    // The difference cut-off's caption above its slider.
    add(in("Stackgraphpanel", label(C::RxLabel4, P::Page3, "Difference Cutoff (blue line)")));
    add(stored(in("Stackgraphpanel", slider(C::differencecutslider, P::Page3, 0, 100, 100)), {{StoredProperty::Value, 14}}));
    add(label(C::StackInfoLabel, P::Page3, "Stacking :"));
    add(label(C::Stackimagesize, P::Page3, "Image :"));
    add(stored(spin(C::Xshift, P::Page3, "Xshift", -1024, 1024, 10, 0, 0), {{StoredProperty::Value, 94}}));
    add(stored(spin(C::Yshift, P::Page3, "Yshift", -1024, 1024, 10, 0, 0), {{StoredProperty::Value, 95}}));

    // Image Processing.
    add(make(C::ProcessImage, K::Image, P::Page4));
    add(button(C::ProcessButton, P::Page4, "Process"));
    add(stored(checkBox(C::AutoProcessBox, P::Page4, "Auto-processsing", false), {{StoredProperty::Checked, 103}}));
    add(button(C::ResetButton, P::Page4, "Reset"));
    add(disabled(button(C::SaveBMP2button, P::Page4, "Save")));
    add(button(C::Shrink, P::Page4, "Resize"));
    add(stored(radio(C::Scaletype, P::Page4, "Wavelet Layers", {"Dyadic (2^n)", "Linear"}, 1), {{StoredProperty::ItemIndex, 74}}));
    add(stored(spin(C::LevelStep, P::Page4, "Initial", 1, 8, 1, 0, 1), {{StoredProperty::Value, 49}}));
    add(stored(spin(C::Multiplicant, P::Page4, "Step", 0, 8, 1, 0, 0), {{StoredProperty::Value, 53}}));
    // Stored order: the layer boxes from 5 (CheckBox10 first), the gain sliders from 67.
    constexpr int LayerBoxOrder[6] = {6, 7, 8, 9, 10, 5};
    for (int layer = 1; layer <= 6; ++layer) {
        add(stored(slider(GainSliders[layer - 1], P::Page4, -50, 500, 10), {{StoredProperty::Value, 66 + layer}}));
        add(stored(checkBox(LayerCheckBoxes[layer - 1], P::Page4, std::to_string(layer) + ":", true),
                   {{StoredProperty::Checked, LayerBoxOrder[layer - 1]}}));
        add(mouseDriven(button(LayerButtons[layer - 1], P::Page4, "1.0")));
    }
    add(label(C::ContrastMinusLabel, P::Page4, "-"));
    add(stored(slider(C::ContrastSlider, P::Page4, 10, 500, 100), {{StoredProperty::Value, 101}}));
    add(label(C::ContrastPlusLabel, P::Page4, "+"));
    add(label(C::ContrastLabel, P::Page4, "Contrast :100"));
    add(stored(slider(C::BrightnessSlider, P::Page4, -127, 127, 0), {{StoredProperty::Value, 100}}));
    add(label(C::Brightnesslabel, P::Page4, "Brightness :0"));
    add(stored(spin(C::Gamma1spin, P::Page4, "Gamma", 0.1, 10.0, 0.1, 1, 1.0), {{StoredProperty::Value, 34}}));
    add(stored(live(checkBox(C::Gammawin, P::Page4, "Gamma curve", false)), {{StoredProperty::Checked, 35}, {StoredProperty::Left, 96}, {StoredProperty::Top, 97}}));
    add(stored(live(checkBox(C::Histowin, P::Page4, "Histogram stretch", false)), {{StoredProperty::Checked, 41}}));
    add(stored(make(C::Boxoptionspanel, K::Panel, P::Page4, "Selection box"), {{StoredProperty::Expand, 4}}));
    add(stored(in("Boxoptionspanel", checkBox(C::Showsectionbox, P::Page4, "Draw box", false)), {{StoredProperty::Checked, 83}}));
    add(stored(in("Boxoptionspanel", checkBox(C::SaveSectionbox, P::Page4, "Save selection", false, false)), {{StoredProperty::Checked, 73}}));
    add(stored(in("Boxoptionspanel", disabled(checkBox(C::Section, P::Page4, "Process selection", false))), {{StoredProperty::Checked, 76}}));
    add(stored(make(C::Imageoptionspanel, K::Panel, P::Page4, "Image options"), {{StoredProperty::Expand, 46}}));
    add(stored(in("Imageoptionspanel", checkBox(C::HorizFlipCheckbox, P::Page4, "Vertical", false)), {{StoredProperty::Checked, 44}}));
    add(stored(in("Imageoptionspanel", checkBox(C::VertiFlipCheckbox, P::Page4, "Horizontal", false)), {{StoredProperty::Checked, 93}}));
    add(stored(in("Imageoptionspanel", live(checkBox(C::Filtercheckbox, P::Page4, "Show wavelet filter", false))), {{StoredProperty::Checked, 30}}));
    add(stored(hidden(live(slider(C::HorizScrollbar, P::Page4, 0, 1, 0))), {{StoredProperty::Visible, 45}}));
    add(hidden(live(slider(C::VertiScrollbar, P::Page4, 0, 1, 0))));
    t[t.size() - 2].kind = K::ScrollBar;
    t[t.size() - 1].kind = K::ScrollBar;

    // About.
    add(label(C::AboutTitle, P::Page5, "Planexor V1.1 "));
    add(label(C::AboutText, P::Page5, "Free software for alignment/stacking/processing of images"));
    add(label(C::HomepageLabel, P::Page5, "Planexor Homepage"));
    add(label(C::MailLabel, P::Page5, "Send Email "));
    add(make(C::SecretPanel1, K::Panel, P::Page5, "Credits"));

    // Tool windows and what they hold.
    add(stored(toolWindow(C::FFTWindow, "FFT spectrum 128x128", 200, 192, 251, 251), {{StoredProperty::Left, 19}, {StoredProperty::Top, 20}}));
    add(in("FFTWindow", make(C::imgFFT, K::Image, P::ToolWindow)));
    add(stored(toolWindow(C::Propertywindow, "Registration properties", 200, 280, 251, 203), {{StoredProperty::Left, 60}, {StoredProperty::Top, 61}}));
    add(in("Propertywindow", make(C::imgGraph, K::Image, P::ToolWindow)));
    // The last registration's feature position in the box and its shift.
    add(in("Propertywindow", label(C::Label1, P::ToolWindow, "", false)));
    add(in("Propertywindow", label(C::Label3, P::ToolWindow, "", false)));
    add(stored(toolWindow(C::SelectFrameswindow, "Frame list", 184, 96, 177, 345), {{StoredProperty::Left, 77}, {StoredProperty::Top, 78}}));
    add(in("SelectFrameswindow", withHint(make(C::SelectFramesChecklist, K::CheckList, P::ToolWindow), "when selecting multiple frames double click \nthe filename that shows a dotted outline !")));
    add(in("SelectFrameswindow", button(C::BitBtn4, P::ToolWindow, "Set all")));
    add(in("SelectFrameswindow", button(C::BitBtn5, P::ToolWindow, "Set none")));
    add(in("SelectFrameswindow", button(C::Framelistsavebutton, P::ToolWindow, "Save")));
    add(in("SelectFrameswindow", button(C::Framelistloadbutton, P::ToolWindow, "Load")));
    add(in("SelectFrameswindow", button(C::AddFramesButton, P::ToolWindow, "Add", false)));
    add(stored(toolWindow(C::Stackframeswindow, "Stackframes", 352, 128, 177, 281), {{StoredProperty::Left, 85}, {StoredProperty::Top, 86}}));
    add(in("Stackframeswindow", make(C::StackFramesList, K::CheckList, P::ToolWindow)));
    add(stored(toolWindow(C::FilterWindow, "Wavelet Filter", 344, 288, 241, 145), {{StoredProperty::Left, 31}, {StoredProperty::Top, 32}}));
    add(in("FilterWindow", make(C::Panel4, K::Panel, P::ToolWindow)));
    // In kernel order; the stored order is by name, but for Filter22spin before Filter21spin.
    // Typed weights may be negative or fractional; "Set" reads them.
    constexpr int FilterSpinOrder[9] = {21, 24, 27, 22, 25, 29, 23, 26, 28};
    for (int tap = 0; tap < 9; ++tap)
        add(stored(in("Panel4", readWhenUsed(spin(FilterSpins[tap], P::ToolWindow, "", -1000, 1000, 1, 2, tap == 4 ? 50 : 6))),
                   {{StoredProperty::Value, FilterSpinOrder[tap]}}));
    add(in("FilterWindow", button(C::Button1, P::ToolWindow, "Set")));
    add(in("FilterWindow", button(C::Button3, P::ToolWindow, "Reset")));
    add(stored(toolWindow(C::GammaWindow, "GammaWindow", 328, 152, 267, 331), {{StoredProperty::Left, 36}, {StoredProperty::Top, 37}}));
    add(in("GammaWindow", make(C::GammaSplineGraph, K::Image, P::ToolWindow)));
    add(in("GammaWindow", button(C::Button2, P::ToolWindow, "Reset")));
    add(in("GammaWindow", label(C::GammaHints, P::ToolWindow,
                                " right-click : insert a point\n ctrl-left-click : delete a point\n double - click : reset")));
    add(stored(toolWindow(C::HistoWindow, "Histogram", 400, 128, 395, 307), {{StoredProperty::Left, 42}, {StoredProperty::Top, 43}}));
    add(in("HistoWindow", make(C::Histograph, K::Image, P::ToolWindow)));
    // The stretch markers under the graph: their left edge is the marker's level.
    add(in("HistoWindow", make(C::Lowtriangle, K::Shape, P::ToolWindow)));
    add(in("HistoWindow", make(C::Hitriangle, K::Shape, P::ToolWindow)));
    add(stored(in("HistoWindow", checkBox(C::Showpeak, P::ToolWindow, "Show peak", false)), {{StoredProperty::Checked, 82}}));
    add(stored(in("HistoWindow", checkBox(C::HistoSmooth, P::ToolWindow, "Smooth", false)), {{StoredProperty::Checked, 40}}));
    add(in("HistoWindow", button(C::HistoReset, P::ToolWindow, "Reset")));
    add(in("HistoWindow", button(C::BitBtn3, P::ToolWindow, "Stretch")));
    add(in("HistoWindow", slider(C::RedSlider, P::ToolWindow, -100, 100, 0)));
    add(in("HistoWindow", slider(C::GreenSlider, P::ToolWindow, -100, 100, 0)));
    add(in("HistoWindow", slider(C::blueslider, P::ToolWindow, -100, 100, 0)));
    add(stored(toolWindow(C::HintWindow, "Hints", 208, 224, 297, 153), {{StoredProperty::Left, 38}, {StoredProperty::Top, 39}}));
    add(in("HintWindow", make(C::Hintsmemo, K::Memo, P::ToolWindow)));
    add(stored(toolWindow(C::MessageWindow, "Progress ", 384, 304, 153, 121), {{StoredProperty::Left, 50}, {StoredProperty::Top, 51}}));
    add(in("MessageWindow", label(C::messagewinlabel, P::ToolWindow, "")));
    add(in("MessageWindow", label(C::Messagewinlabel2, P::ToolWindow, "")));
    add(in("MessageWindow", live(slider(C::Progressgraph, P::ToolWindow, 0, 100, 0))));
    add(stored(toolWindow(C::Shrinkview, "Resized image", 368, 104, 529, 273), {{StoredProperty::Left, 84}, {StoredProperty::Top, 104}}));
    add(in("Shrinkview", make(C::ShrinkImage, K::Image, P::ToolWindow)));
    add(in("Shrinkview", label(C::Imagesize, P::ToolWindow, "")));
    add(in("Shrinkview", button(C::SaveShrink, P::ToolWindow, "Save")));
    add(in("Shrinkview", button(C::Shrinktooriginal, P::ToolWindow, "Original")));
    add(stored(in("Shrinkview", radio(C::ResizeFilters, P::ToolWindow, "Filters", {"Bell", "B-Spline", "Lanczos", "Mitchell"}, 1)), {{StoredProperty::ItemIndex, 102}}));
    return t;
}

}  // namespace

const std::vector<ControlDefinition>& controlTable() {
    static const std::vector<ControlDefinition> table = buildTable();
    return table;
}

const ControlDefinition& definitionOf(Control control) {
    static const auto index = [] {
        std::array<const ControlDefinition*, ControlCount> byId{};
        for (const auto& desc : controlTable()) byId[indexOf(desc.id)] = &desc;
        return byId;
    }();
    return *index[indexOf(control)];
}

std::string PersistedKey::key() const {
    const std::string name(controlName(control));
    switch (property) {
        case StoredProperty::Checked: return name + "_Checked";
        case StoredProperty::Value: return name + "_Value";
        case StoredProperty::ItemIndex: return name + "_ItemIndex";
        case StoredProperty::Expand: return name + "_Expand";
        case StoredProperty::Visible: return name + "_Visible";
        case StoredProperty::Left: return name + "_Left";
        case StoredProperty::Top: return name + "_Top";
        case StoredProperty::None: break;
    }
    return name;
}

const std::vector<PersistedKey>& persistedKeys() {
    static const std::vector<PersistedKey> keys = [] {
        std::vector<std::pair<int, PersistedKey>> ordered;
        for (const auto& desc : controlTable())
            for (const StoredEntry& entry : desc.stored) ordered.push_back({entry.order, {desc.id, entry.property}});
        std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<PersistedKey> result;
        for (const auto& [order, key] : ordered) result.push_back(key);
        return result;
    }();
    return keys;
}

}  // namespace planexor
