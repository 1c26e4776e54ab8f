#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace planexor {

// Every named control of the main window, once, in the order of the control
// table. The names are the window's component names; code refers to a control
// by its enumerator, so a misspelt name does not compile.
#define PLANEXOR_CONTROLS(X) \
    X(MainForm) X(VersionCaption) X(LoadProject) X(SaveProject) X(BitBtn1) X(BitBtn2) X(PageControl1) \
    X(TabSheet1) X(TabSheet2) X(TabSheet3) X(TabSheet4) X(TabSheet5) X(PreviewImage) X(Showpanel) \
    X(Frontpanel) X(Label9) X(Frames) X(UseFramesign) X(PreviewSlider) X(ShowFramelist) X(FFTsizeGroup) \
    X(Interlaced) X(InterlaceHoriz) X(ColourStack) X(SelectFileButton) X(SaveSub) X(Subdirname) \
    X(UseDarkFrame) X(LoadDarkframe) X(CreateDarkframe) X(UseFlatfield) X(Flatfieldbutton) X(CreateFlatfield) \
    X(DirectoryListBox1) X(DriveComboBox1) X(AlignImage) X(Allignallbutton) X(Optimizebutton) X(AlignStackButton) \
    X(AlignOneBUtton) X(Haltbutton) X(Trackpanel) X(Followme) X(PredictTrack) X(Misalignwarning) \
    X(Optimizepanel) X(OptimizeSpin) X(SearchArea) X(OptimizeQualitySpin) X(ProcessingPanel) X(BlurBox) \
    X(Bias) X(FFTFilter) X(FFTFilterspin) X(QualityFilter) X(ShowFFTbox) X(Showgraphbox) X(Resampled) \
    X(ResampleSpin) X(AutoOptimize) X(Correlationtype) X(Normalize) X(SubpixelBox) X(QualityMeasure) X(PointsSpin) X(LocalQualityBox) X(Showtracebox) X(AlignSlider) \
    X(Label4) X(Memo2) X(StackImage) X(Stackbutton) X(SaveButton) X(SetMiddleButton) X(QualStack) \
    X(Averagepixel) X(Colourprocess2) X(Expandstack) X(Stacklist) X(ResamplePanel) X(Filters) X(DeInterlacepanel) \
    X(interlaceinterpolation) X(Stackgraphpanel) X(StackGraph) X(StackSlider) X(differencecutslider) \
    X(RxLabel4) X(StackInfoLabel) X(Stackimagesize) X(Xshift) X(Yshift) X(ProcessImage) X(ProcessButton) \
    X(AutoProcessBox) X(ResetButton) X(SaveBMP2button) X(Shrink) X(Scaletype) X(LevelStep) X(Multiplicant) \
    X(RxSlider3) X(CheckBox5) X(layer1button) X(RxSlider4) X(CheckBox6) X(layer2button) X(RxSlider5) \
    X(CheckBox7) X(layer3button) X(RxSlider6) X(CheckBox8) X(layer4button) X(RxSlider7) X(CheckBox9) \
    X(layer5button) X(RxSlider8) X(CheckBox10) X(layer6button) X(ContrastMinusLabel) X(ContrastSlider) \
    X(ContrastPlusLabel) X(ContrastLabel) X(BrightnessSlider) X(Brightnesslabel) X(Gamma1spin) \
    X(Gammawin) X(Histowin) X(Boxoptionspanel) X(Showsectionbox) X(SaveSectionbox) X(Section) X(Imageoptionspanel) \
    X(HorizFlipCheckbox) X(VertiFlipCheckbox) X(Filtercheckbox) X(HorizScrollbar) X(VertiScrollbar) \
    X(AboutTitle) X(AboutText) X(HomepageLabel) X(MailLabel) X(SecretPanel1) X(FFTWindow) X(imgFFT) \
    X(Propertywindow) X(imgGraph) X(Label1) X(Label3) X(SelectFrameswindow) X(SelectFramesChecklist) \
    X(BitBtn4) X(BitBtn5) X(Framelistsavebutton) X(Framelistloadbutton) X(AddFramesButton) X(Stackframeswindow) \
    X(StackFramesList) X(FilterWindow) X(Panel4) X(Filter00spin) X(Filter10spin) X(Filter20spin) X(Filter01spin) \
    X(Filter11spin) X(Filter21spin) X(Filter02spin) X(Filter12spin) X(Filter22spin) X(Button1) \
    X(Button3) X(GammaWindow) X(GammaSplineGraph) X(Button2) X(GammaHints) X(HistoWindow) X(Histograph) X(Lowtriangle) X(Hitriangle) X(Showpeak) \
    X(HistoSmooth) X(HistoReset) X(BitBtn3) X(RedSlider) X(GreenSlider) X(blueslider) X(HintWindow) \
    X(Hintsmemo) X(MessageWindow) X(messagewinlabel) X(Messagewinlabel2) X(Progressgraph) X(Shrinkview) \
    X(ShrinkImage) X(Imagesize) X(SaveShrink) X(Shrinktooriginal) X(ResizeFilters)

enum class Control : std::uint16_t {
#define PLANEXOR_CONTROL_ENUMERATOR(name) name,
    PLANEXOR_CONTROLS(PLANEXOR_CONTROL_ENUMERATOR)
#undef PLANEXOR_CONTROL_ENUMERATOR
};

inline constexpr std::size_t ControlCount = 0
#define PLANEXOR_CONTROL_COUNT(name) +1
    PLANEXOR_CONTROLS(PLANEXOR_CONTROL_COUNT)
#undef PLANEXOR_CONTROL_COUNT
    ;

constexpr std::size_t indexOf(Control control) { return static_cast<std::size_t>(control); }

// The component name, as the window's objects, files and traces spell it.
std::string_view controlName(Control control);
// For the places that meet a name from outside: a widget, a file, a test script.
std::optional<Control> controlByName(std::string_view name);

// Controls that come in families, indexed from the first.
inline constexpr std::array<Control, 6> GainSliders = {Control::RxSlider3, Control::RxSlider4, Control::RxSlider5,
                                                       Control::RxSlider6, Control::RxSlider7, Control::RxSlider8};
inline constexpr std::array<Control, 6> LayerCheckBoxes = {Control::CheckBox5, Control::CheckBox6, Control::CheckBox7,
                                                           Control::CheckBox8, Control::CheckBox9, Control::CheckBox10};
inline constexpr std::array<Control, 6> LayerButtons = {Control::layer1button, Control::layer2button,
                                                        Control::layer3button, Control::layer4button,
                                                        Control::layer5button, Control::layer6button};
inline constexpr std::array<Control, 5> TabSheets = {{Control::TabSheet1, Control::TabSheet2, Control::TabSheet3,
                                                     Control::TabSheet4, Control::TabSheet5}};
// The wavelet filter's nine spins in kernel order: row by row from the top, left to right.
inline constexpr std::array<Control, 9> FilterSpins = {Control::Filter00spin, Control::Filter10spin,
                                                       Control::Filter20spin, Control::Filter01spin,
                                                       Control::Filter11spin, Control::Filter21spin,
                                                       Control::Filter02spin, Control::Filter12spin,
                                                       Control::Filter22spin};

}  // namespace planexor
