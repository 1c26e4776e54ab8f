// planexor-cli: the window's handlers, driven from the command line.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "app/user_settings.h"
#include "cli/console_ui.h"
#include "core/error.h"
#include "input/bmp_codec.h"
#include "input/file_io.h"
#include "input/synthetic_planet.h"

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
        const long result = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != 0) throw UsageError("--" + name + " needs a whole number, not '" + value + "'");
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
    for (int i = 0; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.rfind("--", 0) != 0 || word.size() == 2) {
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
    const std::string extension = lowerExtensionOf(path);
    if (extension == ".avi") return 1;
    if (extension == ".bmp") return 2;
    if (extension == ".fit" || extension == ".fits") return 3;
    if (extension == ".jpg" || extension == ".jpeg") return 4;
    throw PlanexorError("Unknown input type: " + path + " (expected .avi, .bmp, .jpg or .fit)");
}

// One window's worth of state, with the console standing in for the desktop.
struct Session {
    ConsoleUiServices ui;
    MemoryUserSettings settings;  // never the window's settings: a batch run must not depend on them
    TMainForm form{ui, settings};

    Session() { ui.followProgress(form); }

    // Opens the inputs through "Select input", as a user would.
    void open(const std::vector<std::string>& inputs) {
        if (inputs.empty()) throw UsageError("no input given");
        ui.queueFiles(inputs, filterIndexFor(inputs.front()));
        form.control("SelectFileButton").click();
        check();
        if (!form.workspace().SequenceOpen && !form.workspace().SingleImage)
            throw PlanexorError("Nothing was opened");
    }

    // A handler's failure was shown as an error message; the command fails with it.
    void check() const {
        if (ui.errorCount() > 0) throw PlanexorError("");
    }
};

int runInfo(const Arguments& arguments) {
    Session session;
    session.open(arguments.positional);
    const Workspace& w = session.form.workspace();
    std::printf("frames: %d\n", session.form.frameCount());
    std::printf("width: %d\n", w.OrigWidth);
    std::printf("height: %d\n", w.OrigHeight);
    std::printf("source: %s\n", session.form.describeSource().c_str());
    return 0;
}

int runFrame(const Arguments& arguments) {
    if (!arguments.has("out")) throw UsageError("--out FILE.bmp is required");
    Session session;
    session.open(arguments.positional);
    const long index = arguments.integer("index", 0);
    if (index < 0 || index >= session.form.frameCount())
        throw PlanexorError("There is no frame " + std::to_string(index) + " (the sequence has " +
                            std::to_string(session.form.frameCount()) + " frames)");
    session.form.control("PreviewSlider").setValueByUser(static_cast<double>(index));
    if (index == 0) session.form.PreviewSliderChange();
    session.check();
    writeBmpFile(arguments.text("out"), session.form.previewBitmap());
    std::printf("%s\n", arguments.text("out").c_str());
    return 0;
}

int runMakeDemo(const Arguments& arguments) {
    if (arguments.positional.size() != 1) throw UsageError("make-demo takes one directory");
    DemoOptions options;
    options.directory = arguments.positional.front();
    options.frames = static_cast<int>(arguments.integer("frames", options.frames));
    if (arguments.has("size")) {
        const std::string size = arguments.text("size");
        int width = 0, height = 0;
        char tail = 0;
        if (std::sscanf(size.c_str(), "%dx%d%c", &width, &height, &tail) != 2)
            throw UsageError("--size needs WIDTHxHEIGHT, not '" + size + "'");
        options.width = width;
        options.height = height;
    }
    const std::string format = arguments.text("format", "avi");
    if (format == "avi") options.format = DemoOptions::Avi;
    else if (format == "bmp") options.format = DemoOptions::Bmp;
    else if (format == "jpg") options.format = DemoOptions::Jpg;
    else throw UsageError("--format is avi, bmp or jpg");
    const std::string codec = arguments.text("codec", "raw");
    if (codec == "raw") options.codec = DemoOptions::Raw;
    else if (codec == "mjpeg") options.codec = DemoOptions::Mjpeg;
    else throw UsageError("--codec is raw or mjpeg");
    options.seed = static_cast<unsigned>(arguments.integer("seed", options.seed));
    options.drift = arguments.number("drift", options.drift);

    validateDemoOptions(options);
    ConsoleBar bar("Rendering frames");
    const DemoResult result = writeDemoSequence(options, bar);
    if (result.sequenceFiles.size() == 1) std::printf("sequence: %s\n", result.sequenceFiles.front().c_str());
    else std::printf("sequence: %zu frames, %s ...\n", result.sequenceFiles.size(), result.sequenceFiles.front().c_str());
    std::printf("truth: %s\noriginal: %s\n", result.truthFile.c_str(), result.originalFile.c_str());
    return 0;
}

