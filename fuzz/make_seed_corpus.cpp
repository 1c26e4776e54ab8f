// Seeds for the fuzz targets, written by our own writers at the smallest sizes
// that still take every reader through its frame loop:
//   make_seed_corpus SOURCE_DIR OUTPUT_DIR   (OUTPUT_DIR/<target>/...)
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/big_ini_file.h"
#include "core/error.h"
#include "core/file_io.h"
#include "demo/synthetic_planet.h"
#include "input/bmp_codec.h"
#include "input/frame_list_file.h"
#include "input/jpeg_codec.h"
#include "process/fits_writer.h"

using namespace planexor;
namespace fs = std::filesystem;

namespace {

fs::path output;

void keep(const std::string& from, const std::string& target, const std::string& name) {
    fs::create_directories(output / target);
    fs::copy_file(from, output / target / name, fs::copy_options::overwrite_existing);
}

// The sequence files of one small demo run, kept as target/<prefix>N<extension>.
void demo(DemoOptions options, const std::string& target, const std::string& prefix, std::size_t count) {
    const fs::path scratch = fs::temp_directory_path() / "planexor-seeds";
    fs::remove_all(scratch);
    options.directory = scratch.string();
    options.width = 32;
    options.height = 24;
    RunProgress quiet;
    const DemoResult result = writeDemoSequence(options, quiet);
    for (std::size_t i = 0; i < result.sequenceFiles.size() && i < count; ++i) {
        const std::string& file = result.sequenceFiles[i];
        keep(file, target, prefix + std::to_string(i) + lowerExtensionOf(file));
    }
    fs::remove_all(scratch);
}

void videos() {
    DemoOptions options;
    options.frames = 3;
    demo(options, "avi", "raw", 1);
    options.codec = DemoOptions::Mjpeg;
    demo(options, "avi", "mjpeg", 1);
    options.format = DemoOptions::Ser;
    demo(options, "ser", "mono8-", 1);
    options.serColour = SerColour::BayerRggb;
    options.serDepth = 12;
    demo(options, "ser", "rggb12-", 1);
    options.serColour = SerColour::Rgb;
    options.serDepth = 16;
    demo(options, "ser", "rgb16-", 1);
    options.format = DemoOptions::Bmp;
    options.frames = 2;
    demo(options, "bmp", "frame", 2);
    options.format = DemoOptions::Jpg;
    demo(options, "jpg", "frame", 2);
}

void fits() {
    auto workspace = std::make_unique<Workspace>();
    for (int x = 0; x < 16; ++x)
        for (int y = 0; y < 12; ++y) workspace->StackG[x][y] = static_cast<float>(x * 700 + y * 90);
    TFITParams params;
    params.Object = "Jupiter";
    params.UseNow = false;
    params.Date = 45000;
    params.Time = 0.5;
    const fs::path scratch = fs::temp_directory_path() / "planexor-seeds-fits";
    fs::create_directories(scratch);
    const struct {
        int bits, source;
        const char* name;
    } kinds[] = {{16, FitsStack, "stack16"}, {32, FitsStack, "stack32"}, {16, FitsSpecialStack, "times128"}};
    for (const auto& kind : kinds) {
        const auto files = WriteFits((scratch / kind.name).string(), 16, 12, kind.bits, kind.source, params,
                                     stackChannels(*workspace), false);
        keep(files.front(), "fits", kind.name + lowerExtensionOf(files.front()));
    }
    fs::remove_all(scratch);
}

void ini() {
    const std::string path = (fs::temp_directory_path() / "planexor-seed.pxp").string();
    fs::remove(path);
    {
        TBigIniFile file(path);
        file.WriteString("Form", "AviFile", "/data/jupiter.avi");
        file.WriteInteger("Form", "StackSlider", 125);
        file.WriteBool("Form", "ColorStack", true);
        file.WriteFloat("Form", "Gamma", 1.2);
        file.WriteFloat("Form", "Contrast", 0.75f);
        file.WriteInteger("Frames", "Count", 3);
        for (int i = 0; i < 3; ++i) file.WriteString("Frames", "F" + std::to_string(i), "3,-2,0,0,0.91,0.02,0,0,0");
        file.WriteString("Toolwin", "Position", "0x1F");
        file.UpdateFile();
    }
    keep(path, "ini", "project.pxp");
    fs::remove(path);
}

// Lists naming the frames the list target lays beside them, as a save writes
// them and as a hand might: absolute, relative, with gaps and missing frames.
void lists() {
    const struct {
        const char* name;
        std::vector<std::string> paths;
    } kinds[] = {
        {"saved.pxl", {"/home/observer/jupiter/frame0.bmp", "/home/observer/jupiter/frame1.bmp"}},
        {"mixed.pxl", {"frame2.jpg", "../elsewhere/wide.bmp", "missing.bmp", "broken.bmp", "frame0.bmp"}},
    };
    fs::create_directories(output / "list");
    for (const auto& kind : kinds) writeFileAtomically((output / "list" / kind.name).string(), frameListText(kind.paths));
    writeFileAtomically((output / "list" / "by-hand.pxl").string(), std::string("\n  \nframe1.bmp\n\rframe0.bmp\r\n\n"));
}

void rtf(const fs::path& source) {
    for (int page = 1; page <= 5; ++page) {
        const std::string name = "Panel" + std::to_string(page) + ".rtf";
        keep((source / "data" / "help" / name).string(), "rtf", name);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_seed_corpus SOURCE_DIR OUTPUT_DIR\n");
        return 2;
    }
    output = argv[2];
    try {
        videos();
        fits();
        ini();
        lists();
        rtf(argv[1]);
    } catch (const PlanexorError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
