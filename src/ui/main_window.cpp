#include "ui/main_window.h"

#include <algorithm>

#include <QCheckBox>
#include <QCloseEvent>
#include <QShowEvent>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTabWidget>
#include <QTextBrowser>
#include <QGuiApplication>
#include <QTimer>
#include <QVBoxLayout>

#include "app/processing_view.h"
#include "ui/control_binding.h"
#include "ui/widgets.h"

namespace planexor {
namespace {

constexpr int ColumnWidth = 240;  // the controls beside a page's picture
constexpr int StackColumnWidth = 268;
constexpr int HistographSide = 275;
constexpr int GammaGraphSide = 256;  // input and output levels 0..255
const QColor ViewBackground(48, 48, 48);

QString qt(const std::string& text) { return QString::fromStdString(text); }

// Controls shown side by side, in this order, where the first of them would
// stand.
const std::vector<std::vector<std::string>>& rows() {
    static const std::vector<std::vector<std::string>> list = [] {
        std::vector<std::vector<std::string>> r = {
            {"LoadProject", "SaveProject", "BitBtn1", "BitBtn2"},
            {"PreviewSlider", "UseFramesign", "Label9"},
            {"LoadDarkframe", "CreateDarkframe"},
            {"Flatfieldbutton", "CreateFlatfield"},
            {"UseDarkFrame", "UseFlatfield"},
            {"Allignallbutton", "Optimizebutton"},
            {"AlignOneBUtton", "Haltbutton"},
            {"AlignStackButton", "AutoOptimize"},
            {"BlurBox", "Bias"},
            {"FFTFilter", "FFTFilterspin"},
            {"ShowFFTbox", "Showgraphbox"},
            {"Resampled", "ResampleSpin"},
            {"Normalize", "Showtracebox"},
            {"AlignSlider", "Label4"},
            {"Stackbutton", "SaveButton"},
            {"QualStack", "Averagepixel"},
            {"Colourprocess2", "Expandstack"},
            {"Stackimagesize", "Xshift", "Yshift"},
            {"ProcessButton", "ResetButton"},
            {"SaveBMP2button", "Shrink"},
            {"LevelStep", "Multiplicant"},
            {"ContrastLabel", "ContrastMinusLabel", "ContrastSlider", "ContrastPlusLabel", "Brightnesslabel", "BrightnessSlider"},
            {"Gamma1spin", "Gammawin", "Histowin"},
            {"Correlationtype", "Normalize", "Showtracebox"},
            {"SubpixelBox", "QualityMeasure", "PointsSpin", "LocalQualityBox"},
            {"HorizFlipCheckbox", "VertiFlipCheckbox"},
            {"BitBtn4", "BitBtn5"},
            {"Framelistsavebutton", "Framelistloadbutton"},
            {"Button1", "Button3"},
            {"Filter00spin", "Filter10spin", "Filter20spin"},
            {"Filter01spin", "Filter11spin", "Filter21spin"},
            {"Filter02spin", "Filter12spin", "Filter22spin"},
            {"SaveShrink", "Shrinktooriginal"},
        };
        for (int layer = 1; layer <= 6; ++layer)
            r.push_back({"CheckBox" + std::to_string(layer + 4), "RxSlider" + std::to_string(layer + 2),
                         "layer" + std::to_string(layer) + "button"});
        return r;
    }();
    return list;
}

const std::vector<std::string>* rowOf(const std::string& name) {
    for (const auto& row : rows())
        if (std::find(row.begin(), row.end(), name) != row.end()) return &row;
    return nullptr;
}

// Text that explains a control and has no name of its own: above it, or
// beside it on its left.
struct Legend {
    const char* text;
    bool beside;
};
const Legend* legendOf(const std::string& name) {
    static const std::map<std::string, Legend> legends = {
        {"StackSlider", {"Quality Cutoff (red line)", false}},
        {"HorizFlipCheckbox", {"Flip (axis):", false}},
        {"RedSlider", {"Red", true}},
        {"GreenSlider", {"Green", true}},
        {"blueslider", {"Blue", true}},
    };
    const auto found = legends.find(name);
    return found == legends.end() ? nullptr : &found->second;
}

// Units shown after a spin's value; where the caption is itself the unit
// it becomes the suffix.
const char* unitOf(const std::string& name) {
    static const std::map<std::string, const char*> units = {
        {"OptimizeSpin", " %"}, {"OptimizeQualitySpin", " %"}, {"SearchArea", " pixels"}, {"QualityFilter", " pixels"},
    };
    const auto found = units.find(name);
    return found == units.end() ? nullptr : found->second;
}
bool captionIsUnit(const std::string& name) { return name == "FFTFilterspin" || name == "ResampleSpin"; }

// Short items share a line where the page is short of height.
int columnsOf(const ControlDefinition& desc) {
    if (desc.name == "Filters" || desc.name == "Correlationtype" || desc.name == "Scaletype") return 2;
    return desc.columns;
}

bool isCollapsible(const std::string& name) {
    static const std::set<std::string> panels = {"Trackpanel",      "Optimizepanel",  "ProcessingPanel",
                                                 "ResamplePanel",   "DeInterlacepanel", "Stackgraphpanel",
                                                 "Boxoptionspanel", "Imageoptionspanel"};
    return panels.count(name) != 0;
}

// Groups named only as a parent in the table.
QString groupTitle(const std::string& parent) {
    const std::string suffix = " group";
    if (parent.size() > suffix.size() && parent.ends_with(suffix)) return qt(parent.substr(0, parent.size() - suffix.size()));
    return qt(parent);
}

bool onPage(const ControlDefinition& desc, ControlPlace place) { return desc.place == place; }

void compact(QBoxLayout* layout, int spacing = 3) {
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
}

// Controls in a row share its width; in a column they keep their height.
int sideways(QBoxLayout* layout) { return layout->direction() == QBoxLayout::LeftToRight ? 1 : 0; }

}  // namespace

// Where the controls of one page or tool window go: the column (beside the
// picture), the strip under the picture, and the groups named as parents.
struct MainWindow::Surface {
    QBoxLayout* column = nullptr;
    QBoxLayout* below = nullptr;
    std::set<std::string> belowNames;
    std::map<std::string, QBoxLayout*> groups;
    std::set<std::string> placed;
    std::set<std::string> legendsPlaced;
};

MainWindow::MainWindow(TMainForm& form, QWidget* parent)
    : QWidget(parent), form_(form), binder_(new ControlBinder(form, this)) {
    binder_->bindWindowCaption(this, form.control(Control::MainForm));
    binder_->setAfterUserAction([this] {
        refreshImages();
        placeUnmovedToolWindows();  // a loaded project may have put some back at their design places
    });
    setFixedSize(ClientWidth, ClientHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    buildTopBar(layout);

    pages_ = new QTabWidget(this);
    pages_->setUsesScrollButtons(false);
    std::vector<ControlModel*> sheets;
    for (int page = 1; page <= 5; ++page) {
        const auto place = static_cast<ControlPlace>(static_cast<int>(ControlPlace::Page1) + page - 1);
        const Control sheet = TabSheets[page - 1];
        QWidget* widget = buildPage(place);
        widget->setObjectName(qt(std::string(controlName(sheet))));
        pages_->addTab(widget, qt(form.control(sheet).caption()));
        sheets.push_back(&form.control(sheet));
    }
    binder_->bindPages(pages_, form.control(Control::PageControl1), sheets);
    layout->addWidget(pages_, 1);
    // The display labels change their text after each re-map ("C : 150"): as
    // wide as their design text throughout, so the sliders do not move under the pointer.
    for (const Control label : {Control::ContrastLabel, Control::Brightnesslabel})
        if (auto* widget = qobject_cast<QLabel*>(controlWidget(label)))
            widget->setMinimumWidth(widget->sizeHint().width());

    for (const ControlDefinition& desc : controlTable())
        if (desc.kind == ControlKind::ToolWindow) buildToolWindow(desc);
}

MainWindow::~MainWindow() = default;

QWidget* MainWindow::controlWidget(Control id) const { return controlWidget(std::string(controlName(id))); }

QWidget* MainWindow::controlWidget(const std::string& name) const {
    const auto found = widgets_.find(name);
    return found == widgets_.end() ? nullptr : found->second;
}

void MainWindow::refreshImages() {
    for (ImageView* image : images_) image->refresh(false);
    // The resized view's window takes the size the form chose for it.
    const PictureSize wanted = form_.shrinkviewSize();
    auto* shrinkview = static_cast<ToolWindow*>(controlWidget(Control::Shrinkview));
    if (shrinkview && shrinkview->isVisible() && wanted.width > 0 && shrinkview->size() != QSize(wanted.width, wanted.height)) {
        shrinkview->setClientSize(QSize(wanted.width, wanted.height), false);
        // Grown from its design size where it stood: its commands on the right stay on the screen.
        if (const QScreen* screen = shrinkview->screen()) {
            const QPoint place = placeOnScreen(shrinkview->frameGeometry(), screen->availableGeometry());
            if (place != shrinkview->frameGeometry().topLeft()) form_.control(Control::Shrinkview).setPosition(place.x(), place.y());
        }
    }
}

QPoint MainWindow::placeOnScreen(const QRect& frame, const QRect& available) {
    const int left = std::max(available.left(), std::min(frame.left(), available.right() + 1 - frame.width()));
    const int top = std::max(available.top(), std::min(frame.top(), available.bottom() + 1 - frame.height()));
    return {left, top};
}

void MainWindow::buildTopBar(QBoxLayout* layout) {
    auto* bar = new QHBoxLayout;
    compact(bar, 4);
    Surface surface;
    surface.column = bar;
    for (const ControlDefinition& desc : controlTable())
        if (desc.place == ControlPlace::TopBar && desc.kind != ControlKind::Label) place(desc, surface);
    bar->addStretch(1);
    for (const ControlDefinition& desc : controlTable())
        if (desc.place == ControlPlace::TopBar && desc.kind == ControlKind::Label) place(desc, surface);
    if (auto* caption = qobject_cast<QLabel*>(controlWidget(Control::VersionCaption))) {
        QFont font = caption->font();
        font.setBold(true);
        font.setItalic(true);
        caption->setFont(font);
    }
    layout->addLayout(bar);
}

QWidget* MainWindow::buildPage(ControlPlace place) {
    auto* page = new QWidget;
    if (place == ControlPlace::Page5) {
        buildAboutPage(page);
        return page;
    }
    static const std::map<ControlPlace, std::pair<std::string, std::set<std::string>>> designs = {
        {ControlPlace::Page1, {"PreviewImage", {"Frontpanel"}}},
        {ControlPlace::Page2, {"AlignImage", {"AlignSlider", "Label4", "Correlationtype", "Normalize", "Showtracebox", "SubpixelBox",
                                               "QualityMeasure", "PointsSpin", "LocalQualityBox"}}},
        {ControlPlace::Page3, {"StackImage", {"Options", "StackInfoLabel", "Stackimagesize", "Xshift", "Yshift"}}},
        {ControlPlace::Page4,
         {"ProcessImage",
          {"ContrastSlider", "ContrastLabel", "ContrastMinusLabel", "ContrastPlusLabel", "BrightnessSlider", "Brightnesslabel", "Gamma1spin", "Gammawin",
           "Histowin"}}},
    };
    const auto& design = designs.at(place);

    auto* outer = new QHBoxLayout(page);
    outer->setContentsMargins(6, 6, 6, 6);
    outer->setSpacing(8);
    auto* left = new QVBoxLayout;
    compact(left, 4);
    auto* columnWidget = new QWidget;
    // The stack graph is drawn at its own 250 pixels, inside its panel's indent.
    columnWidget->setFixedWidth(place == ControlPlace::Page3 ? StackColumnWidth : ColumnWidth);
    auto* column = new QVBoxLayout(columnWidget);
    compact(column, 3);
    outer->addLayout(left, 1);
    outer->addWidget(columnWidget);

    Surface surface;
    surface.column = column;
    surface.below = new QVBoxLayout;
    compact(surface.below, 3);
    surface.belowNames = design.second;
    left->addWidget(createPageImage(definitionOf(*controlByName(design.first)), surface), 1);
    left->addLayout(surface.below);

    // What starts the page's work comes first.
    if (place == ControlPlace::Page1) this->place(definitionOf(Control::SelectFileButton), surface);
    for (const ControlDefinition& desc : controlTable())
        if (onPage(desc, place)) this->place(desc, surface);
    column->addStretch(1);
    return page;
}

void MainWindow::buildAboutPage(QWidget* page) {
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(10);
    layout->addStretch(1);
    Surface surface;
    surface.column = layout;
    for (const ControlDefinition& desc : controlTable())
        if (onPage(desc, ControlPlace::Page5)) place(desc, surface);
    layout->addStretch(1);
    for (const char* name : {"AboutTitle", "AboutText", "HomepageLabel", "MailLabel"})
        if (auto* label = qobject_cast<QLabel*>(controlWidget(name))) label->setAlignment(Qt::AlignCenter);
    if (auto* title = qobject_cast<QLabel*>(controlWidget(Control::AboutTitle))) {
        QFont font = title->font();
        font.setPointSizeF(font.pointSizeF() * 2);
        font.setBold(true);
        title->setFont(font);
    }
    for (const char* name : {"HomepageLabel", "MailLabel"}) {
        if (auto* label = qobject_cast<QLabel*>(controlWidget(name))) {
            QFont font = label->font();
            font.setUnderline(true);
            label->setFont(font);
            QPalette palette = label->palette();
            palette.setColor(QPalette::WindowText, palette.color(QPalette::Link));
            label->setPalette(palette);
            label->setCursor(Qt::PointingHandCursor);
        }
    }
}

void MainWindow::place(const ControlDefinition& desc, Surface& surface) {
    if (surface.placed.count(desc.name)) return;
    QBoxLayout* into = containerFor(desc, surface);
    if (const auto* row = rowOf(desc.name)) {
        // A legend over the row's first control stands over the whole row.
        if (const Legend* legend = legendOf(row->front()); legend && !legend->beside) {
            auto* text = new QLabel(legend->text);
            binder_->addCompanion(form_.control(*controlByName(row->front())), text);
            into->addWidget(text);
            surface.legendsPlaced.insert(row->front());
        }
        auto* line = new QHBoxLayout;
        compact(line, 4);
        into->addLayout(line);
        for (const std::string& member : *row) {
            const ControlDefinition* memberSpec = controlByName(member) ? &definitionOf(*controlByName(member)) : nullptr;
            if (!memberSpec || surface.placed.count(member)) continue;
            addControl(*memberSpec, line, surface);
        }
        return;
    }
    addControl(desc, into, surface);
}

QBoxLayout* MainWindow::containerFor(const ControlDefinition& desc, Surface& surface) {
    const bool below = surface.belowNames.count(desc.name) != 0 || surface.belowNames.count(desc.parent) != 0;
    QBoxLayout* area = below && surface.below ? surface.below : surface.column;
    if (desc.parent.empty()) return area;
    if (const auto panel = panelContents_.find(desc.parent); panel != panelContents_.end()) return panel->second;
    if (const auto group = surface.groups.find(desc.parent); group != surface.groups.end()) return group->second;
    auto* box = new QGroupBox(groupTitle(desc.parent));
    auto* content = new QVBoxLayout(box);
    content->setContentsMargins(6, 2, 6, 4);
    content->setSpacing(2);
    area->addWidget(box);
    surface.groups[desc.parent] = content;
    return content;
}

void MainWindow::addControl(const ControlDefinition& desc, QBoxLayout* into, Surface& surface) {
    surface.placed.insert(desc.name);
    ControlModel& model = form_.control(desc.id);
    if (const Legend* legend = legendOf(desc.name); legend && !surface.legendsPlaced.count(desc.name)) {
        auto* text = new QLabel(legend->text);
        binder_->addCompanion(model, text);
        if (legend->beside) {
            auto* line = new QHBoxLayout;
            compact(line, 4);
            text->setMinimumWidth(40);
            line->addWidget(text);
            into->addLayout(line);
            into = line;
        } else {
            into->addWidget(text);
        }
    }
    QWidget* widget = createControl(desc, into);
    widgets_[desc.name] = widget;
}

ImageView* MainWindow::createImage(const ControlDefinition& desc) {
    auto* image = new ImageView;
    image->setSource([this, id = desc.id] { return form_.findImage(id); });
    image->setOverlay([this, id = desc.id] { return &form_.overlay(id); });
    // The spectrum is a small square picture that fills its window; the
    // graphs are drawn at their own size.
    if (desc.name == "imgFFT") image->setStretched(true);
    if (desc.name == "imgGraph" || desc.name == "StackGraph") image->setFixedSize(GraphWidth, GraphHeight);
    if (desc.name == "Histograph") image->setFixedSize(HistographSide, HistographSide);
    if (desc.name == "GammaSplineGraph") image->setFixedSize(GammaGraphSide, GammaGraphSide);
    binder_->bindImage(image, form_.control(desc.id));
    images_.push_back(image);
    return image;
}

QWidget* MainWindow::createPageImage(const ControlDefinition& desc, Surface& surface) {
    ImageView* image = createImage(desc);
    widgets_[desc.name] = image;
    surface.placed.insert(desc.name);
    auto* frame = new QWidget;
    auto* grid = new QGridLayout(frame);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);
    if (desc.name == "ProcessImage") {
        // The processed image pans by its place (the scroll bars' handlers
        // set it), so the scroll bars are the form's, not a scroll area's.
        image->setMinimumSize(200, 150);
        image->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        // Pictures larger than the view really shown pan with the scroll bars.
        image->setResizeHandler([this](QSize size) { form_.setProcessViewSize(size.width(), size.height()); });
        grid->addWidget(image, 0, 0);
        for (const char* name : {"HorizScrollbar", "VertiScrollbar"}) {
            const bool vertical = std::string(name) == "VertiScrollbar";
            auto* bar = new QScrollBar(vertical ? Qt::Vertical : Qt::Horizontal);
            // The value is the picture's left (top) edge: the far end shows
            // its right (bottom) part.
            bar->setInvertedAppearance(true);
            bar->setInvertedControls(!vertical);
            binder_->bindSlider(bar, form_.control(*controlByName(name)));
            widgets_[name] = bar;
            surface.placed.insert(name);
            grid->addWidget(bar, vertical ? 0 : 1, vertical ? 1 : 0);
        }
    } else {
        auto* scroll = new QScrollArea;
        scroll->setAlignment(Qt::AlignCenter);
        scroll->setWidgetResizable(false);
        QPalette palette = scroll->palette();
        palette.setColor(QPalette::Window, ViewBackground);
        scroll->setPalette(palette);
        scroll->setBackgroundRole(QPalette::Window);
        scroll->setAutoFillBackground(true);
        image->setFollowsBitmapSize(true);
        scroll->setWidget(image);
        grid->addWidget(scroll, 0, 0);
    }
    if (desc.name == "PreviewImage") {
        // The start panel covers the empty preview until a sequence is open.
        const ControlDefinition* start = &definitionOf(Control::Showpanel);
        auto* panel = new QFrame;
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setAutoFillBackground(true);
        auto* content = new QVBoxLayout(panel);
        content->setContentsMargins(30, 24, 30, 24);
        auto* title = new QLabel(qt(start->caption));
        QFont font = title->font();
        font.setPointSizeF(font.pointSizeF() * 2);
        font.setBold(true);
        title->setFont(font);
        title->setAlignment(Qt::AlignCenter);
        auto* text = new QLabel("Free software for alignment/stacking/processing of images");
        text->setAlignment(Qt::AlignCenter);
        content->addWidget(title);
        content->addWidget(text);
        binder_->bindPanel(panel, form_.control(Control::Showpanel));
        widgets_["Showpanel"] = panel;
        surface.placed.insert("Showpanel");
        grid->addWidget(panel, 0, 0, Qt::AlignCenter);
    }
    return frame;
}

QWidget* MainWindow::createControl(const ControlDefinition& desc, QBoxLayout* into) {
    ControlModel& model = form_.control(desc.id);
    switch (desc.kind) {
        case ControlKind::Button: {
            auto* button = new QPushButton;
            binder_->bindButton(button, model);
            button->setAutoDefault(false);
            if (desc.place == ControlPlace::TopBar) button->setMinimumWidth(96);
            // A layer button shows its weight; the slider beside it needs the room.
            if (desc.name.starts_with("layer")) button->setMaximumWidth(48);
            into->addWidget(button, sideways(into));
            return button;
        }
        case ControlKind::CheckBox: {
            auto* box = new QCheckBox;
            binder_->bindCheckBox(box, model);
            into->addWidget(box);
            return box;
        }
        case ControlKind::Slider:
        case ControlKind::ScrollBar: {
            if (desc.name == "Progressgraph") {
                auto* gauge = new QProgressBar;
                gauge->setAlignment(Qt::AlignCenter);
                gauge->setStyleSheet(
                    "QProgressBar { background: #404040; color: white; border: 1px solid #202020; "
                    "border-radius: 3px; text-align: center; }"
                    "QProgressBar::chunk { background: #008080; }");
                binder_->bindGauge(gauge, model);
                into->addWidget(gauge);
                return gauge;
            }
            QAbstractSlider* slider = nullptr;
            if (desc.kind == ControlKind::ScrollBar) slider = new QScrollBar(Qt::Horizontal);
            else slider = new QSlider(Qt::Horizontal);
            slider->setMinimumWidth(60);
            binder_->bindSlider(slider, model);
            into->addWidget(slider, sideways(into));
            return slider;
        }
        case ControlKind::Spin: {
            auto* spin = new QDoubleSpinBox;
            spin->setAlignment(Qt::AlignRight);
            spin->setMaximumWidth(120);
            QLabel* caption = nullptr;
            if (!desc.caption.empty() && !captionIsUnit(desc.name)) caption = new QLabel;
            if (const char* unit = unitOf(desc.name)) spin->setSuffix(unit);
            if (!desc.minimumText.empty()) spin->setSpecialValueText(qt(desc.minimumText));
            binder_->bindSpin(spin, model, caption);
            auto* line = new QHBoxLayout;
            compact(line, 4);
            // In a column the values line up on the right; in a row each
            // caption stays beside its value.
            if (caption) line->addWidget(caption, 1 - sideways(into));
            line->addWidget(spin, caption ? 0 : 1);
            into->addLayout(line);
            return spin;
        }
        case ControlKind::RadioGroup: {
            auto* group = new RadioGroupBox;
            binder_->bindRadioGroup(group, model, columnsOf(desc));
            into->addWidget(group);
            return group;
        }
        case ControlKind::Label: {
            auto* label = new QLabel;
            binder_->bindLabel(label, model);
            into->addWidget(label);
            return label;
        }
        case ControlKind::Edit: {
            auto* edit = new QLineEdit;
            binder_->bindEdit(edit, model);
            into->addWidget(edit);
            return edit;
        }
        case ControlKind::Memo: {
            if (desc.id == Control::Hintsmemo) {
                auto* help = new QTextBrowser;
                binder_->bindRichMemo(help, model, [this] { return richDocumentHtml(form_.help().panel()); });
                into->addWidget(help, 1);
                return help;
            }
            auto* memo = new QPlainTextEdit;
            binder_->bindMemo(memo, model);
            into->addWidget(memo, 1);
            return memo;
        }
        case ControlKind::Image: {
            ImageView* image = createImage(desc);
            if (desc.name == "ShrinkImage") {
                // The resized copy may be larger than its window.
                auto* scroll = new QScrollArea;
                // The window is sized for the picture alone: a frame would
                // call up scroll bars that hide its right and bottom edges.
                scroll->setFrameShape(QFrame::NoFrame);
                scroll->setAlignment(Qt::AlignCenter);
                image->setFollowsBitmapSize(true);
                scroll->setWidget(image);
                into->addWidget(scroll, 1);
            } else if (desc.name == "imgFFT") {
                image->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
                into->addWidget(image, 1);
            } else {
                into->addWidget(image, 0, Qt::AlignHCenter);
            }
            return image;
        }
        case ControlKind::Shape: {
            auto* shape = new ShapeWidget;
            binder_->bindShape(shape, model);
            into->addWidget(shape, 0, Qt::AlignVCenter);
            return shape;
        }
        case ControlKind::CheckList: {
            auto* list = new CheckListWidget;
            list->setUniformItemSizes(true);  // thousands of frames
            list->setSelectionMode(QAbstractItemView::ExtendedSelection);
            binder_->bindCheckList(list, model);
            into->addWidget(list, 1);
            return list;
        }
        case ControlKind::Panel: {
            if (isCollapsible(desc.name)) {
                auto* panel = new CollapsiblePanel;
                binder_->bindCollapsiblePanel(panel, model);
                panelContents_[desc.name] = panel->contentLayout();
                into->addWidget(panel);
                return panel;
            }
            QWidget* panel = nullptr;
            QBoxLayout* content = nullptr;
            if (desc.caption.empty()) {
                panel = new QWidget;
                content = new QVBoxLayout(panel);
                compact(static_cast<QBoxLayout*>(content), 3);
            } else {
                auto* group = new QGroupBox;
                content = new QVBoxLayout(group);
                content->setContentsMargins(8, 4, 8, 8);
                panel = group;
            }
            if (desc.name == "SecretPanel1") {
                auto* credits = new CreditsTicker(
                    {"Planexor registers, ranks and stacks the frames of planetary videos.", "", "It builds on:",
                     "Qt 6: the window, its pages and tool windows",
                     "FFmpeg (libavformat, libavcodec, libswscale, libavutil): AVI video",
                     "libjpeg-turbo: JPEG frames and pictures",
                     "GoogleTest, Google Benchmark, CFITSIO and FFTW: its tests and measurements", "",
                     "Thanks to everyone who tested it under a night sky."});
                content->addWidget(credits);
            }
            binder_->bindPanel(panel, model);
            panelContents_[desc.name] = content;
            into->addWidget(panel);
            return panel;
        }
        case ControlKind::ToolWindow:
        case ControlKind::Page:
            break;
    }
    return nullptr;
}

void MainWindow::buildToolWindow(const ControlDefinition& desc) {
    static const std::set<std::string> aboveAll = {"HintWindow", "SelectFrameswindow", "GammaWindow"};
    static const std::set<std::string> fixedSize = {"FFTWindow", "Propertywindow", "MessageWindow", "FilterWindow",
                                                     "GammaWindow", "HistoWindow"};
    auto* window = new ToolWindow(this, aboveAll.count(desc.name) != 0);
    window->setClientSize(QSize(desc.width, desc.height), fixedSize.count(desc.name) != 0);
    auto* layout = new QVBoxLayout(window);
    const bool picture = desc.name == "FFTWindow" || desc.name == "Propertywindow";
    if (picture) compact(layout, 0);
    else {
        layout->setContentsMargins(6, 6, 6, 6);
        layout->setSpacing(4);
    }
    Surface surface;
    surface.column = layout;
    panelContents_[desc.name] = layout;
    if (desc.name == "Shrinkview" || desc.name == "HistoWindow") {
        // The picture on the left with what belongs under it, the commands
        // beside it. The resized view's areas are the sizes the form fits
        // its picture into.
        const bool shrink = desc.name == "Shrinkview";
        compact(layout, 0);
        auto* line = new QHBoxLayout;
        compact(line, 0);
        auto* side = new QVBoxLayout;
        side->setContentsMargins(4, 4, 4, 4);
        side->setSpacing(4);
        auto* sideWidget = new QWidget;
        sideWidget->setLayout(side);
        if (shrink) sideWidget->setFixedWidth(ShrinkSideArea);
        layout->addLayout(line);
        auto* imageColumn = new QVBoxLayout;
        compact(imageColumn, 0);
        line->addLayout(imageColumn, shrink ? 1 : 0);
        line->addWidget(sideWidget, shrink ? 0 : 1);
        panelContents_[desc.name] = imageColumn;
        if (shrink) {
            place(definitionOf(Control::ShrinkImage), surface);
            place(definitionOf(Control::Imagesize), surface);
            if (auto* size = controlWidget(Control::Imagesize)) {
                size->setFixedHeight(ShrinkBottomArea);
                size->setContentsMargins(6, 0, 0, 0);
            }
        } else {
            place(definitionOf(Control::Histograph), surface);
            imageColumn->addWidget(buildStretchMarkers());
            surface.placed.insert({"Lowtriangle", "Hitriangle"});
            imageColumn->addStretch(1);
        }
        panelContents_[desc.name] = side;
        placeChildren(desc.name, surface);
        side->addStretch(1);
    } else {
        placeChildren(desc.name, surface);
        if (desc.name == "MessageWindow" || desc.name == "FilterWindow") layout->addStretch(1);
    }
    // A fixed window is never smaller than what it holds: the gamma graph
    // with its Reset button and help lines needs more than its form's height.
    if (fixedSize.count(desc.name) != 0) {
        const QSize need = layout->sizeHint();
        window->setClientSize(QSize(std::max(desc.width, need.width()), std::max(desc.height, need.height())), true);
    }
    if (auto* title = qobject_cast<QLabel*>(controlWidget(Control::messagewinlabel)); title && desc.name == "MessageWindow") {
        QFont font = title->font();
        font.setBold(true);
        title->setFont(font);
        title->setWordWrap(true);
        if (auto* detail = qobject_cast<QLabel*>(controlWidget(Control::Messagewinlabel2))) detail->setWordWrap(true);
    }
    binder_->bindToolWindow(window, form_.control(desc.id));
    widgets_[desc.name] = window;
    toolWindows_.push_back(window);
}

void MainWindow::placeChildren(const std::string& parent, Surface& surface) {
    for (const ControlDefinition& child : controlTable()) {
        if (child.parent != parent) continue;
        place(child, surface);
        if (child.kind == ControlKind::Panel) placeChildren(child.name, surface);
    }
}

QWidget* MainWindow::buildStretchMarkers() {
    // The markers stand under the histogram at their levels: a marker's
    // middle is over the graph's x of its level (level + 9).
    auto* strip = new QWidget;
    strip->setFixedSize(HistographSide, 14);
    for (const char* name : {"Lowtriangle", "Hitriangle"}) {
        auto* marker = new ShapeWidget(strip);
        marker->setTriangle(true);
        marker->setFixedSize(18, 12);
        binder_->bindMarker(marker, form_.control(*controlByName(name)));
        widgets_[name] = marker;
    }
    return strip;
}

// A tool window's title bar and borders, before it has been shown.
constexpr int ToolWindowDecoration = 32;

std::map<Control, QPoint> MainWindow::toolWindowPlaces(const QRect& mainFrame, const QRect& screen,
                                                      const std::function<QSize(Control)>& frameSize) {
    constexpr int Gap = 8;
    const auto sizeOf = [&](Control window) {
        if (frameSize) return frameSize(window);
        const ControlDefinition& desc = definitionOf(window);
        return QSize(desc.width + 2, desc.height + ToolWindowDecoration);
    };
    // The windows that show together, one group a column; a group taller than
    // the screen goes on in a further column rather than over its own windows.
    static const std::vector<std::vector<Control>> groups = {
        {Control::FFTWindow, Control::Propertywindow},
        {Control::SelectFrameswindow},
        {Control::Stackframeswindow},
        {Control::HistoWindow, Control::GammaWindow, Control::FilterWindow},
        {Control::Shrinkview},
        {Control::HintWindow},
    };
    std::map<Control, QPoint> places;
    for (const auto& group : groups) {
        int widest = 0;
        for (const Control window : group) widest = std::max(widest, sizeOf(window).width());
        // Beside the main window where the widest fits, right first; columns
        // grow away from it, and then go on on its other side.
        bool right = mainFrame.right() + Gap + widest <= screen.right() ||
                     mainFrame.left() - Gap - widest < screen.left();
        bool otherSideTaken = false;
        int edge = right ? mainFrame.right() + Gap : mainFrame.left() - Gap;  // the column's side next to the main window
        int top = mainFrame.top(), columnWidth = 0;
        for (const Control window : group) {
            const QSize size = sizeOf(window);
            if (top > mainFrame.top() && top + size.height() > screen.bottom()) {
                const auto fits = [&](bool onRight, int at) {
                    return onRight ? at + size.width() <= screen.right() : at - size.width() >= screen.left();
                };
                const int further = right ? edge + columnWidth + Gap : edge - columnWidth - Gap;
                const int across = right ? mainFrame.left() - Gap : mainFrame.right() + Gap;
                bool moved = true;
                if (fits(right, further)) {
                    edge = further;
                } else if (!otherSideTaken && fits(!right, across)) {
                    right = !right;
                    otherSideTaken = true;
                    edge = across;
                } else {
                    moved = false;  // nowhere else: clamped into the screen below
                }
                if (moved) {
                    top = mainFrame.top();
                    columnWidth = 0;
                }
            }
            int left = right ? edge : edge - size.width();
            left = std::clamp(left, screen.left(), std::max(screen.left(), screen.right() - size.width()));
            const int y = std::clamp(top, screen.top(), std::max(screen.top(), screen.bottom() - size.height()));
            places[window] = QPoint(left, y);
            top = y + size.height() + Gap;
            columnWidth = std::max(columnWidth, size.width());
        }
    }
    // The progress window belongs over the window whose work it shows.
    const ControlDefinition& progress = definitionOf(Control::MessageWindow);
    places[Control::MessageWindow] = mainFrame.center() - QPoint(progress.width / 2, progress.height / 2);
    return places;
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_) return;
    shown_ = true;
    placeUnmovedToolWindows();
}

