// planexor-cli: the window's handlers, driven from the command line.
#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/big_ini_file.h"
#include "app/help_about.h"
#include "app/control_table.h"
#include "app/main_form.h"
#include "app/project_file.h"
#include "app/settings_file.h"
#include "app/user_settings.h"
#include "cli/console_ui.h"
#include "core/error.h"
#include "core/pixel.h"
#include "core/file_io.h"
#include "input/bmp_codec.h"
#include "input/calibration.h"
#include "input/ser_reader.h"
#include "process/recombination.h"
#include "demo/picture_psnr.h"
#include "demo/synthetic_planet.h"

namespace planexor {
namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Positional arguments and --options, each option with a value unless it is a flag.
struct Arguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;

    bool has(const std::string& name) const { return options.count(name) != 0; }
    std::string text(const std::string& name, const std::string& fallback = "") const {
        const auto found = options.find(name);
        return found == options.end() ? fallback : found->second;
    }
    long integer(const std::string& name, long fallback) const {
        if (!has(name)) return fallback;
        const std::string& value = options.at(name);
        char* end = nullptr;
        errno = 0;
        const long result = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != 0 || errno == ERANGE || result < INT_MIN || result > INT_MAX)
            throw UsageError("--" + name + " needs a whole number, not '" + value + "'");
        return result;
    }
    double number(const std::string& name, double fallback) const {
        if (!has(name)) return fallback;
        const std::string& value = options.at(name);
        char* end = nullptr;
        const double result = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != 0) throw UsageError("--" + name + " needs a number, not '" + value + "'");
        return result;
    }
};

struct Command {
    const char* name;
    const char* usage;
    const char* help;
    std::vector<std::string> valueOptions;
    std::vector<std::string> flags;
    std::function<int(const Arguments&)> run;
};

Arguments parse(const Command& command, int argc, char** argv) {
    Arguments arguments;
    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const std::string word = argv[i];
        // "--" ends the options, so that a file may be named "--x.avi".
        if (word == "--" && !optionsEnded) {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || word.rfind("--", 0) != 0) {
            arguments.positional.push_back(word);
            continue;
        }
        const std::string name = word.substr(2);
        if (std::find(command.flags.begin(), command.flags.end(), name) != command.flags.end()) {
            arguments.options[name] = "";
        } else if (std::find(command.valueOptions.begin(), command.valueOptions.end(), name) !=
                   command.valueOptions.end()) {
            if (i + 1 >= argc) throw UsageError(word + " needs a value");
            arguments.options[name] = argv[++i];
        } else {
            throw UsageError("unknown option " + word);
        }
    }
    return arguments;
}

int filterIndexFor(const std::string& path) {
    if (const auto filter = openFilterOfName(path)) return *filter;
    throw PlanexorError("Unknown input type: " + path + " (expected .avi, .ser, .bmp, .jpg or .fit)");
}

// A settings file named with --settings: its control values come first in
// every session, to reproduce the window's settings on purpose.
std::string settingsFileOption;

// Whole numbers with each of `separators` between two of them and nothing
// else: "3x4" with "x". False for anything more or less, or a number beyond int.
bool separatedNumbers(std::string_view text, std::string_view separators, int* values) {
    const char* at = text.data();
    const char* const end = at + text.size();
    for (std::size_t i = 0; i <= separators.size(); ++i) {
        if (i > 0 && (at == end || *at++ != separators[i - 1])) return false;
        const auto [next, error] = std::from_chars(at, end, values[i]);
        if (error != std::errc() || next == at) return false;
        at = next;
    }
    return at == end;
}

// A file dialog answers with full paths: the files named on the command line
// are taken the same way, so that projects and frame lists written from them
// open from any folder.
std::string fullPath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(path, error);
    return error ? path : pathThroughLinks(full.string());
}

bool isProject(const std::string& path) { return lowerExtensionOf(path) == ".pxp"; }

// An output named like one of the inputs (a frame of the sequence, the picture
// being processed) would replace it.
void refuseInputAsOutput(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs) {
    for (const std::string& output : outputs)
        for (const std::string& input : inputs) {
            std::error_code error;
            if (std::filesystem::equivalent(input, output, error))
                throw UsageError(output + " is an input of this command: name another output");
        }
}

// The files a picture save writes: a colour FITS as NAME_R/_G/_B beside NAME.
std::vector<std::string> savedNamesOf(const std::string& out) {
    const std::string extension = lowerExtensionOf(out);
    if (extension != ".fit" && extension != ".fits" && extension != ".fitq") return {out};
    const std::string stem = out.substr(0, out.size() - extension.size());
    const std::string suffix = out.substr(out.size() - extension.size());
    return {out, stem + "_R" + suffix, stem + "_G" + suffix, stem + "_B" + suffix};
}

bool fileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

// One window's worth of state, with the console standing in for the desktop.
struct Session {
    ConsoleUiServices ui;
    MemoryUserSettings settings;  // never the window's settings: a batch run must not depend on them
    TMainForm form{ui, settings};

    Session() {
        ui.followProgress(form);
        if (!settingsFileOption.empty()) {
            SettingsFile file(settingsFileOption);
            file.restore(form);
            if (file.unreadable())
                throw PlanexorError("The settings file " + settingsFileOption + " cannot be read: " + file.lastError());
        }
    }

    // Reopens a project through "LoadProject", the dialog answered with it.
    void openProject(const std::string& path) {
        ui.queueFiles({path}, 1);
        form.control(Control::LoadProject).click();
        check();
        if (!form.workspace().SequenceOpen && form.workspace().InputType != static_cast<std::uint8_t>(InputKind::Fits))
            throw PlanexorError("The project " + path + " was not opened");
    }

    // Saves the work through "SaveProject"; an existing file is replaced
    // unless `overwrite` is false, which fails instead.
    void saveProject(const std::string& path, bool overwrite) {
        ui.defaultYesNo = overwrite;
        const std::size_t questions = ui.questions.size();
        ui.queueFiles({path}, 1);
        form.control(Control::SaveProject).click();
        check();
        if (ui.questions.size() > questions && !overwrite)
            throw PlanexorError("The project " + path + " exists and --no-overwrite keeps it");
        std::printf("project: %s\n", path.c_str());
    }

    // Opens the inputs through "Select input", as a user would.
    void open(const std::vector<std::string>& inputs, bool sequence = true) {
        if (inputs.empty()) throw UsageError("no input given");
        // The dialog opens one video or picture, or a list of still frames: any
        // other mix would open one of the files and drop the rest without a word.
        if (inputs.size() > 1 && !std::all_of(inputs.begin(), inputs.end(), isStillFrameFile))
            throw UsageError("give one video (.avi, .ser) or frame list (.pxl), or any number of BMP or JPG frames");
        if (sequence && openFilterOfName(inputs.front()) == 3)
            throw UsageError("a FITS file is one picture, not a sequence of frames: open it with 'process'");
        if (lowerExtensionOf(inputs.front()) == ".pxl") {
            // A frame list opens as the window's list window opens it.
            if (inputs.size() != 1) throw UsageError("a frame list (.pxl) is the only input");
            form.openFrameList(inputs.front());
        } else {
            std::vector<std::string> files;
            for (const std::string& input : inputs) files.push_back(fullPath(input));
            ui.queueFiles(files, filterIndexFor(inputs.front()));
            form.control(Control::SelectFileButton).click();
        }
        check();
        if (!form.workspace().SequenceOpen && !form.workspace().SingleImage)
            throw PlanexorError("Nothing was opened");
    }

    // A handler's failure was shown as an error message; the command fails with it.
    void check() const {
        if (form.failedHandlers() > 0) throw PlanexorError("");
    }
};

// `info` on a SER also prints what its header says.
bool isSerInput(const Arguments& arguments) {
    return arguments.positional.size() == 1 && lowerExtensionOf(arguments.positional.front()) == ".ser";
}

std::unique_ptr<SerReader> openSer(const Arguments& arguments) {
    auto reader = std::make_unique<SerReader>(arguments.positional.front());
    if (reader->truncated()) std::fprintf(stderr, "warning: %s\n", reader->warning().c_str());
    if (reader->frameCount() > MaxFrames)
        std::fprintf(stderr, "warning: Warning : only the first 2500 frames will be processed\n");
    return reader;
}

