#include "app/form_state.h"

#include <cmath>
#include <unordered_map>

#include "app/big_ini_file.h"
#include "app/control_table.h"
#include "app/main_form.h"
#include "core/pixel.h"

namespace planexor {
namespace {

// Window places are screen coordinates; anything beyond this is not one.
constexpr int MaxWindowCoordinate = 100000;

std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

std::optional<bool> parseBoolean(std::string_view text) {
    const std::string lower = lowerAscii(text);
    if (lower == "true") return true;
    if (lower == "false") return false;
    if (const auto number = parseInteger(text)) return *number != 0;
    return std::nullopt;
}

std::string valueText(const ControlModel& model, StoredProperty property) {
    switch (property) {
        case StoredProperty::Checked: return model.checked() ? "True" : "False";
        case StoredProperty::Expand: return model.expanded() ? "True" : "False";
        case StoredProperty::Visible: return model.visible() ? "True" : "False";
        case StoredProperty::Left: return std::to_string(model.left());
        case StoredProperty::Top: return std::to_string(model.top());
        case StoredProperty::ItemIndex: return std::to_string(model.itemIndex());
        case StoredProperty::Value:
            if (model.kind() == ControlKind::Spin) return shortestDecimalText(model.value());
            return std::to_string(nearest(model.value()));
        case StoredProperty::None: break;
    }
    return {};
}

bool inRange(const ControlModel& model, double value) {
    return value >= model.minimum() && value <= std::max(model.minimum(), model.maximum());
}

// Sets one stored property silently; false when the text is no value for it.
bool restoreValue(ControlModel& model, StoredProperty property, std::string_view text, DeferredFormValues& deferred) {
    switch (property) {
        case StoredProperty::Checked:
        case StoredProperty::Expand:
        case StoredProperty::Visible: {
            const auto on = parseBoolean(text);
            if (!on) return false;
            if (property == StoredProperty::Checked) model.setChecked(*on);
            else if (property == StoredProperty::Expand) model.setExpanded(*on);
            else model.setVisible(*on);
            return true;
        }
        case StoredProperty::Left:
        case StoredProperty::Top: {
            const auto place = parseInteger(text);
            if (!place || *place < -MaxWindowCoordinate || *place > MaxWindowCoordinate) return false;
            if (property == StoredProperty::Left) model.setPosition(*place, model.top());
            else model.setPosition(model.left(), *place);
            return true;
        }
        case StoredProperty::ItemIndex: {
            const auto index = parseInteger(text);
            if (!index || *index < 0 || *index >= static_cast<int>(model.items().size())) return false;
            model.setItemIndex(*index);
            return true;
        }
        case StoredProperty::Value: {
            std::optional<double> value;
            if (model.kind() == ControlKind::Spin) value = parseDouble(text);
            else if (const auto whole = parseInteger(text)) value = *whole;
            if (!value) return false;
            // Its range is the sequence's, which is not known yet.
            if (model.id() == Control::StackSlider) {
                if (*value < 0 || *value > LastFrameNumber) return false;
                deferred.stackSlider = *value;
                return true;
            }
            if (!inRange(model, *value)) return false;
            model.setValue(*value);
            return true;
        }
        case StoredProperty::None: break;
    }
    return false;
}

const std::vector<PersistedKey>& extensionKeys() {
    static const std::vector<PersistedKey> keys = {{Control::SubpixelBox, StoredProperty::Checked},
                                                   {Control::QualityMeasure, StoredProperty::ItemIndex},
                                                   {Control::PointsSpin, StoredProperty::Value},
                                                   {Control::LocalQualityBox, StoredProperty::Checked}};
    return keys;
}

void resetToDefault(ControlModel& model, StoredProperty property) {
    const ControlDefinition& definition = definitionOf(model.id());
    if (property == StoredProperty::Checked) model.setChecked(definition.defaultChecked);
    else if (property == StoredProperty::ItemIndex) model.setItemIndex(nearest(definition.defaultValue));
    else model.setValue(definition.defaultValue);
}

}  // namespace

FormPairs captureExtensionSection(const TMainForm& form) {
    FormPairs pairs;
    bool allDefault = true;
    for (const PersistedKey& key : extensionKeys()) {
        const ControlModel& model = form.control(key.control);
        const ControlDefinition& definition = definitionOf(key.control);
        switch (key.property) {
            case StoredProperty::Checked: allDefault &= model.checked() == definition.defaultChecked; break;
            case StoredProperty::ItemIndex: allDefault &= model.itemIndex() == nearest(definition.defaultValue); break;
            default: allDefault &= model.value() == definition.defaultValue; break;
        }
        pairs.emplace_back(key.key(), valueText(model, key.property));
    }
    if (allDefault) pairs.clear();
    return pairs;
}

void restoreExtensionSection(TMainForm& form, const FormPairs& section) {
    std::unordered_map<std::string, const std::string*> byKey;
    for (const auto& [key, value] : section) byKey.emplace(lowerAscii(key), &value);
    DeferredFormValues unused;
    for (const PersistedKey& key : extensionKeys()) {
        ControlModel& model = form.control(key.control);
        const auto found = byKey.find(lowerAscii(key.key()));
        if (found == byKey.end() || !restoreValue(model, key.property, *found->second, unused))
            resetToDefault(model, key.property);
    }
    syncFormWithControls(form);
}

FormPairs captureFormSection(const TMainForm& form) {
    FormPairs pairs;
    pairs.reserve(persistedKeys().size() + 1);
    pairs.emplace_back("FormVersion", "0");
    for (const PersistedKey& key : persistedKeys())
        pairs.emplace_back(key.key(), valueText(form.control(key.control), key.property));
    return pairs;
}

void writeFormSection(TBigIniFile& ini, const TMainForm& form) {
    ini.EraseSection(FormSection);
    ini.WriteSectionPairs(FormSection, captureFormSection(form));
}

DeferredFormValues restoreFormSection(TMainForm& form, const FormPairs& section) {
    DeferredFormValues deferred;
    if (section.empty()) return deferred;
    // As the INI engine finds keys: without regard to case, the first line wins.
    std::unordered_map<std::string, const std::string*> byKey;
    for (const auto& [key, value] : section) byKey.emplace(lowerAscii(key), &value);
    for (const PersistedKey& key : persistedKeys()) {
        const auto found = byKey.find(lowerAscii(key.key()));
        if (found != byKey.end()) restoreValue(form.control(key.control), key.property, *found->second, deferred);
    }
    syncFormWithControls(form);
    return deferred;
}

DeferredFormValues restoreFormSection(TMainForm& form, const TBigIniFile& ini) {
    return restoreFormSection(form, ini.ReadSectionPairs(FormSection));
}

void syncFormWithControls(TMainForm& form) {
    form.alignPage().syncWithControls();
    form.stackPage().syncWithControls();
    form.processPage().syncWithControls();
}

}  // namespace planexor