void MainWindow::placeUnmovedToolWindows() {
    const QScreen* screen = this->screen();
    // Before the first showing the frame is not yet known; where programs
    // cannot place windows, the stored places are kept as they are.
    if (!shown_ || !screen || QGuiApplication::platformName().startsWith("wayland")) return;
    // The windows' own sizes: some are larger than designed to hold what they show.
    const auto frameSize = [this](Control window) {
        const ControlDefinition& desc = definitionOf(window);
        const QWidget* widget = controlWidget(window);
        const QSize client = widget ? widget->size() : QSize(desc.width, desc.height);
        return QSize(std::max(client.width(), desc.width) + 2,
                     std::max(client.height(), desc.height) + ToolWindowDecoration);
    };
    for (const auto& [window, place] : toolWindowPlaces(frameGeometry(), screen->availableGeometry(), frameSize)) {
        const ControlDefinition& desc = definitionOf(window);
        ControlModel& model = form_.control(window);
        if (model.left() == desc.left && model.top() == desc.top) model.setPosition(place.x(), place.y());
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (form_.runInProgress()) {
        // A frame loop is running underneath (this event came through its
        // call to process pending events): stop it, and close once it has
        // unwound and cleaned up.
        event->ignore();
        form_.control(Control::BitBtn2).click();
        if (!closeRequested_) {
            closeRequested_ = true;
            QTimer::singleShot(0, this, &MainWindow::closeWhenRunEnds);
        }
        return;
    }
    for (ToolWindow* window : toolWindows_) window->flush();
    // Qt 6 closes an owner's tool windows with it: no close of the user's,
    // so it must not untick their boxes before the settings are saved.
    for (ToolWindow* window : toolWindows_) window->blockSignals(true);
    event->accept();
}

void MainWindow::closeWhenRunEnds() {
    if (form_.runInProgress()) {
        QTimer::singleShot(50, this, &MainWindow::closeWhenRunEnds);
        return;
    }
    closeRequested_ = false;
    close();
}

}  // namespace planexor