int runSerInfo(const Arguments& arguments) {
    const auto reader = openSer(arguments);
    const SerHeader& header = reader->header();
    std::printf("frames: %d\n", std::min(reader->frameCount(), MaxFrames));
    std::printf("width: %d\nheight: %d\n", reader->width(), reader->height());
    std::printf("source: %s\n", reader->describe().c_str());
    std::printf("colour: %s (ID %d)\n", serColourName(header.colour).c_str(), static_cast<int>(header.colour));
    std::printf("depth: %d%s\n", header.depth, reader->leftAligned() ? " (samples left-aligned, read as 16-bit)" : "");
    std::printf("byte order: %s-endian (flag %d)\n",
                reader->byteOrder() == SerByteOrder::LittleEndian ? "little" : "big", header.byteOrderFlag);
    std::printf("complete: %s (%d of %d frames)\n", reader->truncated() ? "no" : "yes", reader->frameCount(),
                header.declaredFrames);
    std::printf("observer: %s\ninstrument: %s\ntelescope: %s\n", header.observer.c_str(),
                header.instrument.c_str(), header.telescope.c_str());
    return 0;
}

const char* stageName(int progstatus) {
    static const char* const names[] = {"opened", "feature chosen", "aligned", "optimized", "stacked"};
    return names[std::clamp(progstatus, 0, 4)];
}

int runProjectInfo(const std::string& path) {
    if (!fileExists(path)) throw PlanexorError("The project file " + path + " does not exist");
    const ProjectData project = readProject(TBigIniFile(path));
    std::printf("stage: %d (%s)\n", project.progstatus, stageName(project.progstatus));
    const std::string source =
        project.filetype == "AVI" || project.filetype == "SER" ? project.filename : project.frameFiles.empty() ? "" : project.frameFiles.front();
    // Where the program will read it, a moved project's folder included.
    const std::string folder = projectSequenceDirectory(project, path);
    std::printf("source: %s %s\n", project.filetype.c_str(),
                std::filesystem::path(source).is_relative() ? joinPath(folder, source).c_str() : source.c_str());
    std::printf("frames: %d\nused: %d\n", project.sequencelength, project.usedframes);
    if (project.stackslider) std::printf("stack cut-off: best %d\n", *project.stackslider + 1);
    return 0;
}

void applyFrameListOptions(Session& session, const Arguments& arguments);

int runInfo(const Arguments& arguments) {
    const bool frameOptions = arguments.has("exclude") || arguments.has("save-list");
    if (arguments.positional.size() == 1 && isProject(arguments.positional.front())) {
        if (frameOptions) throw UsageError("--exclude and --save-list open a sequence; a project keeps its own frames");
        return runProjectInfo(arguments.positional.front());
    }
    // The header's lines; the frame options go through the frame list as for any sequence.
    if (isSerInput(arguments) && !frameOptions) return runSerInfo(arguments);
    Session session;
    session.open(arguments.positional);
    applyFrameListOptions(session, arguments);
    const Workspace& w = session.form.workspace();
    std::printf("frames: %d\n", session.form.frameCount());
    if (arguments.has("exclude")) std::printf("used: %d\n", w.usedframes);
    std::printf("width: %d\n", w.OrigWidth);
    std::printf("height: %d\n", w.OrigHeight);
    std::printf("source: %s\n", session.form.describeSource().c_str());
    return 0;
}

int runFrame(const Arguments& arguments) {
    if (!arguments.has("out") || lowerExtensionOf(arguments.text("out")) != ".bmp")
        throw UsageError("--out FILE.bmp is required");
    const long index = arguments.integer("index", 0);
    refuseInputAsOutput(arguments.positional, {arguments.text("out")});
    Session session;
    session.open(arguments.positional);
    if (index < 0 || index >= session.form.frameCount())
        throw PlanexorError("There is no frame " + std::to_string(index) + " (the sequence has " +
                            std::to_string(session.form.frameCount()) + " frames)");
    session.form.control(Control::PreviewSlider).setValueByUser(static_cast<double>(index));
    if (index == 0) session.form.PreviewSliderChange();
    session.check();
    writeBmpFile(arguments.text("out"), session.form.previewBitmap());
    std::printf("%s\n", arguments.text("out").c_str());
    return 0;
}

int runCompare(const Arguments& arguments) {
    if (arguments.positional.size() != 2) throw UsageError("compare takes a picture and the original");
    Bitmap24 picture, original;
    readBmpFile(arguments.positional[0], picture);
    readBmpFile(arguments.positional[1], original);
    // An enlarged stack set against its original measures nothing worth a number.
    if (picture.width() != original.width() || picture.height() != original.height())
        std::fprintf(stderr, "note: the picture is %dx%d and the original %dx%d; they are compared where they overlap\n",
                     picture.width(), picture.height(), original.width(), original.height());
    std::printf("PSNR %.2f dB\n", psnrAgainstOriginal(picture, original));
    return 0;
}

int runMakeDemo(const Arguments& arguments) {
    if (arguments.positional.size() != 1) throw UsageError("make-demo takes one directory");
    DemoOptions options;
    options.directory = arguments.positional.front();
    options.frames = static_cast<int>(arguments.integer("frames", options.frames));
    if (arguments.has("size")) {
        const std::string size = arguments.text("size");
        int sides[2] = {};
        if (!separatedNumbers(size, "x", sides)) throw UsageError("--size needs WIDTHxHEIGHT, not '" + size + "'");
        options.width = sides[0];
        options.height = sides[1];
    }
    const std::string format = arguments.text("format", "avi");
    if (format == "avi") options.format = DemoOptions::Avi;
    else if (format == "bmp") options.format = DemoOptions::Bmp;
    else if (format == "jpg") options.format = DemoOptions::Jpg;
    else if (format == "ser") options.format = DemoOptions::Ser;
    else throw UsageError("--format is avi, bmp, jpg or ser");
    const std::vector<std::string> colours = {"mono", "rggb", "grbg", "gbrg", "bggr", "rgb", "bgr"};
    const SerColour colourIds[] = {SerColour::Mono,      SerColour::BayerRggb, SerColour::BayerGrbg, SerColour::BayerGbrg,
                                   SerColour::BayerBggr, SerColour::Rgb,       SerColour::Bgr};
    const auto colour = std::find(colours.begin(), colours.end(), arguments.text("ser-colour", "mono"));
    if (colour == colours.end()) throw UsageError("--ser-colour is mono, rggb, grbg, gbrg, bggr, rgb or bgr");
    options.serColour = colourIds[colour - colours.begin()];
    options.serDepth = static_cast<int>(arguments.integer("ser-depth", 8));
    if (options.serDepth != 8 && options.serDepth != 12 && options.serDepth != 16)
        throw UsageError("--ser-depth is 8, 12 or 16");
    const std::string codec = arguments.text("codec", "raw");
    if (codec == "raw") options.codec = DemoOptions::Raw;
    else if (codec == "mjpeg") options.codec = DemoOptions::Mjpeg;
    else throw UsageError("--codec is raw or mjpeg");
    options.seed = static_cast<unsigned>(arguments.integer("seed", options.seed));
    options.drift = arguments.number("drift", options.drift);
    options.hotPixels = static_cast<int>(arguments.integer("hot-pixels", 0));
    options.vignetting = arguments.number("vignetting", 0);
    options.seeingDistortion = arguments.number("seeing-distortion", 0);
    options.patchySeeing = arguments.number("patchy-seeing", 0);

    if (options.format != DemoOptions::Avi && arguments.has("codec")) throw UsageError("--codec belongs to --format avi");
    if (options.format != DemoOptions::Ser && (arguments.has("ser-colour") || arguments.has("ser-depth")))
        throw UsageError("--ser-colour and --ser-depth belong to --format ser");
    try {
        validateDemoOptions(options);
    } catch (const PlanexorError& error) {
        throw UsageError(error.what());
    }
    ConsoleBar bar("Rendering frames");
    const DemoResult result = writeDemoSequence(options, bar);
    if (result.stopped) {
        std::fprintf(stderr, "interrupted: nothing was kept\n");
        return 130;
    }
    if (result.sequenceFiles.size() == 1) std::printf("sequence: %s\n", result.sequenceFiles.front().c_str());
    else std::printf("sequence: %zu frames, %s ...\n", result.sequenceFiles.size(), result.sequenceFiles.front().c_str());
    std::printf("truth: %s\noriginal: %s\n", result.truthFile.c_str(), result.originalFile.c_str());
    if (!result.seeingFile.empty()) std::printf("seeing: %s\n", result.seeingFile.c_str());
    for (const auto& [name, files] : {std::pair{"dark", &result.darkFiles}, {"flat", &result.flatFiles}})
        if (!files->empty()) std::printf("%s: %s%s\n", name, files->front().c_str(), files->size() > 1 ? " ..." : "");
    return 0;
}

// "X,Y" as two whole numbers.
std::pair<int, int> pointOption(const Arguments& arguments, const std::string& name) {
    const std::string text = arguments.text(name);
    int point[2] = {};
    if (!separatedNumbers(text, ",", point)) throw UsageError("--" + name + " needs X,Y, not '" + text + "'");
    return {point[0], point[1]};
}

