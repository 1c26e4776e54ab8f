#include "reader_runs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/big_ini_file.h"
#include "app/rich_text.h"
#include "core/error.h"
#include "core/file_io.h"
#include "input/avi_reader.h"
#include "input/calibration.h"
#include "input/bmp_codec.h"
#include "input/fits_reader.h"
#include "input/frame_list_file.h"
#include "input/jpeg_codec.h"
#include "input/ser_reader.h"
#include "input/still_frames.h"

namespace planexor::fuzzing {
namespace {

void expect(bool promise, const char* what) {
    if (!promise) throw ReaderFault(what);
}

// 55 MB of planes: made once per process, as the program does.
Workspace& workspace() {
    static const auto shared = std::make_unique<Workspace>();
    return *shared;
}

// Each load on its own: a refused dark must not keep the flat from being tried.
template <class Load>
void tryLoad(Load load) {
    try {
        load();
    } catch (const PlanexorError&) {
    }
}

void checkFrame(const FrameSource& source, const Bitmap24& frame, int width, int height) {
    expect(frame.width() == width && frame.height() == height, "a decoded frame differs from the stream's size");
    expect(!source.describe().empty(), "no description");
}

void runStill(const std::string& path) {
    Bitmap24 frame;
    loadStillFrame(path, frame);
    expect(!frame.empty(), "a still frame read without pixels");
    // Calibration reads BMP through the same decoder; of its own it only
    // cuts a picture larger than the planes, and filling planes costs
    // milliseconds a run.
    if (lowerExtensionOf(path) != ".bmp" || (frame.width() <= MaxImageSide && frame.height() <= MaxImageSide)) return;
    tryLoad([&] { loadDarkFrame(workspace(), path, CalibrationBmp); });
    tryLoad([&] { loadFlatField(workspace(), path, CalibrationBmp); });
}

// Sequential frames, a jump to the end and back to the start: the accesses of
// a frame loop and of the preview slider.
template <class Reader>
void runVideo(const std::string& path) {
    Reader reader(path);
    const int count = reader.frameCount();
    expect(count > 0, "a video opened without frames");
    Bitmap24 frame;
    std::vector<int> wanted;
    for (int i = 0; i < std::min(count, 4); ++i) wanted.push_back(i);
    wanted.push_back(count - 1);
    wanted.push_back(0);
    for (const int i : wanted) {
        reader.decode(i, frame);
        checkFrame(reader, frame, reader.width(), reader.height());
    }
}

void runSer(const std::string& path) {
    runVideo<SerReader>(path);
    SerReader reader(path);
    reader.timestamp(reader.frameCount() - 1);
}

// The file as a frame, then as a dark and a flat of both FITS kinds: each
// path on its own, since they check the header differently.
void runFits(const std::string& path) {
    tryLoad([&] {
        const FitsPlaneRead read = openFitsFrame(workspace(), path);
        expect(read.width >= 1 && read.width <= MaxImageSide && read.height >= 1 && read.height <= MaxImageSide,
               "a FITS frame read outside the plane");
        expect(std::isfinite(read.minimum) && std::isfinite(read.maximum) && read.minimum <= read.maximum,
               "FITS extremes that are no numbers");
    });
    for (const int type : {CalibrationSpecialFits, CalibrationFits}) {
        tryLoad([&] { loadDarkFrame(workspace(), path, type); });
        tryLoad([&] {
            if (!loadFlatField(workspace(), path, type).loaded) return;
            // Every frame pixel is divided by it.
            const Workspace& w = workspace();
            for (int x = 0; x < w.FlatWidth; ++x)
                for (int y = 0; y < w.FlatHeight; ++y)
                    expect(std::isfinite(w.FlatG[x][y]) && w.FlatG[x][y] > 0, "a flat element that cannot divide");
        });
    }
}

// The frames a fuzzed list may name, beside the list: two alike, one of
// another size, a JPG and a BMP cut short. Nothing else exists for it.
void makeFrames(const std::string& directory) {
    static std::string madeIn;
    if (madeIn == directory) return;
    const auto frame = [](int width, int height) {
        Bitmap24 picture(width, height);
        for (int y = 0; y < height; ++y)
            for (std::size_t i = 0; i < picture.rowBytes(); ++i)
                picture.row(y)[i] = static_cast<std::uint8_t>(y * 7 + i);
        return picture;
    };
    writeBmpFile(joinPath(directory, "frame0.bmp"), frame(40, 30));
    writeBmpFile(joinPath(directory, "frame1.bmp"), frame(40, 30));
    writeBmpFile(joinPath(directory, "wide.bmp"), frame(56, 30));
    writeJpegFile(joinPath(directory, "frame2.jpg"), frame(40, 30));
    const std::vector<std::uint8_t> bmp = encodeBmp(frame(40, 30));
    writeFileAtomically(joinPath(directory, "broken.bmp"), bmp.data(), 60);
    madeIn = directory;
}

// A list as the program opens one: every line sized from its header, the
// unreadable ones left out, the first readable one decoded. Each path is
// confined to the list's folder by its file name, so no fuzzed path reaches
// the machine's files.
void runList(const std::string& path) {
    const std::string directory = directoryOf(path);
    makeFrames(directory);
    std::vector<std::string> lines = readFrameListFile(path);
    for (const std::string& line : lines)
        expect(!line.empty() && line.size() <= MaxFrameListLine && line.find_first_of("\r\n") == std::string::npos,
               "a frame path that is no line of the list");
    expect(parseFrameList(frameListText(lines), "again") == lines, "a list reads back other than it was written");
    if (lines.size() > std::size_t{MaxFrames}) lines.resize(MaxFrames);
    std::string first;
    for (const std::string& line : lines) {
        const std::string name = fileNameOf(line);
        if (name.empty() || name == "." || name == "..") continue;
        const std::string confined = joinPath(directory, name);
        try {
            const StillFrameSize size = stillFrameSize(confined);
            expect(size.width > 0 && size.height > 0, "a frame sized without pixels");
            if (first.empty()) first = confined;
        } catch (const PlanexorError&) {
        }
    }
    if (first.empty()) return;
    Bitmap24 frame;
    loadStillFrame(first, frame);
    expect(!frame.empty(), "a listed frame read without pixels");
}

std::vector<std::string> allLines(const TBigIniFile& ini) {
    std::vector<std::string> lines;
    ini.ReadAll(lines);
    return lines;
}

// Reads every kind of value, rewrites each section's pairs, deletes and adds
// keys, then saves and reads back: the file must say what the memory held.
void runIni(const std::string& path) {
    TBigIniFile ini(path);
    std::vector<std::string> sections;
    ini.ReadSections(sections);
    sections.resize(std::min<std::size_t>(sections.size(), 8));
    for (const std::string& section : sections) {
        auto pairs = ini.ReadSectionPairs(section);
        for (std::size_t i = 0; i < std::min<std::size_t>(pairs.size(), 16); ++i) {
            const auto& [key, value] = pairs[i];
            expect(ini.ReadString(section, key, "\n") == value, "a key reads other than its pair");
            ini.ReadInteger(section, key, 0);
            ini.ReadBool(section, key, false);
            ini.ReadFloat(section, key, 0.5);
            ini.ReadFloat(section, key, 0.5f);
        }
        // A line without a key (damaged by hand) has nothing a pair could change.
        for (auto& [key, value] : pairs)
            if (!key.empty()) value += "0";
        ini.WriteSectionPairs(section, pairs);
        expect(ini.ReadSectionPairs(section) == pairs, "a section reads other than its pairs were written");
        if (pairs.empty()) continue;
        ini.DeleteKey(section, pairs.front().first);
        ini.WriteFloat(section, pairs.back().first, ini.ReadFloat(section, pairs.back().first, 0.5));
    }
    if (!sections.empty()) ini.EraseSection(sections.back());
    ini.WriteString("Fuzz", "Written", "1");
    const std::vector<std::string> held = allLines(ini);
    ini.UpdateFile();
    const TBigIniFile saved(path);
    expect(allLines(saved) == held, "an INI file reads back other than it was saved");
}

bool validUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
        i += length;
    }
    return true;
}