// "X,Y" as two whole numbers.
std::pair<int, int> pointOption(const Arguments& arguments, const std::string& name) {
    const std::string text = arguments.text(name);
    int x = 0, y = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%d,%d%c", &x, &y, &tail) != 2)
        throw UsageError("--" + name + " needs X,Y, not '" + text + "'");
    return {x, y};
}

// Shortest text that reads back as the same float, in the "C" format.
std::string floatText(float value) {
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, result.ptr);
}

int runAlign(const Arguments& arguments) {
    if (!arguments.has("feature")) throw UsageError("--feature X,Y is required");
    if (!arguments.has("shifts")) throw UsageError("--shifts FILE.csv is required");
    const auto [featureX, featureY] = pointOption(arguments, "feature");
    int boxItem = -1;
    if (arguments.has("box")) {
        const long box = arguments.integer("box", 128);
        if (box != 64 && box != 128 && box != 256) throw UsageError("--box is 64, 128 or 256");
        boxItem = box == 64 ? 0 : box == 128 ? 1 : 2;
    }

    Session session;
    session.open(arguments.positional);
    TMainForm& form = session.form;
    if (boxItem >= 0) form.control("FFTsizeGroup").setItemIndexByUser(boxItem);
    form.control("Followme").setChecked(!arguments.has("no-track"));
    form.control("PredictTrack").setChecked(arguments.has("predict"));
    session.check();
    if (form.control("PreviewSlider").intValue() != 0) form.control("PreviewSlider").setValueByUser(0);
    form.mouseEvent("PreviewImage", TMainForm::MouseAction::Down, featureX, featureY, true);
    session.check();
    const Workspace& w = form.workspace();
    if (w.progstatus < 1)
        throw PlanexorError("The alignment feature " + arguments.text("feature") +
                            " was not accepted (too close to the border, or frame 0 is excluded)");
    form.control("Allignallbutton").click();
    session.check();

    const int last = form.frameCount() - 1;
    std::vector<int> rankOf(static_cast<std::size_t>(std::max(last, 0)) + 1, -1);
    if (w.progstatus >= 2 && !w.StopRequested)
        for (int rank = 0; rank < w.usedframes && rank < MaxFrames; ++rank) {
            const int frame = w.Ranking[rank].Frame;
            if (frame >= 0 && frame <= last && !w.FrameRecs[frame].Excluded) rankOf[frame] = rank;
        }
    std::string csv = "frame,shift_x,shift_y,difference,quality,rank\n";
    for (int frame = 0; frame <= last; ++frame) {
        const TFrameRec& record = w.FrameRecs[frame];
        csv += std::to_string(frame) + "," + std::to_string(record.ShiftX) + "," + std::to_string(record.ShiftY) +
               "," + floatText(record.Difference) + "," + floatText(record.Quality) + "," +
               std::to_string(rankOf[frame]) + "\n";
    }
    writeFileAtomically(arguments.text("shifts"), csv);
    std::printf("shifts: %s\n", arguments.text("shifts").c_str());
    return 0;
}

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {"info", "info INPUT...", "Open a sequence (AVI, BMP or JPG frames) and print its frame count, size and source.",
         {}, {}, runInfo},
        {"frame", "frame INPUT... --index N --out FILE.bmp", "Write frame N (0-based) of a sequence as a BMP.",
         {"index", "out"}, {}, runFrame},
        {"make-demo",
         "make-demo DIR [--frames N] [--size WxH] [--format avi|bmp|jpg] [--codec raw|mjpeg] [--seed S] [--drift PIXELS]",
         "Render a synthetic planet seen through turbulent air: the frames, truth.csv and original.bmp.",
         {"frames", "size", "format", "codec", "seed", "drift"}, {}, runMakeDemo},
        {"align", "align INPUT... --feature X,Y [--box 64|128|256] [--no-track] [--predict] --shifts FILE.csv",
         "Click the alignment feature at X,Y on frame 0, align every frame and write each frame's shift, "
         "difference, quality and rank (0 = best, -1 = not ranked) as CSV.",
         {"feature", "box", "shifts"}, {"no-track", "predict"}, runAlign},
    };
    return table;
}

void printUsage(std::FILE* out) {
    std::fprintf(out, "usage: planexor-cli COMMAND [ARGS]\n\ncommands:\n");
    for (const Command& command : commands()) std::fprintf(out, "  %s\n      %s\n", command.usage, command.help);
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
                return 0;
            }
        }
        try {
            return command.run(parse(command, argc - 2, argv + 2));
        } catch (const UsageError& error) {
            std::fprintf(stderr, "planexor-cli %s: %s\nusage: planexor-cli %s\n", command.name, error.what(),
                         command.usage);
            return ExitUsage;
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

int main(int argc, char** argv) { return planexor::run(argc, argv); }