// Shortest text that reads back as the same float, in the "C" format.
std::string floatText(float value) {
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, result.ptr);
}

void setControlValue(TMainForm& form, Control control, double value, const std::string& option);

// "a,b,,c" -> {"a", "b", "", "c"}: empty items are kept for the caller to refuse.
std::vector<std::string> commaItems(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        items.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return items;
}

// "3,10-20": frame numbers from 0, each below `frames`.
std::vector<int> frameNumbers(const std::string& text, int frames) {
    std::vector<int> numbers;
    for (const std::string& item : commaItems(text)) {
        int range[2] = {};
        if (separatedNumbers(item, "", range) && item.find('-') == std::string::npos) range[1] = range[0];
        else if (!separatedNumbers(item, "-", range))
            throw UsageError("--exclude takes frame numbers and ranges, e.g. 3,10-20");
        const int first = range[0], last = range[1];
        if (first < 0 || last < first || last >= frames)
            throw UsageError("--exclude: frames are numbered 0.." + std::to_string(frames - 1) + ", not '" + item + "'");
        for (int n = first; n <= last; ++n) numbers.push_back(n);
    }
    return numbers;
}

// --exclude through the frame list (a double click on the selected frames),
// then --save-list through its "Save", as a user would.
void applyFrameListOptions(Session& session, const Arguments& arguments) {
    TMainForm& form = session.form;
    if (arguments.has("exclude")) {
        ControlModel& list = form.control(Control::SelectFramesChecklist);
        std::vector<int> frames = frameNumbers(arguments.text("exclude"), form.frameCount());
        std::erase_if(frames, [&list](int n) { return !list.listItems()[n].checked; });
        if (!frames.empty()) {
            list.setListSelection(frames, frames.front());
            form.listEvent(Control::SelectFramesChecklist, TMainForm::ListAction::DblClick);
        }
        session.check();
    }
    if (arguments.has("save-list")) {
        const std::string path = arguments.text("save-list");
        if (lowerExtensionOf(path) != ".pxl") throw UsageError("--save-list needs a FILE.pxl");
        session.ui.queueFiles({path}, 1);
        form.control(Control::Framelistsavebutton).click();
        session.check();
        std::printf("frame list: %s\n", path.c_str());
    }
}

// The optimizing options; without --optimize a run does not optimize, so
// scripts written before it keep their results and speed.
void setOptimizing(TMainForm& form, const Arguments& arguments) {
    // These tune the passes of --optimize; without it they would change nothing.
    for (const char* tuning : {"optimize-until", "search-area"})
        if (arguments.has(tuning) && !arguments.has("optimize"))
            throw UsageError(std::string("--") + tuning + " tunes --optimize: give --optimize too");
    form.control(Control::AutoOptimize).setChecked(arguments.has("optimize"));
    if (arguments.has("optimize-until"))
        setControlValue(form, Control::OptimizeSpin, arguments.number("optimize-until", 1), "optimize-until");
    if (arguments.has("search-area"))
        setControlValue(form, Control::SearchArea, arguments.number("search-area", 2), "search-area");
    if (arguments.has("lower-quality"))
        setControlValue(form, Control::OptimizeQualitySpin, arguments.number("lower-quality", 80), "lower-quality");
}

// Registration past whole pixels and the ranking measure, each off unless asked.
void setRegistrationExtras(TMainForm& form, const Arguments& arguments) {
    const std::string quality = arguments.text("quality", "spectrum");
    if (quality != "spectrum" && quality != "disc") throw UsageError("--quality is spectrum or disc");
    if (arguments.has("subpixel")) form.control(Control::SubpixelBox).setCheckedByUser(true);
    if (arguments.has("quality")) form.control(Control::QualityMeasure).setItemIndexByUser(quality == "disc" ? 1 : 0);
}

// The type index the calibration dialog would be closed with, by extension.
int calibrationType(const std::string& path) {
    if (const auto type = calibrationTypeOfName(path)) return *type;
    throw UsageError("a dark frame or flat field is a .bmp, .fitq, .fit or .fits file, not " + path);
}

// --dark and --flat through "Load Darkframe" and "Load Flatfield", then their
// use boxes ticked. They stay in force for the sequence opened next.
void loadCalibration(Session& session, const Arguments& arguments) {
    for (const bool flat : {false, true}) {
        const std::string option = flat ? "flat" : "dark";
        if (arguments.has(option)) calibrationType(arguments.text(option));
    }
    TMainForm& form = session.form;
    for (const bool flat : {false, true}) {
        const std::string option = flat ? "flat" : "dark";
        if (!arguments.has(option)) continue;
        const std::string path = fullPath(arguments.text(option));
        session.ui.queueFiles({path}, calibrationType(path));
        form.control(flat ? Control::Flatfieldbutton : Control::LoadDarkframe).click();
        session.check();
        const Workspace& w = form.workspace();
        if ((flat ? w.flatfile : w.darkfile) != path)
            throw PlanexorError(std::string(flat ? "The flatfield " : "The darkframe ") + path + " was not loaded");
        form.control(flat ? Control::UseFlatfield : Control::UseDarkFrame).setCheckedByUser(true);
    }
}

// Opens the input, clicks the feature on the first frame used and aligns every frame,
// as a user would in the window. Options that registration reads are set
// before the click.
void alignSequence(Session& session, const Arguments& arguments, const std::function<void()>& beforeClick = {},
                   bool chain = false) {
    if (!arguments.has("feature")) throw UsageError("--feature X,Y is required");
    const auto [featureX, featureY] = pointOption(arguments, "feature");
    int boxItem = -1;
    if (arguments.has("box")) {
        const long box = arguments.integer("box", 128);
        if (box != 64 && box != 128 && box != 256) throw UsageError("--box is 64, 128 or 256");
        boxItem = box == 64 ? 0 : box == 128 ? 1 : 2;
    }

    loadCalibration(session, arguments);
    session.open(arguments.positional);
    applyFrameListOptions(session, arguments);
    TMainForm& form = session.form;
    setOptimizing(form, arguments);
    setRegistrationExtras(form, arguments);
    if (boxItem >= 0) form.control(Control::FFTsizeGroup).setItemIndexByUser(boxItem);
    form.control(Control::Followme).setChecked(!arguments.has("no-track"));
    form.control(Control::PredictTrack).setChecked(arguments.has("predict"));
    // Its question waits for a click on the picture, which a console cannot give.
    form.control(Control::Misalignwarning).setChecked(false);
    if (beforeClick) beforeClick();
    session.check();
    // The reference is the first frame used: a black or spoilt first frame is
    // left out with --exclude, as the window lets one click on any frame.
    int reference = 0;
    while (reference < form.frameCount() - 1 && form.workspace().FrameRecs[reference].Excluded) ++reference;
    if (form.control(Control::PreviewSlider).intValue() != reference)
        form.control(Control::PreviewSlider).setValueByUser(reference);
    form.mouseEvent(Control::PreviewImage, TMainForm::MouseAction::Down, featureX, featureY, true);
    session.check();
    if (form.workspace().progstatus < 1)
        throw PlanexorError("The alignment feature " + arguments.text("feature") +
                            " was not accepted (too close to the border, or every frame is excluded)");
    // A box with nothing in it (a black or even frame) matches everywhere
    // alike: every frame would be stacked unmoved.
    if (!(form.workspace().FrameRecs[reference].Quality > 0.0f))
        throw PlanexorError("Frame " + std::to_string(reference) + " shows nothing to align on in the box around " +
                            arguments.text("feature") + ": leave it out with --exclude " + std::to_string(reference));
    form.control(chain ? Control::AlignStackButton : Control::Allignallbutton).click();
    session.check();
    if (form.workspace().progstatus < 2 || form.workspace().StopRequested) throw PlanexorError("Aligning did not finish");
}

