#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace planexor {

class TBigIniFile;
class TMainForm;

// The "Form" section that the settings file and every project carry: the
// key "FormVersion" with 0, then one key per stored property of the control
// table, in the table's stored order. Booleans are "True"/"False", integers
// decimal, spin values in the shortest "C" text that reads back exactly.
inline constexpr const char* FormSection = "Form";

using FormPairs = std::vector<std::pair<std::string, std::string>>;

// The section as the form's controls hold it now.
FormPairs captureFormSection(const TMainForm& form);
// Replaces the section of `ini` by the form's values: keys no longer in the
// list do not survive.
void writeFormSection(TBigIniFile& ini, const TMainForm& form);

// What a restore did not apply at once: values whose range comes with the
// sequence, set by whoever knows the range.
struct DeferredFormValues {
    std::optional<double> stackSlider;
};

// Sets the stored values of `section` silently: no handler runs, no message
// shows, no frame is decoded, no tool window opens and no user setting is
// written. A value that does not parse or lies outside its control's range
// leaves the control as it is; unknown keys are passed over. Then one pass
// brings what is derived from the values in line (gamma table, resampling
// factor, the showing and enabling rules of the option boxes). Returns the
// values that wait for the sequence.
DeferredFormValues restoreFormSection(TMainForm& form, const FormPairs& section);
DeferredFormValues restoreFormSection(TMainForm& form, const TBigIniFile& ini);

// The options beyond the "Form" keys (sub-pixel, quality measure) live in a
// section of their own, so "Form" keeps its layout and a reader of that
// layout meets nothing new. Empty while every option is at its default: the
// files then stay as they were without them. Restoring sets each option to
// the section's value, or to its default when the key or the section is
// missing, then brings the derived state in line.
inline constexpr const char* ExtensionSection = "Extensions";
FormPairs captureExtensionSection(const TMainForm& form);
void restoreExtensionSection(TMainForm& form, const FormPairs& section);

// The derived state of the whole form, brought in line with its controls.
void syncFormWithControls(TMainForm& form);

}  // namespace planexor
