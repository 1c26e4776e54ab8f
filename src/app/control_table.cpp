#include "app/control_table.h"

#include <unordered_map>

namespace planexor {
namespace {

using K = ControlKind;
using P = ControlPlace;

ControlSpec make(std::string name, K kind, P place, std::string caption = {}) {
    ControlSpec desc;
    desc.name = std::move(name);
    desc.kind = kind;
    desc.place = place;
    desc.caption = std::move(caption);
    return desc;
}

ControlSpec button(std::string name, P place, std::string caption, bool visible = true) {
    auto desc = make(std::move(name), K::Button, place, std::move(caption));
    desc.visible = visible;
    return desc;
}

ControlSpec checkBox(std::string name, P place, std::string caption, bool checked, bool visible = true) {
    auto desc = make(std::move(name), K::CheckBox, place, std::move(caption));
    desc.defaultChecked = checked;
    desc.visible = visible;
    return desc;
}

ControlSpec slider(std::string name, P place, double minimum, double maximum, double value,
                   bool visible = true) {
    auto desc = make(std::move(name), K::Slider, place);
    desc.minimum = minimum;
    desc.maximum = maximum;
    desc.defaultValue = value;
    desc.visible = visible;
    return desc;
}

ControlSpec spin(std::string name, P place, std::string caption, double minimum, double maximum,
                 double step, int decimals, double value, bool visible = true) {
    auto desc = make(std::move(name), K::Spin, place, std::move(caption));
    desc.minimum = minimum;
    desc.maximum = maximum;
    desc.step = step;
    desc.decimals = decimals;
    desc.defaultValue = value;
    desc.visible = visible;
    return desc;
}

ControlSpec radio(std::string name, P place, std::string caption, std::vector<std::string> items,
                  int index, int columns = 1, bool visible = true) {
    auto desc = make(std::move(name), K::RadioGroup, place, std::move(caption));
    desc.maximum = static_cast<double>(items.size()) - 1;
    desc.items = std::move(items);
    desc.defaultValue = index;
    desc.columns = columns;
    desc.visible = visible;
    return desc;
}

ControlSpec label(std::string name, P place, std::string caption, bool visible = true) {
    auto desc = make(std::move(name), K::Label, place, std::move(caption));
    desc.visible = visible;
    return desc;
}

ControlSpec hidden(ControlSpec desc) {
    desc.visible = false;
    return desc;
}

ControlSpec disabled(ControlSpec desc) {
    desc.enabled = false;
    return desc;
}

ControlSpec in(std::string parent, ControlSpec desc) {
    desc.parent = std::move(parent);
    return desc;
}

ControlSpec toolWindow(std::string name, std::string caption, int left, int top, int width, int height) {
    auto desc = make(std::move(name), K::ToolWindow, P::Window, std::move(caption));
    desc.visible = false;
    desc.left = left;
    desc.top = top;
    desc.width = width;
    desc.height = height;
    return desc;
}

ControlSpec page(std::string name, std::string caption, bool visible) {
    auto desc = make(std::move(name), K::Page, P::Window, std::move(caption));
    desc.visible = visible;
    return desc;
}

ControlSpec withHint(ControlSpec desc, std::string hint) {
    desc.hint = std::move(hint);
    return desc;
}

std::vector<ControlSpec> buildTable() {
    std::vector<ControlSpec> t;
    auto add = [&t](ControlSpec desc) { t.push_back(std::move(desc)); };

    // The window, its pages and the top bar.
    add(make("MainForm", K::Page, P::Window, "Planexor"));
    add(label("VersionCaption", P::TopBar, "Planexor Freeware Version"));
    add(button("LoadProject", P::TopBar, "LoadProject"));
    add(button("SaveProject", P::TopBar, "SaveProject"));
    add(button("BitBtn1", P::TopBar, "Help"));
    add(button("BitBtn2", P::TopBar, "Cancel"));
    add(radio("PageControl1", P::Window, "", {"Select Input", "Align Frames", "Stack Frames",
                                             "Image Processing", "About"}, 0));
    add(page("TabSheet1", "Select Input", true));
    add(page("TabSheet2", "Align Frames", false));
    add(page("TabSheet3", "Stack Frames", false));
    add(page("TabSheet4", "Image Processing", false));
    add(page("TabSheet5", "About", true));

    // Select Input.
    add(withHint(make("PreviewImage", K::Image, P::Page1), "Point at alignment feature"));
    add(make("Showpanel", K::Panel, P::Page1, "Planexor V 1.1 beta"));
    add(hidden(make("Frontpanel", K::Panel, P::Page1)));
    add(in("Frontpanel", label("Label9", P::Page1, "0 / 0")));
    add(in("Frontpanel", label("Frames", P::Page1, "Frames")));
    add(in("Frontpanel", hidden(make("UseFramesign", K::Shape, P::Page1))));
    add(in("Frontpanel", withHint(slider("PreviewSlider", P::Page1, 0, 0, 0), "Spacebar toggles enable/disable")));
    add(checkBox("ShowFramelist", P::Page1, "Show frame list", false));
    add(radio("FFTsizeGroup", P::Page1, "Alignment box (pixels)", {"64", "128", "256"}, 1, 3, false));
    add(checkBox("Interlaced", P::Page1, "De-interlace", false));
    add(checkBox("InterlaceHoriz", P::Page1, "Horizontal", false, false));
    add(checkBox("ColourStack", P::Page1, "Colour processing", true));
    add(button("SelectFileButton", P::Page1, "Select input"));
    add(checkBox("SaveSub", P::Page1, "Save to subdir", false));
    add(hidden(make("Subdirname", K::Edit, P::Page1, "processed")));
    add(checkBox("UseDarkFrame", P::Page1, "Use darkframe", false, false));
    add(button("LoadDarkframe", P::Page1, "Load Darkframe"));
    add(button("CreateDarkframe", P::Page1, "Make Darkframe", false));
    add(checkBox("UseFlatfield", P::Page1, "Use flatfield", false, false));
    add(button("Flatfieldbutton", P::Page1, "Load Flatfield"));
    add(button("CreateFlatfield", P::Page1, "Make Flatfield", false));
    add(hidden(make("DirectoryListBox1", K::Edit, P::Page1)));
    add(hidden(make("DriveComboBox1", K::Edit, P::Page1)));

    // Align Frames.
    add(make("AlignImage", K::Image, P::Page2));
    add(button("Allignallbutton", P::Page2, "Align"));
    add(disabled(button("Optimizebutton", P::Page2, "Optimize")));
    add(button("AlignStackButton", P::Page2, "Align && stack"));
    add(button("AlignOneBUtton", P::Page2, "Recalc FFT", false));
    add(button("Haltbutton", P::Page2, "Re-Align", false));
    add(make("Trackpanel", K::Panel, P::Page2, "Tracking"));
    add(in("Trackpanel", checkBox("Followme", P::Page2, "Track object", true)));
    add(in("Trackpanel", checkBox("PredictTrack", P::Page2, "Predict track", false)));
    add(in("Trackpanel", checkBox("Misalignwarning", P::Page2, "Misalign warning", false)));
    add(make("Optimizepanel", K::Panel, P::Page2, "Optimizing"));
    add(in("Optimizepanel", spin("OptimizeSpin", P::Page2, "Optimize until ", 1, 50, 1, 0, 1)));
    add(in("Optimizepanel", spin("SearchArea", P::Page2, "Search area", 1, 10, 1, 0, 2)));
    add(in("Optimizepanel", spin("OptimizeQualitySpin", P::Page2, "Lower quality", 0, 100, 5, 0, 80)));
    add(make("ProcessingPanel", K::Panel, P::Page2, "Processing options"));
    add(in("ProcessingPanel", checkBox("BlurBox", P::Page2, "Bias subtract", false)));
    add(in("ProcessingPanel", spin("Bias", P::Page2, "", 0, 255, 1, 0, 50, false)));
    add(in("Filters group", checkBox("FFTFilter", P::Page2, "FFT filter", true)));
    add(in("Filters group", spin("FFTFilterspin", P::Page2, "pixels", 1, 50, 0.1, 1, 10)));
    add(in("Filters group", spin("QualityFilter", P::Page2, "Quality estimate", 1, 250, 1, 0, 12)));
    add(in("Graphs", checkBox("ShowFFTbox", P::Page2, "Show FFT", false)));
    add(in("Graphs", checkBox("Showgraphbox", P::Page2, "Show graph", true)));
    add(in("Options", checkBox("Resampled", P::Page2, "Resampling", false)));
    add(in("Options", spin("ResampleSpin", P::Page2, "x", 1.0, 4.0, 0.1, 1, 2.0, false)));
    add(checkBox("AutoOptimize", P::Page2, "Auto-Optimisation", true));
    add(radio("Correlationtype", P::Page2, "Correlation type", {"Cross", "Phase"}, 0, 1, false));
    add(checkBox("Normalize", P::Page2, "Normalized", true, false));
    add(checkBox("Showtracebox", P::Page2, "Show aligning", true, false));
    add(slider("AlignSlider", P::Page2, 0, 0, 0, false));
    add(label("Label4", P::Page2, "Frames", false));
    add(hidden(make("Memo2", K::Memo, P::Page2)));

    // Stack Frames.
    add(make("StackImage", K::Image, P::Page3));
    add(button("Stackbutton", P::Page3, "Stack"));
    add(button("SaveButton", P::Page3, "Save"));
    add(button("SetMiddleButton", P::Page3, "Set middle", false));
    add(in("Options", checkBox("QualStack", P::Page3, "Use image quality", true)));
    add(in("Options", checkBox("Averagepixel", P::Page3, "Partial coverage ", true)));
    add(in("Options", checkBox("Colourprocess2", P::Page3, "Colour processing", true)));
    add(in("Options", checkBox("Expandstack", P::Page3, "Expand image", false)));
    add(checkBox("Stacklist", P::Page3, "Show stack list", false));
    add(make("ResamplePanel", K::Panel, P::Page3, "Resampling"));
    add(in("ResamplePanel", radio("Filters", P::Page3, "Filters", {"Bell", "B-Spline", "Lanczos", "Mitchell"}, 3)));
    add(hidden(make("DeInterlacepanel", K::Panel, P::Page3, "De-interlacing")));
    add(in("DeInterlacepanel", radio("interlaceinterpolation", P::Page3, "Interpolation",
                                     {"none", "odd && even lines", "odd lines ", "even lines "}, 1)));
    add(make("Stackgraphpanel", K::Panel, P::Page3, "Stack graph"));
    add(in("Stackgraphpanel", make("StackGraph", K::Image, P::Page3)));
    add(in("Stackgraphpanel", slider("StackSlider", P::Page3, 0, 0, 0)));
    add(in("Stackgraphpanel", slider("differencecutslider", P::Page3, 0, 100, 100)));
    add(label("StackInfoLabel", P::Page3, "Stacking :"));
    add(label("Stackimagesize", P::Page3, "Image :"));
    add(spin("Xshift", P::Page3, "Xshift", -1024, 1024, 10, 0, 0));
    add(spin("Yshift", P::Page3, "Yshift", -1024, 1024, 10, 0, 0));

    // Image Processing.
    add(make("ProcessImage", K::Image, P::Page4));
    add(button("ProcessButton", P::Page4, "Process"));
    add(checkBox("AutoProcessBox", P::Page4, "Auto-processsing", false));
    add(button("ResetButton", P::Page4, "Reset"));
    add(disabled(button("SaveBMP2button", P::Page4, "Save")));
    add(button("Shrink", P::Page4, "Resize"));
    add(radio("Scaletype", P::Page4, "Wavelet Layers", {"Dyadic (2^n)", "Linear"}, 1));
    add(spin("LevelStep", P::Page4, "Initial", 1, 8, 1, 0, 1));
    add(spin("Multiplicant", P::Page4, "Step", 0, 8, 1, 0, 0));
    for (int layer = 1; layer <= 6; ++layer) {
        add(slider("RxSlider" + std::to_string(layer + 2), P::Page4, -50, 500, 10));
        add(checkBox("CheckBox" + std::to_string(layer + 4), P::Page4, std::to_string(layer) + ":", true));
        add(button("layer" + std::to_string(layer) + "button", P::Page4, "1.0"));
    }
    add(slider("ContrastSlider", P::Page4, 10, 500, 100));
    add(label("ContrastLabel", P::Page4, "Contrast :100"));
    add(slider("BrightnessSlider", P::Page4, -127, 127, 0));
    add(label("Brightnesslabel", P::Page4, "Brightness :0"));
    add(spin("Gamma1spin", P::Page4, "Gamma", 0.1, 10.0, 0.1, 1, 1.0));
    add(checkBox("Gammawin", P::Page4, "Gamma curve", false));
    add(checkBox("Histowin", P::Page4, "Histogram stretch", false));
    add(make("Boxoptionspanel", K::Panel, P::Page4, "Selection"));
    add(in("Boxoptionspanel", checkBox("Showsectionbox", P::Page4, "Draw box", false)));
    add(in("Boxoptionspanel", checkBox("SaveSectionbox", P::Page4, "Save selection", false, false)));
    add(in("Boxoptionspanel", disabled(checkBox("Section", P::Page4, "Process selection", false))));
    add(make("Imageoptionspanel", K::Panel, P::Page4, "Image options"));
    add(in("Imageoptionspanel", checkBox("HorizFlipCheckbox", P::Page4, "Vertical", false)));
    add(in("Imageoptionspanel", checkBox("VertiFlipCheckbox", P::Page4, "Horizontal", false)));
    add(in("Imageoptionspanel", checkBox("Filtercheckbox", P::Page4, "Show wavelet filter", false)));
    add(hidden(slider("HorizScrollbar", P::Page4, 0, 1, 0)));
    add(hidden(slider("VertiScrollbar", P::Page4, 0, 1, 0)));
    t[t.size() - 2].kind = K::ScrollBar;
    t[t.size() - 1].kind = K::ScrollBar;

    // About.
    add(label("AboutTitle", P::Page5, "Planexor V1.1 "));
    add(label("AboutText", P::Page5, "Free software for alignment/stacking/processing of images"));
    add(label("HomepageLabel", P::Page5, "Planexor Homepage"));
    add(label("MailLabel", P::Page5, "Send Email "));
    add(make("SecretPanel1", K::Panel, P::Page5, "Credits"));

    // Tool windows and what they hold.
    add(toolWindow("FFTWindow", "FFT spectrum 128x128", 200, 192, 251, 251));
    add(in("FFTWindow", make("imgFFT", K::Image, P::ToolWindow)));
    add(toolWindow("Propertywindow", "Registration properties", 200, 280, 251, 203));
    add(in("Propertywindow", make("imgGraph", K::Image, P::ToolWindow)));
    // The last registration's feature position in the box and its shift.
    add(in("Propertywindow", label("Label1", P::ToolWindow, "", false)));
    add(in("Propertywindow", label("Label3", P::ToolWindow, "", false)));
    add(toolWindow("SelectFrameswindow", "Frame list", 184, 96, 177, 345));
    add(in("SelectFrameswindow", make("SelectFramesChecklist", K::CheckList, P::ToolWindow)));
    add(in("SelectFrameswindow", button("BitBtn4", P::ToolWindow, "Set all")));
    add(in("SelectFrameswindow", button("BitBtn5", P::ToolWindow, "Set none")));
    add(in("SelectFrameswindow", button("Framelistsavebutton", P::ToolWindow, "Save")));
    add(in("SelectFrameswindow", button("Framelistloadbutton", P::ToolWindow, "Load")));
    add(in("SelectFrameswindow", button("AddFramesButton", P::ToolWindow, "Add", false)));
    add(toolWindow("Stackframeswindow", "Stackframes", 352, 128, 177, 281));
    add(in("Stackframeswindow", make("StackFramesList", K::CheckList, P::ToolWindow)));
    add(toolWindow("FilterWindow", "Wavelet Filter", 344, 288, 241, 145));
    for (const char* tap : {"00", "10", "20", "01", "11", "21", "02", "12", "22"})
        add(in("FilterWindow", spin(std::string("Filter") + tap + "spin", P::ToolWindow, "", -100, 100, 1, 0,
                                    std::string(tap) == "11" ? 50 : 6)));
    add(in("FilterWindow", button("Button1", P::ToolWindow, "Set")));
    add(in("FilterWindow", button("Button3", P::ToolWindow, "Reset")));
    add(toolWindow("GammaWindow", "GammaWindow", 328, 152, 267, 331));
    add(toolWindow("HistoWindow", "Histogram", 400, 128, 395, 307));
    add(in("HistoWindow", make("Histograph", K::Image, P::ToolWindow)));
    // The stretch markers under the graph: their left edge is the marker's level.
    add(in("HistoWindow", make("Lowtriangle", K::Shape, P::ToolWindow)));
    add(in("HistoWindow", make("Hitriangle", K::Shape, P::ToolWindow)));
    add(in("HistoWindow", checkBox("Showpeak", P::ToolWindow, "Show peak", false)));
    add(in("HistoWindow", checkBox("HistoSmooth", P::ToolWindow, "Smooth", false)));
    add(in("HistoWindow", button("HistoReset", P::ToolWindow, "Reset")));
    add(in("HistoWindow", button("BitBtn3", P::ToolWindow, "Stretch")));
    add(in("HistoWindow", slider("RedSlider", P::ToolWindow, -100, 100, 0)));
    add(in("HistoWindow", slider("GreenSlider", P::ToolWindow, -100, 100, 0)));
    add(in("HistoWindow", slider("blueslider", P::ToolWindow, -100, 100, 0)));
    add(toolWindow("HintWindow", "Hints", 208, 224, 297, 153));
    add(in("HintWindow", make("Hintsmemo", K::Memo, P::ToolWindow)));
    add(toolWindow("MessageWindow", "Progress ", 384, 304, 153, 121));
    add(in("MessageWindow", label("messagewinlabel", P::ToolWindow, "")));
    add(in("MessageWindow", label("Messagewinlabel2", P::ToolWindow, "")));
    add(in("MessageWindow", slider("Progressgraph", P::ToolWindow, 0, 100, 0)));
    add(toolWindow("Shrinkview", "Resized image", 368, 104, 529, 273));
    add(in("Shrinkview", make("ShrinkImage", K::Image, P::ToolWindow)));
    add(in("Shrinkview", label("Imagesize", P::ToolWindow, "")));
    add(in("Shrinkview", button("SaveShrink", P::ToolWindow, "Save")));
    add(in("Shrinkview", button("Shrinktooriginal", P::ToolWindow, "Original")));
    add(in("Shrinkview", radio("ResizeFilters", P::ToolWindow, "Filters", {"Bell", "B-Spline", "Lanczos", "Mitchell"}, 1)));
    return t;
}

}  // namespace

const std::vector<ControlSpec>& controlTable() {
    static const std::vector<ControlSpec> table = buildTable();
    return table;
}

const ControlSpec* findControlSpec(std::string_view name) {
    static const auto index = [] {
        std::unordered_map<std::string_view, const ControlSpec*> map;
        for (const auto& desc : controlTable()) map.emplace(desc.name, &desc);
        return map;
    }();
    const auto found = index.find(name);
    return found == index.end() ? nullptr : found->second;
}

std::string StoredKey::key() const {
    if (windowLeft) return control + "_Left";
    if (windowTop) return control + "_Top";
    switch (property) {
        case StoredProperty::Checked: return control + "_Checked";
        case StoredProperty::Value: return control + "_Value";
        case StoredProperty::ItemIndex: return control + "_ItemIndex";
        case StoredProperty::Expand: return control + "_Expand";
        case StoredProperty::Visible: return control + "_Visible";
        case StoredProperty::None: break;
    }
    return control;
}

const std::vector<StoredKey>& storedKeys() {
    static const std::vector<StoredKey> keys = [] {
        // The persisted list, in the order a settings file or project writes it.
        static const char* const list[] = {
            "AutoOptimize.Checked", "Averagepixel.Checked", "Bias.Value", "BlurBox.Checked",
            "Boxoptionspanel.Expand", "CheckBox10.Checked", "CheckBox5.Checked", "CheckBox6.Checked",
            "CheckBox7.Checked", "CheckBox8.Checked", "CheckBox9.Checked", "ColourStack.Checked",
            "Correlationtype.ItemIndex", "DeInterlacepanel.Expand", "differencecutslider.Value",
            "Expandstack.Checked", "FFTFilter.Checked", "FFTFilterspin.Value", "FFTsizeGroup.ItemIndex",
            "FFTWindow.Left", "FFTWindow.Top", "Filter00spin.Value", "Filter01spin.Value",
            "Filter02spin.Value", "Filter10spin.Value", "Filter11spin.Value", "Filter12spin.Value",
            "Filter20spin.Value", "Filter22spin.Value", "Filter21spin.Value", "Filtercheckbox.Checked",
            "FilterWindow.Left", "FilterWindow.Top", "Followme.Checked", "Gamma1spin.Value",
            "Gammawin.Checked", "GammaWindow.Left", "GammaWindow.Top", "HintWindow.Left",
            "HintWindow.Top", "HistoSmooth.Checked", "Histowin.Checked", "HistoWindow.Left",
            "HistoWindow.Top", "HorizFlipCheckbox.Checked", "HorizScrollbar.Visible",
            "Imageoptionspanel.Expand", "Interlaced.Checked", "InterlaceHoriz.Checked",
            "LevelStep.Value", "MessageWindow.Left", "MessageWindow.Top", "Misalignwarning.Checked",
            "Multiplicant.Value", "Normalize.Checked", "Optimizepanel.Expand",
            "OptimizeQualitySpin.Value", "OptimizeSpin.Value", "PredictTrack.Checked",
            "ProcessingPanel.Expand", "Propertywindow.Left", "Propertywindow.Top",
            "QualityFilter.Value", "QualStack.Checked", "Resampled.Checked", "ResamplePanel.Expand",
            "ResampleSpin.Value", "RxSlider3.Value", "RxSlider4.Value", "RxSlider5.Value",
            "RxSlider6.Value", "RxSlider7.Value", "RxSlider8.Value", "SaveSectionbox.Checked",
            "Scaletype.ItemIndex", "SearchArea.Value", "Section.Checked", "SelectFrameswindow.Left",
            "SelectFrameswindow.Top", "ShowFFTbox.Checked", "ShowFramelist.Checked",
            "Showgraphbox.Checked", "Showpeak.Checked", "Showsectionbox.Checked", "Shrinkview.Left",
            "Stackframeswindow.Left", "Stackframeswindow.Top", "Stackgraphpanel.Expand",
            "Stacklist.Checked", "StackSlider.Value", "Trackpanel.Expand", "UseDarkFrame.Checked",
            "UseFlatfield.Checked", "VertiFlipCheckbox.Checked", "Xshift.Value", "Yshift.Value",
            "Gammawin.Left", "Gammawin.Top", "Colourprocess2.Checked",
            "interlaceinterpolation.ItemIndex", "BrightnessSlider.Value", "ContrastSlider.Value",
            "ResizeFilters.ItemIndex", "AutoProcessBox.Checked", "Shrinkview.Top", "Filters.ItemIndex",
        };
        std::vector<StoredKey> result;
        for (const char* entry : list) {
            const std::string text = entry;
            const auto dot = text.find('.');
            StoredKey key;
            key.control = text.substr(0, dot);
            const std::string property = text.substr(dot + 1);
            if (property == "Checked") key.property = StoredProperty::Checked;
            else if (property == "Value") key.property = StoredProperty::Value;
            else if (property == "ItemIndex") key.property = StoredProperty::ItemIndex;
            else if (property == "Expand") key.property = StoredProperty::Expand;
            else if (property == "Visible") key.property = StoredProperty::Visible;
            key.windowLeft = property == "Left";
            key.windowTop = property == "Top";
            result.push_back(key);
        }
        return result;
    }();
    return keys;
}

}  // namespace planexor