void writeShifts(const TMainForm& form, const std::string& path, bool subpixel) {
    const Workspace& w = form.workspace();
    const int last = form.frameCount() - 1;
    std::vector<int> rankOf(static_cast<std::size_t>(std::max(last, 0)) + 1, -1);
    if (w.progstatus >= 2)
        for (int rank = 0; rank < w.usedframes && rank < MaxFrames; ++rank) {
            const int frame = w.Ranking[rank].Frame;
            if (frame >= 0 && frame <= last && !w.FrameRecs[frame].Excluded) rankOf[frame] = rank;
        }
    // De-interlaced, the columns above are the second field's; the first
    // field's follow them.
    const bool fields = form.control(Control::Interlaced).checked();
    std::string csv = subpixel ? "frame,shift_x,shift_y,difference,quality,rank,subpixel_x,subpixel_y"
                               : "frame,shift_x,shift_y,difference,quality,rank";
    if (fields) csv += ",field0_shift_x,field0_shift_y,field0_difference,field0_quality";
    if (fields && subpixel) csv += ",field0_subpixel_x,field0_subpixel_y";
    csv += "\n";
    for (int frame = 0; frame <= last; ++frame) {
        const TFrameRec& record = w.FrameRecs[frame];
        csv += std::to_string(frame) + "," + std::to_string(record.ShiftX) + "," + std::to_string(record.ShiftY) +
               "," + floatText(record.Difference) + "," + floatText(record.Quality) + "," +
               std::to_string(rankOf[frame]);
        if (subpixel) csv += "," + floatText(record.SubShiftX) + "," + floatText(record.SubShiftY);
        if (fields)
            csv += "," + std::to_string(record.FieldShiftX) + "," + std::to_string(record.FieldShiftY) + "," +
                   floatText(record.FieldDifference) + "," + floatText(record.FieldQuality);
        if (fields && subpixel) csv += "," + floatText(record.FieldSubShiftX) + "," + floatText(record.FieldSubShiftY);
        csv += "\n";
    }
    writeFileAtomically(path, csv);
    std::printf("shifts: %s\n", path.c_str());
}

// The files a run writes besides its pictures: a slip of the name must not
// replace the input video.
void checkWrittenNames(const Arguments& arguments) {
    if (arguments.has("shifts") && lowerExtensionOf(arguments.text("shifts")) != ".csv")
        throw UsageError("--shifts needs a FILE.csv");
    if (arguments.has("project") && !isProject(arguments.text("project")))
        throw UsageError("--project needs a FILE.pxp");
    // A file --no-overwrite keeps is said before the work, not after it.
    if (arguments.has("no-overwrite"))
        for (const char* option : {"project", "shifts", "save-list"})
            if (arguments.has(option) && fileExists(arguments.text(option)))
                throw PlanexorError("The file " + arguments.text(option) + " exists and --no-overwrite keeps it");
}

int runAlign(const Arguments& arguments) {
    if (!arguments.has("shifts") && !arguments.has("project"))
        throw UsageError("--shifts FILE.csv or --project FILE.pxp is required");
    checkWrittenNames(arguments);
    Session session;
    alignSequence(session, arguments);
    if (arguments.has("shifts"))
        writeShifts(session.form, arguments.text("shifts"), session.form.control(Control::SubpixelBox).checked());
    if (arguments.has("project")) session.saveProject(arguments.text("project"), !arguments.has("no-overwrite"));
    return 0;
}

std::vector<double> numberList(const Arguments& arguments, const std::string& name) {
    std::vector<double> values;
    for (const std::string& item : commaItems(arguments.text(name))) {
        char* end = nullptr;
        const double value = std::strtod(item.c_str(), &end);
        if (item.empty() || *end != 0) throw UsageError("--" + name + " takes numbers separated by commas");
        values.push_back(value);
    }
    return values;
}

// Refuses what a slider or spin would not take as given: a value outside
// the range the window offers, or finer than it shows (it would round it
// without a word, as the window never lets it be typed).
void checkControlValue(double minimum, double maximum, int decimals, double value, const std::string& option) {
    if (!(value >= minimum && value <= maximum))
        throw UsageError("--" + option + " must lie in " + floatText(static_cast<float>(minimum)) + ".." +
                         floatText(static_cast<float>(maximum)));
    const double steps = value * std::pow(10.0, decimals);
    if (std::abs(steps - std::nearbyint(steps)) > 1e-6 * std::max(1.0, std::abs(steps)))
        throw UsageError("--" + option +
                         (decimals == 0 ? " needs a whole number, not "
                                        : " takes " + std::to_string(decimals) + " decimal(s) at most, not ") +
                         shortestDecimalText(value));
}

// Sets a slider or spin as the user would, once checked.
void setControlValue(TMainForm& form, Control control, double value, const std::string& option) {
    ControlModel& model = form.control(control);
    checkControlValue(model.minimum(), model.maximum(), model.decimals(), value, option);
    model.setValueByUser(value);
}

bool processingAsked(const Arguments& arguments) {
    for (const char* option :
         {"wavelets", "layers-off", "linear", "dyadic", "contrast", "brightness", "gamma", "gamma-curve", "kernel"})
        if (arguments.has(option)) return true;
    return false;
}

// --gamma-curve IN:OUT,... as graph points (x the input level, y 255 minus
// the output), checked against what the editor itself keeps: rising inputs,
// the ends on outputs 0 and 255, no more points than the curve holds.
std::vector<SplinePoint> gammaCurveOption(const Arguments& arguments) {
    if (!arguments.has("gamma-curve")) return {};
    const std::string text = arguments.text("gamma-curve");
    const auto fail = [](const std::string& why) -> UsageError {
        return UsageError("--gamma-curve " + why + " (IN:OUT,IN:OUT,... with levels 0..255, e.g. 0:0,64:40,192:215,255:255)");
    };
    std::vector<SplinePoint> points;
    for (const std::string& item : commaItems(text)) {
        int pair[2] = {};
        if (!separatedNumbers(item, ":", pair)) throw fail("needs whole-number pairs IN:OUT, not '" + item + "'");
        const int in = pair[0], out = pair[1];
        if (in < 0 || in > 255 || out < 0 || out > 255) throw fail("has a level outside 0..255 in '" + item + "'");
        if (!points.empty() && in <= points.back().x)
            throw fail("needs strictly rising input levels ('" + item + "' does not rise)");
        points.push_back({static_cast<float>(in), static_cast<float>(255 - out)});
    }
    if (points.size() < 2) throw fail("needs at least two points");
    if (points.size() > static_cast<std::size_t>(TBSpline::MaxPoints))
        throw fail("takes at most " + std::to_string(TBSpline::MaxPoints) + " points");
    if (points.front().y != 255 || points.back().y != 0)
        throw fail("must start at output 0 and end at output 255, as the editor keeps its end points");
    return points;
}

// --kernel K0,...,K8 in kernel order, rounded as the spins round what is typed.
// --wavelets: the six gain sliders' values, or none.
std::vector<double> gainsOption(const Arguments& arguments) {
    if (!arguments.has("wavelets")) return {};
    const std::vector<double> gains = numberList(arguments, "wavelets");
    if (gains.size() != GainSliders.size())
        throw UsageError("--wavelets takes six slider values, e.g. 40,30,20,10,10,10");
    return gains;
}

// --layers-off: layer numbers 1..6.
std::vector<int> layersOffOption(const Arguments& arguments) {
    std::vector<int> layers;
    if (!arguments.has("layers-off")) return layers;
    for (const double layer : numberList(arguments, "layers-off")) {
        if (layer < 1 || layer > 6 || layer != static_cast<int>(layer)) throw UsageError("--layers-off lists layers 1..6");
        layers.push_back(static_cast<int>(layer));
    }
    return layers;
}

std::vector<double> kernelOption(const Arguments& arguments) {
    if (!arguments.has("kernel")) return {};
    std::vector<double> weights = numberList(arguments, "kernel");
    if (weights.size() != FilterSpins.size())
        throw UsageError("--kernel takes nine weights, row by row from the top, e.g. 1,2,1,2,4,2,1,2,1 (got " +
                         std::to_string(weights.size()) + ")");
    const ControlDefinition& spin = definitionOf(FilterSpins.front());
    const double scale = std::pow(10.0, spin.decimals);
    for (double& weight : weights) {
        if (!(weight >= spin.minimum && weight <= spin.maximum))
            throw UsageError("--kernel weights must lie in " + floatText(static_cast<float>(spin.minimum)) + ".." +
                             floatText(static_cast<float>(spin.maximum)));
        weight = std::nearbyint(weight * scale) / scale;
    }
    return weights;
}

// The processing options set as the user would, then "Process".
void processAsAsked(Session& session, const Arguments& arguments) {
    TMainForm& form = session.form;
    if (arguments.has("dyadic")) form.control(Control::Scaletype).setItemIndexByUser(0);
    if (arguments.has("linear")) form.control(Control::Scaletype).setItemIndexByUser(1);
    const std::vector<double> gains = gainsOption(arguments);
    for (std::size_t layer = 0; layer < gains.size(); ++layer)
        setControlValue(form, GainSliders[layer], gains[layer], "wavelets");
    for (const int layer : layersOffOption(arguments)) form.control(LayerCheckBoxes[layer - 1]).setCheckedByUser(false);
    if (arguments.has("contrast")) setControlValue(form, Control::ContrastSlider, arguments.number("contrast", 100), "contrast");
    if (arguments.has("brightness"))
        setControlValue(form, Control::BrightnessSlider, arguments.number("brightness", 0), "brightness");
    if (arguments.has("gamma")) setControlValue(form, Control::Gamma1spin, arguments.number("gamma", 1.0), "gamma");
    const std::vector<SplinePoint> curve = gammaCurveOption(arguments);
    if (const std::vector<double> weights = kernelOption(arguments); !weights.empty()) {
        // Typed into the filter window's spins, then "Set", which processes.
        for (std::size_t tap = 0; tap < weights.size(); ++tap) setControlValue(form, FilterSpins[tap], weights[tap], "kernel");
        form.control(Control::Button1).click();
    } else {
        form.control(Control::ProcessButton).click();
    }
    session.check();
    if (!curve.empty()) {
        form.editors().drawGammaCurve(curve);
        form.mouseEvent(Control::GammaSplineGraph, TMainForm::MouseAction::Up, 0, 0, true);
        session.check();
    }
}

