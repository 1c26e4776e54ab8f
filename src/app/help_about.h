#pragma once
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/rich_text.h"

namespace planexor {

class TMainForm;

// Where the program's home page and its reports are.
inline constexpr const char* HomepageUrl = "https://planexor.org/";
inline constexpr const char* ReportAddress = "reports@planexor.org";
inline constexpr const char* ProgramVersion = "Planexor V1.1";

// The help window's panels and the About page.
class HelpAndAbout {
public:
    explicit HelpAndAbout(TMainForm& form);
    void bindHandlers();

    // Where the panels are looked for, in order: the installed data
    // directory and the build tree, never the current directory.
    std::vector<std::filesystem::path> directories;

    // "Help": shows or hides the help window, with the active page's panel.
    void BitBtn1Click();
    // The panel of page 1..5 into Hintsmemo, or its "not found" message.
    void showPanel(int page);
    // The panel shown, with its styles: what the window renders.
    const RichDocument& panel() const { return panel_; }

    // Opens a new mail to the report address with the report form.
    void MailLabelClick();
    void HomepageLabelClick();

private:
    TMainForm& form_;
    RichDocument panel_;
};

// "Debian GNU/Linux 6.1 (Build 6.1.0-18-amd64)": the name of os-release
// ("Linux" when it has none), the kernel's major and minor version, and its
// full release. Empty without a kernel release.
// The installed data directory (<prefix>/share/planexor/help for
// <prefix>/bin/planexor), then the build tree's copy beside the program.
std::vector<std::filesystem::path> helpDirectoriesFor(const std::filesystem::path& programFile);

std::string osInfoText(std::string_view osRelease, std::string_view kernelRelease);
// The same for this machine.
std::string GetOSINFO();
// Physical memory as "<kilobytes> Kb", empty when it cannot be queried.
std::string memoryText();
// The body of a report mail: questions for the user, then " OS: " and
// " Memory: " lines.
std::string reportForm();
std::string mailtoLink(const std::string& address, const std::string& subject, const std::string& body);

}  // namespace planexor
