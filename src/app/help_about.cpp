#include "app/help_about.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/main_form.h"
#include "core/error.h"

namespace planexor {
namespace {

std::string unquoted(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

std::string percentEncoded(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string fileText(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

HelpAndAbout::HelpAndAbout(TMainForm& form) : form_(form) {}

void HelpAndAbout::bindHandlers() {
    form_.bind(Control::BitBtn1, "BitBtn1Click", false, [this] { BitBtn1Click(); });
    form_.bind(Control::MailLabel, "MailLabelClick", false, [this] { MailLabelClick(); });
    form_.bind(Control::HomepageLabel, "HomepageLabelClick", false, [this] { HomepageLabelClick(); });
}

void HelpAndAbout::BitBtn1Click() {
    ControlModel& window = form_.control(Control::HintWindow);
    window.setVisible(!window.visible());
    panel_ = {};
    form_.control(Control::Hintsmemo).setCaption("");
    showPanel(form_.control(Control::PageControl1).itemIndex() + 1);
}

void HelpAndAbout::showPanel(int page) {
    try {
        panel_ = loadHelpPanel(directories, page);
    } catch (const PlanexorError& error) {
        form_.ui().showMessage(MessageKind::Information, error.what());
        return;
    }
    form_.control(Control::Hintsmemo).setCaption(panel_.text());
}

void HelpAndAbout::MailLabelClick() {
    form_.ui().openUrl(mailtoLink(ReportAddress, "Planexor " + form_.caption(), reportForm()));
}

void HelpAndAbout::HomepageLabelClick() { form_.ui().openUrl(HomepageUrl); }

std::vector<std::filesystem::path> helpDirectoriesFor(const std::filesystem::path& programFile) {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::absolute(programFile, error);
    return {installedHelpDirectory(program), program.parent_path() / "help"};
}

std::string osInfoText(std::string_view osRelease, std::string_view kernelRelease) {
    if (kernelRelease.empty()) return {};
    std::string name = "Linux";
    std::istringstream lines{std::string(osRelease)};
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("NAME=", 0) == 0 && !unquoted(line.substr(5)).empty()) name = unquoted(line.substr(5));
    }
    // "6.1.0-18-amd64": the first two numbers.
    int major = 0, minor = 0;
    const std::string release(kernelRelease);
    if (std::sscanf(release.c_str(), "%d.%d", &major, &minor) < 1) return name + " (Build " + release + ")";
    return name + " " + std::to_string(major) + "." + std::to_string(minor) + " (Build " + release + ")";
}

std::string GetOSINFO() {
    utsname system{};
    if (uname(&system) != 0) return {};
    std::string osRelease = fileText("/etc/os-release");
    if (osRelease.empty()) osRelease = fileText("/usr/lib/os-release");
    return osInfoText(osRelease, system.release);
}

std::string memoryText() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return {};
    return std::to_string(static_cast<unsigned long long>(pages) * static_cast<unsigned long long>(pageSize) / 1024) +
           " Kb";
}

std::string reportForm() {
    return "Please describe what happened and what you expected:\n\n\n"
           "Steps that lead to it:\n\n\n"
           "Input (AVI, BMP, JPG or FITS; size and number of frames):\n\n\n"
           " Version: " + std::string(ProgramVersion) + "\n"
           " OS: " + GetOSINFO() + "\n"
           " Memory: " + memoryText() + "\n";
}

std::string mailtoLink(const std::string& address, const std::string& subject, const std::string& body) {
    return "mailto:" + address + "?subject=" + percentEncoded(subject) + "&body=" + percentEncoded(body);
}

}  // namespace planexor