// What to save and how, checked before any work is done.
struct SaveRequest {
    std::string out;
    int filterIndex = 1;  // as SaveDialog1 counts: BMP, FIT, special FIT, JPEG
    bool processed = false;
    std::optional<std::array<int, 4>> selection;
    std::string subdir;
    TFITParams header;
    bool overwrite = true;
    std::vector<std::string> inputs;  // none may be replaced: the sequence, the dark and the flat
};

const std::vector<std::string> SaveOptions = {"out", "save", "selection", "subdir", "fits-object", "fits-telescope",
                                              "fits-instrument", "fits-exposure", "fits-observer", "fits-comment"};

std::vector<std::string> withSaveOptions(std::vector<std::string> options) {
    options.insert(options.end(), SaveOptions.begin(), SaveOptions.end());
    return options;
}

SaveRequest saveRequestFrom(const Arguments& arguments, bool processedByDefault) {
    SaveRequest request;
    if (!arguments.has("out")) throw UsageError("--out FILE (.bmp, .jpg, .fit, .fits or .fitq) is required");
    request.out = arguments.text("out");
    const std::string extension = lowerExtensionOf(request.out);
    if (extension == ".bmp") request.filterIndex = 1;
    else if (extension == ".fit" || extension == ".fits") request.filterIndex = 2;
    else if (extension == ".fitq") request.filterIndex = 3;
    else if (extension == ".jpg" || extension == ".jpeg") request.filterIndex = 4;
    else throw UsageError("--out must end in .bmp, .jpg, .fit, .fits or .fitq");

    const std::string save = arguments.text("save", processedByDefault || arguments.has("selection") ? "processed" : "stack");
    if (save != "stack" && save != "processed") throw UsageError("--save is stack or processed");
    request.processed = save == "processed";
    if (!request.processed && processingAsked(arguments))
        throw UsageError("the processing options shape the processed picture: they do nothing with --save stack");
    if (request.processed && request.filterIndex == 3)
        throw UsageError("the processed picture cannot be saved as .fitq (Filetype not supported for processed output)");
    if (arguments.has("selection")) {
        std::array<int, 4> box{};
        // Corners beyond the picture are cut to it; these bounds keep their arithmetic in range.
        if (!request.processed || request.filterIndex == 2 ||
            !separatedNumbers(arguments.text("selection"), ",,,", box.data()) ||
            std::any_of(box.begin(), box.end(), [](int corner) { return corner < 0 || corner > 4 * MaxImageSide; }))
            throw UsageError("--selection needs X1,Y1,X2,Y2 (0.." + std::to_string(4 * MaxImageSide) +
                             ") and a processed .bmp or .jpg");
        // A box the window takes for no selection would save the whole picture.
        if (selectionTooSmall({box[0], box[1], box[2], box[3]}))
            throw UsageError("--selection must be at least 10 pixels wide and high");
        request.selection = box;
    }
    request.subdir = arguments.text("subdir");
    if (arguments.has("subdir") && (request.subdir.empty() || request.subdir.find('/') == 0))
        throw UsageError("--subdir needs a folder name inside the input's folder");
    // The folder is the input's: one given in --out as well would be dropped.
    if (arguments.has("subdir") && !directoryOf(request.out).empty())
        throw UsageError("--subdir writes under the input's folder: give --out a file name without a folder");
    request.header.Object = arguments.text("fits-object");
    request.header.Telescope = arguments.text("fits-telescope");
    request.header.Instrument = arguments.text("fits-instrument");
    request.header.Exposure = arguments.text("fits-exposure");
    request.header.Observer = arguments.text("fits-observer");
    request.header.Comment = arguments.text("fits-comment");
    request.overwrite = !arguments.has("no-overwrite");
    request.inputs = arguments.positional;
    for (const char* calibration : {"dark", "flat"})
        if (arguments.has(calibration)) request.inputs.push_back(arguments.text(calibration));
    return request;
}

// Saves through the window's "Save" of the stack or the process page, the
// file dialog answered with --out; returns the files written.
std::vector<std::string> saveAsAsked(Session& session, const SaveRequest& request) {
    TMainForm& form = session.form;
    form.saving().fitsHeader = request.header;
    std::string path = request.out;
    if (!request.subdir.empty()) {
        form.control(Control::SaveSub).setCheckedByUser(true);
        form.control(Control::Subdirname).setCaption(request.subdir);
        // The dialog opens in the subdirectory; the user types only a name.
        path = joinPath(form.saving().saveDirectory(), fileNameOf(request.out));
        refuseInputAsOutput(request.inputs, savedNamesOf(path));
    }
    if (request.selection) {
        const auto& box = *request.selection;
        form.mouseEvent(Control::ProcessImage, TMainForm::MouseAction::Down, box[0], box[1], true);
        form.mouseEvent(Control::ProcessImage, TMainForm::MouseAction::Move, box[2], box[3], true);
        form.mouseEvent(Control::ProcessImage, TMainForm::MouseAction::Up, box[2], box[3], true);
        form.control(Control::SaveSectionbox).setCheckedByUser(true);
        session.check();
    }
    session.ui.defaultYesNo = request.overwrite;
    session.ui.queueFiles({path}, request.filterIndex);
    const std::size_t questionsBefore = session.ui.questions.size();
    form.control(request.processed ? Control::SaveBMP2button : Control::SaveButton).click();
    session.check();
    // Any file kept by --no-overwrite fails the command, even when others were written.
    if (!request.overwrite && session.ui.questions.size() > questionsBefore)
        throw PlanexorError("A file of " + path + " exists and --no-overwrite keeps it");
    if (form.saving().savedFiles().empty()) throw PlanexorError("Nothing was saved: " + path);
    return form.saving().savedFiles();
}

std::string joined(const std::vector<std::string>& files) {
    std::string text;
    for (const std::string& file : files) text += (text.empty() ? "" : " ") + file;
    return text;
}

// The picture's files checked before any work: none may be an input, and
// --no-overwrite fails now rather than after the stack.
void checkSavedNames(const SaveRequest& request) {
    if (!request.subdir.empty()) return;  // the folder follows from the input once it is open
    const std::string folder = directoryOf(request.out);
    if (std::error_code error; !folder.empty() && !std::filesystem::is_directory(folder, error))
        throw PlanexorError("Cannot write " + request.out + ": there is no folder " + folder);
    const std::vector<std::string> names = savedNamesOf(request.out);
    refuseInputAsOutput(request.inputs, names);
    if (!request.overwrite)
        for (const std::string& name : names)
            if (fileExists(name)) throw PlanexorError("The file " + name + " exists and --no-overwrite keeps it");
}

// Processing options that can be checked before any work is done.
void checkProcessingOptions(const Arguments& arguments) {
    if (arguments.has("linear") && arguments.has("dyadic")) throw UsageError("give --linear or --dyadic, not both");
    const auto check = [&](Control control, const std::string& option, double value) {
        const ControlDefinition& slider = definitionOf(control);
        checkControlValue(slider.minimum, slider.maximum, slider.decimals, value, option);
    };
    const std::vector<double> gains = gainsOption(arguments);
    for (std::size_t layer = 0; layer < gains.size(); ++layer) check(GainSliders[layer], "wavelets", gains[layer]);
    layersOffOption(arguments);
    for (const auto& [control, option] : {std::pair{Control::ContrastSlider, "contrast"},
                                          {Control::BrightnessSlider, "brightness"}, {Control::Gamma1spin, "gamma"}})
        if (arguments.has(option)) check(control, option, arguments.number(option, 0));
    gammaCurveOption(arguments);
    kernelOption(arguments);
}

