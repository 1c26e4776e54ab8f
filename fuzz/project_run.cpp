#include "project_run.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/big_ini_file.h"
#include "app/main_form.h"
#include "app/project_file.h"
#include "core/error.h"
#include "core/file_io.h"
#include "demo/synthetic_planet.h"

namespace planexor::fuzzing {
namespace {

class FramesFolder {
public:
    FramesFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/planexor-project-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        path_ = pattern;
        DemoOptions options;
        options.directory = path_;
        options.frames = 4;
        options.width = 96;
        options.height = 72;
        RunProgress quiet;
        for (const auto format : {DemoOptions::Avi, DemoOptions::Bmp}) {
            options.format = format;
            writeDemoSequence(options, quiet);
        }
    }
    ~FramesFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

    // A name the project gives, as a file of this folder.
    std::string inside(const std::string& name) const {
        std::string file = fileNameOf(name);
        if (file.empty() || file == "." || file == "..") file = "missing";
        return joinPath(path_, file);
    }

private:
    std::string path_;
};

const FramesFolder& folder() {
    static const FramesFolder frames;
    return frames;
}

}  // namespace

void loadProjectConfined(const std::string& projectPath) {
    const FramesFolder& frames = folder();
    ProjectData project;
    {
        const TBigIniFile ini(projectPath);
        project = readProject(ini);
    }
    project.filedir = frames.path();
    project.filename = fileNameOf(frames.inside(project.filename));
    for (std::string& file : project.frameFiles) file = fileNameOf(frames.inside(file));
    if (project.dark) project.dark->first = frames.inside(project.dark->first);
    if (project.flat) project.flat->first = frames.inside(project.flat->first);
    const std::string confined = joinPath(frames.path(), "confined.pxp");
    {
        TBigIniFile out;
        writeProject(out, project);
        out.SaveAs(confined);
    }
    ScriptedUiServices ui;
    MemoryUserSettings settings;
    TMainForm form(ui, settings);
    form.project().load(confined);
}

int fuzzProject(const std::uint8_t* data, std::size_t size) {
    const std::string path = joinPath(folder().path(), "input.pxp");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
    try {
        loadProjectConfined(path);
    } catch (const PlanexorError&) {
    }
    return 0;
}

}  // namespace planexor::fuzzing
