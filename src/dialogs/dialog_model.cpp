#include "dialogs/dialog_model.h"

#include <algorithm>
#include <charconv>

namespace quorix::dialogs {

std::optional<int32_t> ParseSigned(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    // from_chars takes a minus sign but no plus sign.
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('-')) {
            return std::nullopt;
        }
    }
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

DialogModel::DialogModel(platform::Language language, std::string caption)
    : m_language(language), m_caption(std::move(caption)) {}

// --- Reading -----------------------------------------------------------------------------------

const Control* DialogModel::FindOn(int32_t page, int32_t id) const {
    for (const Control& control : m_controls) {
        if (control.id == id && control.page == page) {
            return &control;
        }
    }
    return nullptr;
}

const Control* DialogModel::Find(int32_t id, int32_t page) const {
    return FindOn(page, id);
}

const Control* DialogModel::Find(int32_t id) const {
    if (const Control* frame = FindOn(Control::kFrame, id)) {
        return frame;
    }
    return FindOn(CurrentPage(), id);
}

int32_t DialogModel::CurrentPage() const {
    const Control* tabs = FindOn(Control::kFrame, kIdTab);
    return tabs != nullptr ? tabs->selection : 0;
}

std::optional<int32_t> DialogModel::EditNumber(int32_t page, int32_t id) const {
    const Control* edit = FindOn(page, id);
    return edit != nullptr ? ParseSigned(edit->text) : std::nullopt;
}

int32_t DialogModel::TrioValue(int32_t page, const Trio& trio) const {
    const Control* bar = FindOn(page, trio.trackbar);
    if (bar == nullptr) {
        return 0;
    }
    const std::optional<int32_t> typed = EditNumber(page, trio.edit);
    return typed ? std::clamp(*typed, bar->minimum, bar->maximum) : bar->position;
}

// --- Building ----------------------------------------------------------------------------------

Control& DialogModel::Add(Control control) {
    m_controls.push_back(std::move(control));
    return m_controls.back();
}

namespace {

Control MakeControl(int32_t id, ControlKind kind, int32_t page) {
    Control control;
    control.id = id;
    control.kind = kind;
    control.page = page;
    return control;
}

}  // namespace

void DialogModel::AddButton(int32_t page, int32_t id, std::string text) {
    Add(MakeControl(id, ControlKind::kButton, page)).text = std::move(text);
}

void DialogModel::AddCheckBox(int32_t page, int32_t id, std::string text) {
    Add(MakeControl(id, ControlKind::kCheckBox, page)).text = std::move(text);
}

void DialogModel::AddRadioButton(int32_t page, int32_t id, int32_t group, std::string text,
                                 std::string caption) {
    Control& radio = Add(MakeControl(id, ControlKind::kRadioButton, page));
    radio.text = std::move(text);
    radio.label = std::move(caption);
    radio.buddy = group;
}

void DialogModel::AddComboBox(int32_t page, int32_t id, std::string label) {
    Add(MakeControl(id, ControlKind::kComboBox, page)).label = std::move(label);
}

void DialogModel::AddEdit(int32_t page, int32_t id, std::string label) {
    Add(MakeControl(id, ControlKind::kEdit, page)).label = std::move(label);
}

void DialogModel::AddStatic(int32_t page, int32_t id, std::string text) {
    Add(MakeControl(id, ControlKind::kStatic, page)).text = std::move(text);
}

void DialogModel::AddTrio(int32_t page, const Trio& trio, std::string label) {
    Add(MakeControl(trio.trackbar, ControlKind::kTrackbar, page)).label = label;
    Add(MakeControl(trio.edit, ControlKind::kEdit, page)).label = std::move(label);
    Add(MakeControl(trio.upDown, ControlKind::kUpDown, page)).buddy = trio.edit;
    m_trios.emplace_back(page, trio);
}

void DialogModel::AddTabs(std::vector<std::string> labels) {
    Control& tabs = Add(MakeControl(kIdTab, ControlKind::kTab, Control::kFrame));
    tabs.items = std::move(labels);
    tabs.selection = 0;
}

// --- Changing ----------------------------------------------------------------------------------

Control* DialogModel::Mutable(int32_t page, int32_t id) {
    return const_cast<Control*>(FindOn(page, id));
}