int runProcess(const Arguments& arguments) {
    const SaveRequest save = saveRequestFrom(arguments, true);
    checkProcessingOptions(arguments);
    // One picture (BMP, FITS or JPG, as Select input opens them) or one project.
    const std::string input = arguments.positional.size() == 1 ? arguments.positional.front() : "";
    const std::optional<int> picture = openFilterOfName(input);
    if (!(picture && *picture >= 2 && *picture <= 4) && !isProject(input))
        throw UsageError("process takes one image (.fit, .fits, .fts, .bmp or .jpg) or one project (.pxp)");
    checkSavedNames(save);
    Session session;
    if (isProject(arguments.positional.front())) {
        // The project re-runs its steps up to the stage it was saved at.
        session.openProject(arguments.positional.front());
        const Workspace& w = session.form.workspace();
        if (w.progstatus < 4 && w.InputType != static_cast<std::uint8_t>(InputKind::Fits))
            throw PlanexorError("The project holds no stack yet (stage " + std::to_string(w.progstatus) + ", " +
                                stageName(w.progstatus) + "): stack it first");
    } else {
        session.open(arguments.positional, false);
    }
    if (save.processed) processAsAsked(session, arguments);
    std::printf("saved: %s\n", joined(saveAsAsked(session, save)).c_str());
    return 0;
}

// A project keeps every control, but a drawn gamma curve lives only as long as the window.
void saveStackProject(Session& session, const Arguments& arguments, bool overwrite) {
    if (arguments.has("gamma-curve"))
        std::fprintf(stderr, "note: the gamma curve is not saved in the project; give --gamma-curve again\n");
    session.saveProject(arguments.text("project"), overwrite);
}

// What the alignment points and local quality of the last stack came to.
void printPointsAndLocalQuality(TMainForm& form) {
    if (form.control(Control::PointsSpin).intValue() != 0)
        std::printf("alignment points: %d\n", form.stackPage().alignmentPointCount());
    if (const auto [kept, scored] = form.stackPage().localQualityChoice(); scored > 0)
        std::printf("local quality: each point stacks its sharpest %d of %d frames\n", kept, scored);
}

int runStack(const Arguments& arguments) {
    const bool chain = arguments.has("chain");
    const SaveRequest save = saveRequestFrom(arguments, chain || processingAsked(arguments));
    if (chain && (arguments.has("best") || arguments.has("best-percent") || arguments.has("max-diff")))
        throw UsageError("--chain stacks the ranks above --lower-quality: give no --best, --best-percent or --max-diff");
    checkProcessingOptions(arguments);
    if (arguments.has("max-diff")) {
        const ControlDefinition& cut = definitionOf(Control::differencecutslider);
        checkControlValue(cut.minimum, cut.maximum, cut.decimals, arguments.number("max-diff", 100), "max-diff");
    }
    checkWrittenNames(arguments);
    if (arguments.has("best") && arguments.has("best-percent")) throw UsageError("give --best or --best-percent, not both");
    checkSavedNames(save);
    if (arguments.has("mono") && arguments.has("colour")) throw UsageError("give --mono or --colour, not both");
    if (chain && arguments.has("middle")) throw UsageError("--chain stacks in one go: it takes no --middle");
    // What does not depend on the frames is checked before aligning them.
    if (arguments.has("best") && arguments.integer("best", 1) < 1) throw UsageError("--best needs at least 1 frame");
    if (arguments.has("best-percent")) {
        const double percent = arguments.number("best-percent", 25);
        if (!(percent > 0 && percent <= 100)) throw UsageError("--best-percent must be above 0 and at most 100");
    }
    if (arguments.has("resample") && arguments.has("expand")) throw UsageError("--resample and --expand exclude each other");
    // Resampled frames are not compared (every difference reads 100 %): refused
    // before aligning, and again below when a project or the settings resample.
    const char* const resampledDifference = "--max-diff below 100 leaves nothing to stack with --resample";
    const char* const localQualityWhole = "--local-quality places frames at whole pixels: it excludes --resample and --subpixel";
    if (arguments.has("resample") && arguments.number("max-diff", 100) < 100) throw UsageError(resampledDifference);
    const std::string filter = arguments.text("filter", "mitchell");
    const std::vector<std::string> filters = {"bell", "bspline", "lanczos", "mitchell"};
    const auto filterItem = std::find(filters.begin(), filters.end(), filter) - filters.begin();
    if (filterItem == static_cast<long>(filters.size())) throw UsageError("--filter is bell, bspline, lanczos or mitchell");
    const std::string deinterlace = arguments.text("deinterlace", "none");
    const std::vector<std::string> fields = {"none", "both", "odd", "even"};
    const auto fieldItem = std::find(fields.begin(), fields.end(), deinterlace) - fields.begin();
    if (fieldItem == static_cast<long>(fields.size())) throw UsageError("--deinterlace is none, both, odd or even");

    Session session;
    TMainForm& form = session.form;
    // A project brings its own options: only those given change them.
    const bool resume = arguments.positional.size() == 1 && isProject(arguments.positional.front());
    const auto stackingOptions = [&] {
        // Given, the option decides, whatever a settings file ticked.
        if (arguments.has("deinterlace")) form.control(Control::Interlaced).setCheckedByUser(fieldItem > 0);
        if (fieldItem > 0) form.control(Control::interlaceinterpolation).setItemIndexByUser(static_cast<int>(fieldItem));
        if (arguments.has("resample")) {
            form.control(Control::Resampled).setCheckedByUser(true);
            setControlValue(form, Control::ResampleSpin, arguments.number("resample", 2.0), "resample");
        }
        const bool resampling = form.control(Control::Resampled).checked();
        if (arguments.has("filter") && !resampling) throw UsageError("--filter chooses the resampling filter: it needs --resample");
        if (arguments.has("middle") && !resampling) throw UsageError("--middle places an enlarged stack: it needs --resample");
        if (arguments.has("expand") && resampling) throw UsageError("--resample and --expand exclude each other");
        if (!resume || arguments.has("filter"))
            form.control(Control::Filters).setItemIndexByUser(static_cast<int>(filterItem));
        if (arguments.has("mono")) form.control(Control::ColourStack).setCheckedByUser(false);
        if (arguments.has("colour")) form.control(Control::ColourStack).setCheckedByUser(true);
        // The chain stacks before the command could set them.
        if (chain && arguments.has("no-quality-weight")) form.control(Control::QualStack).setCheckedByUser(false);
        if (chain && arguments.has("expand")) form.control(Control::Expandstack).setCheckedByUser(true);
        if (arguments.has("points")) {
            const std::string points = arguments.text("points");
            const double count = points == "auto" ? AlignmentPoints::Auto : arguments.number("points", 0);
            const double most = form.control(Control::PointsSpin).maximum();
            if (points != "auto" && !(count >= 0 && count <= most))
                throw UsageError("--points is a count up to " + floatText(static_cast<float>(most)) + " (0 = off) or auto");
            setControlValue(form, Control::PointsSpin, count, "points");
        }
        if (arguments.has("local-quality")) {
            if (form.control(Control::PointsSpin).intValue() == 0)
                throw UsageError("--local-quality chooses frames for each alignment point: it needs --points");
            if (arguments.has("resample") || arguments.has("subpixel")) throw UsageError(localQualityWhole);
            form.control(Control::LocalQualityBox).setCheckedByUser(true);
        }
    };
    if (resume) {
        // An aligned project stacks again with new cut-offs, without aligning anew.
        if (arguments.has("deinterlace")) throw UsageError("--deinterlace belongs to aligning; the project keeps its own");
        if (chain) throw UsageError("--chain aligns anew; a project stacks without aligning");
        // What opening and aligning read: the project keeps its own.
        for (const char* option : {"feature", "box", "no-track", "predict", "subpixel", "quality", "resample", "dark",
                                   "flat", "exclude", "save-list", "optimize", "optimize-until", "search-area",
                                   "lower-quality"})
            if (arguments.has(option))
                throw UsageError(std::string("--") + option +
                                 " belongs to opening and aligning; a project stacks again with its own");
        session.openProject(arguments.positional.front());
        if (form.workspace().InputType == static_cast<std::uint8_t>(InputKind::Fits))
            throw PlanexorError("The project holds a single FITS frame, which is not stacked: 'process' sharpens it");
        if (form.workspace().progstatus < 2)
            throw PlanexorError("The project is not aligned yet (stage " + std::to_string(form.workspace().progstatus) +
                                ", " + stageName(form.workspace().progstatus) + "): align it first");
        stackingOptions();
    } else {
        alignSequence(session, arguments, stackingOptions, chain);
    }
    // The option, or the settings or project the run started from.
    if (arguments.has("shifts")) writeShifts(form, arguments.text("shifts"), form.control(Control::SubpixelBox).checked());
    const Workspace& w = form.workspace();
    if (chain) {
        // "Align & stack" has stacked and processed; the options shape the picture further.
        if (w.progstatus < 4) throw PlanexorError("Stacking did not finish");
        printPointsAndLocalQuality(form);
        if (processingAsked(arguments)) processAsAsked(session, arguments);
        const std::vector<std::string> files = saveAsAsked(session, save);
        std::printf("stacked %d frames: %s\n", form.stackedCount(), joined(files).c_str());
        if (arguments.has("project")) saveStackProject(session, arguments, save.overwrite);
        return 0;
    }

    int best = std::max(1, nearest(w.usedframes * 0.25));
    // A stacked project's cut-off; an aligned one has none yet.
    if (resume && w.progstatus > 3) best = form.control(Control::StackSlider).intValue() + 1;
    if (arguments.has("best")) best = static_cast<int>(arguments.integer("best", best));
    if (arguments.has("best-percent")) {
        const double percent = arguments.number("best-percent", 25);
        if (!(percent > 0 && percent <= 100)) throw UsageError("--best-percent must be above 0 and at most 100");
        best = std::max(1, nearest(w.usedframes * percent / 100.0));
    }
    if (best < 1 || best > w.usedframes)
        throw UsageError("--best must lie in 1.." + std::to_string(w.usedframes) + " (the frames aligned)");
    form.control(Control::StackSlider).setValueByUser(best - 1);
    const bool resampled = form.control(Control::Resampled).checked();
    if (arguments.has("max-diff")) {
        const double most = arguments.number("max-diff", 100);
        if (resampled && most < 100) throw UsageError(resampledDifference);
        setControlValue(form, Control::differencecutslider, most, "max-diff");
    }
    if (arguments.has("no-quality-weight")) form.control(Control::QualStack).setCheckedByUser(false);
    if (arguments.has("expand")) form.control(Control::Expandstack).setCheckedByUser(true);
    // Enlarged beyond 1024 pixels, the stack keeps the window around the
    // middle a "Set middle" click chooses: --middle, else the feature (a
    // project keeps its own).
    if (resampled && (arguments.has("middle") || !resume)) {
        const auto [x, y] = pointOption(arguments, arguments.has("middle") ? "middle" : "feature");
        form.control(Control::SetMiddleButton).click();
        form.mouseEvent(Control::StackImage, TMainForm::MouseAction::Down, x, y, true);
    }
    // A project or the settings may have either ticked.
    if (arguments.has("local-quality") && (resampled || form.control(Control::SubpixelBox).checked()))
        throw UsageError(localQualityWhole);
    session.check();
    form.control(Control::Stackbutton).click();
    session.check();
    if (w.progstatus < 4) throw PlanexorError("Stacking did not finish");
    printPointsAndLocalQuality(form);

    if (save.processed) processAsAsked(session, arguments);
    const std::vector<std::string> files = saveAsAsked(session, save);
    std::printf("stacked %d frames: %s\n", form.stackedCount(), joined(files).c_str());
    if (arguments.has("project")) saveStackProject(session, arguments, save.overwrite);
    return 0;
}