void runRtf(const std::string& path) {
    const auto bytes = readWholeFile(path, std::size_t{32} << 20);
    const RichDocument document = parseRtf(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    for (const RichParagraph& paragraph : document.paragraphs)
        for (const TextRun& run : paragraph.runs) {
            expect(validUtf8(run.text), "help text that is not UTF-8");
            expect(run.halfPoints >= 2 && run.halfPoints <= 400, "a font size out of range");
        }
}

}  // namespace

const std::vector<ReaderRun>& readerRuns() {
    static const std::vector<ReaderRun> runs = {
        {"bmp", ".bmp", runStill},       {"jpg", ".jpg", runStill}, {"avi", ".avi", runVideo<AviReader>},
        {"ser", ".ser", runSer},         {"fits", ".fit", runFits}, {"ini", ".pxp", runIni},
        {"rtf", ".rtf", runRtf},         {"list", ".pxl", runList},
    };
    return runs;
}

const ReaderRun& readerRun(const std::string& name) {
    const auto& runs = readerRuns();
    const auto found = std::find_if(runs.begin(), runs.end(), [&](const ReaderRun& run) { return run.name == name; });
    if (found == runs.end()) throw std::invalid_argument("no reader " + name);
    return *found;
}

namespace {

// Removed when the fuzzer exits normally; a crash leaves it for the post-mortem.
class PrivateDirectory {
public:
    PrivateDirectory() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/planexor-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        path_ = pattern;
    }
    ~PrivateDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace

int fuzzOneInput(const ReaderRun& reader, const std::uint8_t* data, std::size_t size) {
    static const PrivateDirectory directory;
    const std::string path = directory.path() + "/input" + reader.extension;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
    try {
        reader.run(path);
    } catch (const PlanexorError&) {
    }
    return 0;
}

}  // namespace planexor::fuzzing