void DialogModel::Modify(int32_t page, int32_t id, const std::function<void(Control&)>& change) {
    Control* control = Mutable(page, id);
    if (control == nullptr) {
        return;
    }
    const Control before = *control;
    change(*control);
    const bool changed = before.text != control->text || before.enabled != control->enabled ||
                         before.visible != control->visible || before.checked != control->checked ||
                         before.minimum != control->minimum || before.maximum != control->maximum ||
                         before.position != control->position ||
                         before.tickFrequency != control->tickFrequency ||
                         before.items != control->items || before.selection != control->selection;
    if (changed && m_listener) {
        m_listener(*control);
    }
}

void DialogModel::SetText(int32_t page, int32_t id, std::string text) {
    Modify(page, id, [&](Control& c) { c.text = std::move(text); });
}

void DialogModel::SetEnabled(int32_t page, int32_t id, bool enabled) {
    Modify(page, id, [&](Control& c) { c.enabled = enabled; });
}

void DialogModel::SetVisible(int32_t page, int32_t id, bool visible) {
    Modify(page, id, [&](Control& c) { c.visible = visible; });
}

void DialogModel::SetChecked(int32_t page, int32_t id, bool checked) {
    Modify(page, id, [&](Control& c) { c.checked = checked; });
}

void DialogModel::SetItems(int32_t page, int32_t id, std::vector<std::string> items) {
    Modify(page, id, [&](Control& c) {
        c.items = std::move(items);
        if (c.selection >= static_cast<int32_t>(c.items.size())) {
            c.selection = -1;
        }
    });
}

void DialogModel::SetSelection(int32_t page, int32_t id, int32_t index) {
    Modify(page, id, [&](Control& c) {
        c.selection = index >= 0 && index < static_cast<int32_t>(c.items.size()) ? index : -1;
    });
}

void DialogModel::SetUpTrio(int32_t page, const Trio& trio, int32_t minimum, int32_t maximum,
                            int32_t value, int32_t tickFrequency, bool enabled) {
    for (const int32_t id : {trio.trackbar, trio.upDown}) {
        Modify(page, id, [&](Control& c) {
            c.minimum = minimum;
            c.maximum = maximum;
            c.tickFrequency = id == trio.trackbar ? tickFrequency : 0;
        });
    }
    ShowTrioValue(page, trio, value);
    SetTrioEnabled(page, trio, enabled);
}

void DialogModel::ShowTrioValue(int32_t page, const Trio& trio, int32_t value) {
    for (const int32_t id : {trio.trackbar, trio.upDown}) {
        Modify(page, id, [&](Control& c) {
            c.position = std::clamp(value, c.minimum, std::max(c.minimum, c.maximum));
        });
    }
    SetText(page, trio.edit, std::to_string(value));
}

void DialogModel::FollowTrioValue(int32_t page, const Trio& trio, int32_t value) {
    const Control* bar = FindOn(page, trio.trackbar);
    const Control* edit = FindOn(page, trio.edit);
    if (bar == nullptr || edit == nullptr) {
        return;
    }
    const std::optional<int32_t> shown = ParseSigned(edit->text);
    const int32_t position = std::clamp(value, bar->minimum, std::max(bar->minimum, bar->maximum));
    if (shown ? *shown == value : bar->position == position) {
        return;
    }
    ShowTrioValue(page, trio, value);
}

void DialogModel::SetTrioVisible(int32_t page, const Trio& trio, bool visible) {
    for (const int32_t id : {trio.trackbar, trio.edit, trio.upDown}) {
        SetVisible(page, id, visible);
    }
}

void DialogModel::SetTrioEnabled(int32_t page, const Trio& trio, bool enabled) {
    for (const int32_t id : {trio.trackbar, trio.edit, trio.upDown}) {
        SetEnabled(page, id, enabled);
    }
}

bool DialogModel::ShowFrameChanges() {
    if (m_frameChanges == nullptr || m_result != kOpen) {
        return false;
    }
    // Read before the values: a change made while they are shown is shown on the next call.
    const uint32_t changes = m_frameChanges->load();
    if (changes == m_shownChanges) {
        return false;
    }
    m_shownChanges = changes;
    ShowFrameValues();
    return true;
}