int runAbout(const Arguments& arguments) {
    if (!arguments.positional.empty()) throw UsageError("about takes no arguments");
    std::printf("%s\n OS: %s\n Memory: %s\n", ProgramVersion, GetOSINFO().c_str(), memoryText().c_str());
    return 0;
}

// "Make Darkframe" or "Make Flatfield" over the inputs, then the stack page's Save.
int runMakeCalibration(const Arguments& arguments, bool flat) {
    const SaveRequest save = saveRequestFrom(arguments, false);
    if (save.processed) throw UsageError("make-dark and make-flat save the stack, not a processed picture");
    // Plain FITS is scaled around 0, and a flat with negative values is refused when loaded.
    if (flat && save.filterIndex == 2)
        throw UsageError("a flat field is saved as .fitq (or .bmp): a plain FITS flat cannot be loaded back");
    checkSavedNames(save);
    Session session;
    TMainForm& form = session.form;
    loadCalibration(session, arguments);
    session.open(arguments.positional);
    // A dark or flat is grey unless asked otherwise: one FITS file, as the loaders read it.
    form.control(Control::ColourStack).setCheckedByUser(arguments.has("colour"));
    form.control(flat ? Control::CreateFlatfield : Control::CreateDarkframe).click();
    session.check();
    if (!form.workspace().StackReady) throw PlanexorError("Nothing was stacked");
    const std::vector<std::string> files = saveAsAsked(session, save);
    std::printf("%s of %d frames: %s\n", flat ? "flatfield" : "darkframe", form.stackedCount(), joined(files).c_str());
    return 0;
}

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {"info", "info INPUT... [--exclude LIST] [--save-list FILE.pxl] | info FILE.pxp",
         "Open a sequence (AVI, SER, BMP or JPG frames, or a .pxl frame list) and print its frame count, size and "
         "source; for SER also the colour ID, depth, byte order and whether the file is complete. For a project: "
         "its stage, source and frame counts.",
         {"exclude", "save-list"}, {}, runInfo},
        {"frame", "frame INPUT... --index N --out FILE.bmp", "Write frame N (0-based) of a sequence as a BMP.",
         {"index", "out"}, {}, runFrame},
        {"make-demo",
         "make-demo DIR [--frames N] [--size WxH] [--format avi|bmp|jpg|ser] [--codec raw|mjpeg] "
         "[--ser-colour mono|rggb|grbg|gbrg|bggr|rgb|bgr] [--ser-depth 8|12|16] [--seed S] [--drift PIXELS] "
         "[--hot-pixels N] [--vignetting V] [--seeing-distortion AMOUNT] [--patchy-seeing AMOUNT]",
         "Render a synthetic planet seen through turbulent air: the frames, truth.csv and original.bmp. With N hot "
         "pixels or vignetting V (0 up to, not including, 0.95: the light lost in the corners) the camera has these faults, and dark/ "
         "and flat/ hold calibration frames taken with it. --seeing-distortion (0..2) moves parts of the "
         "disc differently in each frame, a few pixels at 1, on top of the frame's shift; seeing.csv gives the "
         "field's true values (frame,x,y,dx,dy: the original's point x,y shows at x+dx,y+dy before the shift) "
         "every 32 pixels. --patchy-seeing (0..2) blurs a smooth band across the disc more than the rest, up to "
         "1.5 pixels more at 1, in another place in each frame.",
         {"frames", "size", "format", "codec", "ser-colour", "ser-depth", "seed", "drift", "hot-pixels", "vignetting",
          "seeing-distortion", "patchy-seeing"},
         {}, runMakeDemo},
        {"compare", "compare PICTURE.bmp ORIGINAL.bmp",
         "Print the PSNR (dB, peak 255) of a picture against the original over the original's planet, after the "
         "best whole-pixel placement and a gain and offset per channel: what a stack recovered of a demo's "
         "original.bmp.",
         {}, {}, runCompare},
        {"make-dark", "make-dark INPUT... --out FILE [--colour] [SAVING OPTIONS]",
         "Stack every frame of a sequence taken with the telescope covered, each at its own place, into a dark "
         "frame and save it (.fitq keeps its fractions of a level; load it with --dark).",
         withSaveOptions({}), {"colour", "no-overwrite"}, [](const Arguments& a) { return runMakeCalibration(a, false); }},
        {"make-flat", "make-flat INPUT... --out FILE [--dark FILE] [--colour] [SAVING OPTIONS]",
         "The same for a flat field from frames of an even light, the dark subtracted first when given (save as "
         ".fitq: a plain FITS flat is refused).",
         withSaveOptions({"dark"}), {"colour", "no-overwrite"}, [](const Arguments& a) { return runMakeCalibration(a, true); }},
        {"align", "align INPUT... --feature X,Y [--box 64|128|256] [--no-track] [--predict] [--subpixel] "
                  "[--quality spectrum|disc] [--dark FILE] [--flat FILE] [FRAME OPTIONS] [OPTIMIZING OPTIONS] "
                  "[--shifts FILE.csv] [--project FILE.pxp [--no-overwrite]]",
         "Click the alignment feature at X,Y on the first frame used (frame 0 unless excluded), align every "
         "frame and write each frame's shift, "
         "difference, quality and rank (0 = best, -1 = not ranked) as CSV, and/or save the work as a project. "
         "--subpixel refines each shift to a fraction of a pixel, from the planet disc's centre of light where "
         "the frames show the whole disc (the CSV gains subpixel_x,subpixel_y, the fraction beside the whole "
         "shift); --quality disc ranks by the sharpness of the whole planet disc instead "
         "of the box's spectrum.",
         {"feature", "box", "shifts", "dark", "flat", "exclude", "save-list", "optimize-until", "search-area",
          "lower-quality", "project", "quality"},
         {"no-track", "predict", "optimize", "no-overwrite", "subpixel"}, runAlign},
        {"stack",
         "stack INPUT... --feature X,Y [--box N] [--best N | --best-percent P] [--max-diff PERCENT] [--mono] "
         "[--no-quality-weight] [--resample F --filter bell|bspline|lanczos|mitchell [--middle X,Y]] [--expand] [--subpixel] "
         "[--quality spectrum|disc] [--points N|auto [--local-quality]] "
         "[--deinterlace none|both|odd|even] [--wavelets G1,G2,G3,G4,G5,G6] [--layers-off LIST] [--linear|--dyadic] "
         "[--contrast C] [--brightness B] [--gamma G] [--gamma-curve IN:OUT,...] [--kernel K0,...,K8] [--chain] "
         "[FRAME OPTIONS] [OPTIMIZING OPTIONS] --out FILE [--save stack|processed] [SAVING OPTIONS] "
         "[--shifts FILE.csv] [--dark FILE] [--flat FILE] [--colour] [--project FILE.pxp]\n"
         "  stack FILE.pxp [the same options but those of opening and aligning: --feature, --box, --deinterlace, "
         "--chain, --subpixel, --quality, --resample, --dark, --flat, FRAME OPTIONS and OPTIMIZING OPTIONS]",
         "Align, stack the best frames (default: the best 25%) and save. With any of the processing options (or "
         "--save processed) the saved picture is the sharpened, display-mapped one; --wavelets takes the six layer "
         "slider values (10 = unchanged). --gamma-curve draws the gamma curve through its points (input:output "
         "levels, the first output 0, the last 255) after any --gamma; --kernel types the wavelet filter's nine "
         "weights, row by row from the top (two decimals), and presses Set. --chain presses \"Align & stack\" "
         "instead: the ranks down to --lower-quality are stacked and processed in one go, and the processed picture "
         "is saved. --dark and --flat (.bmp, .fitq, .fit or .fits) calibrate every frame; a FITS one turns colour "
         "stacking off unless --colour is given. --project saves the work at the end. Given an aligned project, it "
         "stacks again without aligning (default: the project's cut-off). --subpixel registers to a fraction of a "
         "pixel and places each frame there, through the --filter when resampling and Lanczos3 otherwise; an enlarged stack wider or taller than 1024 pixels "
         "keeps the 1024 around --middle (frame pixels; default the feature), as the window's \"Set middle\" does; "
         "--quality as for 'align'. --points registers about N points over the planet (auto: about 24, at most "
         "32 pixels apart) in every stacked frame against a first stack of the same frames, and warps each frame "
         "by them before adding it, for seeing that moves parts of the disc differently. --local-quality lets each "
         "point's patch take its own sharpest frames (as many as the cut-off would stack) from every frame the "
         "cut-offs pass, blended smoothly from point to point; frames are then placed at whole pixels.",
         withSaveOptions({"feature", "box", "best", "best-percent", "max-diff", "resample", "filter", "middle", "deinterlace",
                          "wavelets", "layers-off", "contrast", "brightness", "gamma", "gamma-curve", "kernel",
                          "shifts", "exclude", "save-list", "optimize-until", "search-area", "lower-quality", "dark",
                          "flat", "project", "quality", "points"}),
         {"no-track", "predict", "mono", "no-quality-weight", "expand", "linear", "dyadic", "no-overwrite", "chain",
          "optimize", "colour", "subpixel", "local-quality"},
         runStack},
        {"process",
         "process IMAGE|FILE.pxp --out FILE [--save processed|stack] [--wavelets ...] [--layers-off LIST] "
         "[--linear|--dyadic] [--contrast C] [--brightness B] [--gamma G] [--gamma-curve IN:OUT,...] "
         "[--kernel K0,...,K8] [SAVING OPTIONS]",
         "Open one picture (.fit, .fits, .bmp or .jpg) as the window opens a single image, or reopen a stacked "
         "project with its stored settings, sharpen it with the processing options of 'stack' and save.",
         withSaveOptions({"wavelets", "layers-off", "contrast", "brightness", "gamma", "gamma-curve", "kernel"}),
         {"linear", "dyadic", "no-overwrite"}, runProcess},
        {"about", "about", "Print the version and the OS and memory lines of a report.", {}, {}, runAbout},
    };
    return table;
}