// --- The user's actions ------------------------------------------------------------------------

Control* DialogModel::Actionable(int32_t id) {
    if (m_result != kOpen) {
        return nullptr;
    }
    auto* control = const_cast<Control*>(Find(id));
    if (control == nullptr || !control->enabled || !control->visible) {
        return nullptr;
    }
    return control;
}

const std::pair<int32_t, Trio>* DialogModel::TrioOf(int32_t page, int32_t id) const {
    for (const auto& entry : m_trios) {
        const Trio& trio = entry.second;
        if (entry.first == page && (trio.trackbar == id || trio.edit == id || trio.upDown == id)) {
            return &entry;
        }
    }
    return nullptr;
}

bool DialogModel::Scroll(int32_t id, int32_t position) {
    Control* control = Actionable(id);
    if (control == nullptr ||
        (control->kind != ControlKind::kTrackbar && control->kind != ControlKind::kUpDown)) {
        return false;
    }
    const int32_t page = control->page;
    const int32_t value =
        std::clamp(position, control->minimum, std::max(control->minimum, control->maximum));
    const auto* trio = TrioOf(page, id);
    if (trio == nullptr) {
        Modify(page, id, [&](Control& c) { c.position = value; });
        return true;
    }
    // The trackbar writes its position into the edit box; the up-down control writes into its
    // buddy, whose change then moves the trackbar. Either way all three show the value.
    const Trio copy = trio->second;
    ShowTrioValue(page, copy, value);
    if (m_ready) {
        OnTrio(page, copy, value);
    }
    return true;
}

bool DialogModel::EditText(int32_t id, std::string_view text) {
    Control* control = Actionable(id);
    if (control == nullptr || control->kind != ControlKind::kEdit) {
        return false;
    }
    const int32_t page = control->page;
    SetText(page, id, std::string(text));
    if (!m_ready) {
        return true;
    }
    if (const auto* trio = TrioOf(page, id)) {
        // A number typed out of range counts as the nearest limit; the text stays as typed
        // while the user types. Text that is no number yet changes nothing.
        const std::optional<int32_t> typed = ParseSigned(text);
        if (typed) {
            const Trio copy = trio->second;
            const Control* bar = FindOn(page, copy.trackbar);
            const int32_t value =
                std::clamp(*typed, bar->minimum, std::max(bar->minimum, bar->maximum));
            for (const int32_t moved : {copy.trackbar, copy.upDown}) {
                Modify(page, moved, [&](Control& c) { c.position = value; });
            }
            OnTrio(page, copy, value);
        }
        return true;
    }
    OnEdit(page, id);
    return true;
}

bool DialogModel::Select(int32_t id, int32_t index) {
    Control* control = Actionable(id);
    if (control == nullptr ||
        (control->kind != ControlKind::kComboBox && control->kind != ControlKind::kTab) ||
        index < 0 || index >= static_cast<int32_t>(control->items.size())) {
        return false;
    }
    const int32_t page = control->page;
    SetSelection(page, id, index);
    if (m_ready && control->kind == ControlKind::kComboBox) {
        OnSelect(page, id, index);
    }
    return true;
}

bool DialogModel::Check(int32_t id, bool checked) {
    Control* control = Actionable(id);
    if (control == nullptr) {
        return false;
    }
    const int32_t page = control->page;
    if (control->kind == ControlKind::kRadioButton) {
        if (!checked) {
            return false;  // a radio button is cleared by choosing another of its group
        }
        const int32_t group = control->buddy;
        for (const Control& other : m_controls) {
            if (other.page == page && other.kind == ControlKind::kRadioButton &&
                other.buddy == group) {
                SetChecked(page, other.id, other.id == id);
            }
        }
    } else if (control->kind == ControlKind::kCheckBox) {
        SetChecked(page, id, checked);
    } else {
        return false;
    }
    if (m_ready) {
        OnCheck(page, id, checked);
    }
    return true;
}

bool DialogModel::Click(int32_t id) {
    Control* control = Actionable(id);
    if (control == nullptr || control->kind != ControlKind::kButton) {
        return false;
    }
    OnClick(control->page, id);
    return true;
}

}  // namespace quorix::dialogs