constexpr const char* SavingHelp =
    "saving options (stack, process, make-dark, make-flat):\n"
    "  --out FILE            .bmp or .jpg: the picture as shown; .fit/.fits: FITS of the data (colour as\n"
    "                        FILE_R/_G/_B.fit); .fitq: the stack x 128 (stack only)\n"
    "  --selection X1,Y1,X2,Y2  save only this box of the processed picture (.bmp or .jpg)\n"
    "  --subdir NAME         write into NAME under the input's folder (made when missing)\n"
    "  --fits-object|--fits-telescope|--fits-instrument|--fits-exposure|--fits-observer|--fits-comment TEXT\n"
    "                        FITS header texts\n"
    "  --no-overwrite        keep an existing file and fail instead of replacing it\n";

constexpr const char* FrameHelp =
    "\nframe options (info, align, stack):\n"
    "  --exclude LIST        leave out frames, numbered from 0: 3,10-20\n"
    "  --save-list FILE.pxl  write the frames used as a frame list (still frames only)\n";

constexpr const char* OptimizingHelp =
    "\noptimizing options (align, stack):\n"
    "  --optimize            refine the alignment after aligning, pass after pass (off without it)\n"
    "  --optimize-until P    stop when a pass improves the total difference by P % or less (1..50, 1)\n"
    "  --search-area S       try shifts up to S pixels each way (1..10, 2)\n"
    "  --lower-quality P     optimize, and chain-stack, only frames of at least P % of the best quality (0..100, 80)\n";

void printUsage(std::FILE* out) {
    std::fprintf(out, "usage: planexor-cli COMMAND [ARGS]\n\ncommands:\n");
    for (const Command& command : commands()) std::fprintf(out, "  %s\n      %s\n", command.usage, command.help);
    std::fprintf(out, "\n%s%s%s", SavingHelp, FrameHelp, OptimizingHelp);
    std::fprintf(out, "\nEvery command takes --settings FILE: the control values of a settings file (planexor.ini)\n"
                      "come first. Without it no stored setting of the window is used.\n");
    std::fprintf(out, "\nErrors exit with status 1, usage errors with 2. 'planexor-cli COMMAND --help' shows one command.\n");
}

int run(int argc, char** argv) {
    if (argc < 2) {
        printUsage(stderr);
        return ExitUsage;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        printUsage(stdout);
        return 0;
    }
    for (const Command& command : commands()) {
        if (name != command.name) continue;
        for (int i = 2; i < argc; ++i) {
            if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
                std::printf("usage: planexor-cli %s\n%s\n", command.usage, command.help);
                // Only the option groups the command takes.
                const auto takes = [&command](const char* option) {
                    return std::find(command.valueOptions.begin(), command.valueOptions.end(), option) !=
                           command.valueOptions.end();
                };
                if (takes("subdir")) std::printf("\n%s", SavingHelp);
                if (takes("exclude")) std::printf("%s", FrameHelp);
                if (takes("search-area")) std::printf("%s", OptimizingHelp);
                return 0;
            }
        }
        try {
            // --settings belongs to every command.
            std::vector<char*> rest;
            for (int i = 2; i < argc; ++i) {
                if (std::strcmp(argv[i], "--settings") != 0) {
                    rest.push_back(argv[i]);
                    continue;
                }
                if (i + 1 >= argc) throw UsageError("--settings needs a value");
                settingsFileOption = argv[++i];
                std::error_code error;
                if (!std::filesystem::exists(settingsFileOption, error))
                    throw PlanexorError("The settings file " + settingsFileOption + " does not exist");
            }
            return command.run(parse(command, static_cast<int>(rest.size()), rest.data()));
        } catch (const UsageError& error) {
            std::fprintf(stderr, "planexor-cli %s: %s\nusage: planexor-cli %s\n", command.name, error.what(),
                         command.usage);
            return ExitUsage;
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "error: %s\n", NotEnoughMemoryText);
            return ExitFailure;
        } catch (const std::exception& error) {
            // An empty text means the handler has already shown its message.
            if (*error.what()) std::fprintf(stderr, "error: %s\n", error.what());
            return ExitFailure;
        }
    }
    std::fprintf(stderr, "planexor-cli: unknown command '%s'\n", name.c_str());
    printUsage(stderr);
    return ExitUsage;
}

}  // namespace
}  // namespace planexor

// What a command prints (info's lines, the files it wrote) is part of its
// result: output that could not be written fails the command.
int main(int argc, char** argv) {
    planexor::removeUnfinishedFilesOnSignals();
    const int status = planexor::run(argc, argv);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "error: Cannot write the output: %s\n", std::strerror(errno));
        return status == 0 ? planexor::ExitFailure : status;
    }
    return status;
}
