#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/language.h"

namespace quorix::dialogs {

// What a dialog control is, as a view draws it: a trackbar is a scale, an edit box with its
// up-down control a spin button, a drop-down list a combo box, the tab control a notebook.
enum class ControlKind : uint8_t {
    kTab,
    kButton,
    kCheckBox,
    kRadioButton,
    kComboBox,
    kEdit,
    kUpDown,
    kTrackbar,
    kStatic,
};

// One control of a dialog with everything a view shows of it. The frame's controls (tab control,
// OK, Cancel, Default, Apply) sit on no page; the others on one tab page each. Identifiers are
// unique within their page and the frame, so two pages may reuse one, as the image dialog does.
struct Control {
    static constexpr int32_t kFrame = -1;

    int32_t id = 0;
    ControlKind kind = ControlKind::kStatic;
    int32_t page = kFrame;
    // The text of an edit box, static text, button or check box.
    std::string text;
    // For a trackbar, edit box or drop-down list: the label a view places beside it (none when
    // a static text just before it is its label). For the first radio button of a group: the
    // group's caption.
    std::string label;
    bool enabled = true;
    bool visible = true;
    bool checked = false;  // check box, radio button
    // Trackbar and up-down: range, position; the trackbar's tick frequency.
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t position = 0;
    int32_t tickFrequency = 0;
    // Drop-down list entries or tab labels, and the selected one (-1: none).
    std::vector<std::string> items;
    int32_t selection = -1;
    // An up-down control's buddy edit box; a radio button's group (first identifier).
    int32_t buddy = 0;
};

// A trackbar, an edit box and an up-down control that show one number together.
struct Trio {
    int32_t trackbar;
    int32_t edit;
    int32_t upDown;
};

// The toolkit-free state and logic of one settings dialog. A view builds its widgets from
// Controls(), forwards what the user does (Scroll, EditText, Select, Check, Click, Escape) and
// redraws the controls the listener names; it closes when Result() is no longer kOpen. The
// exported call that opens the dialog owns the model for the time of its modal loop.
class DialogModel {
public:
    enum Result : int { kOpen = 0, kOk = 1, kCancel = 2 };
    // The frame's identifiers.
    static constexpr int32_t kIdOk = 1;
    static constexpr int32_t kIdCancel = 2;
    static constexpr int32_t kIdDefault = 3;
    static constexpr int32_t kIdTab = 1001;

    using Listener = std::function<void(const Control&)>;

    DialogModel(const DialogModel&) = delete;
    DialogModel& operator=(const DialogModel&) = delete;
    virtual ~DialogModel() = default;

    platform::Language Language() const { return m_language; }
    const std::string& Caption() const { return m_caption; }
    const std::vector<Control>& Controls() const { return m_controls; }
    // The control `id` of the frame or of the page shown now; null when there is none.
    const Control* Find(int32_t id) const;
    // The control `id` of a page (Control::kFrame for the frame's); null when there is none.
    const Control* Find(int32_t id, int32_t page) const;
    int32_t CurrentPage() const;
    int Result() const { return m_result; }

    // Called with every control whose text, state, range or selection changed.
    void SetListener(Listener listener) { m_listener = std::move(listener); }

    // What the user does, on the frame's controls and the shown page's. Each answers false, with
    // nothing changed, when there is no such control, when it is hidden or disabled, when the
    // action does not fit its kind, or when the dialog has closed.
    // A trackbar or up-down control moved to `position` (kept in its range).
    bool Scroll(int32_t id, int32_t position);
    // The text of an edit box changed.
    bool EditText(int32_t id, std::string_view text);
    // An entry of a drop-down list, or a tab, chosen.
    bool Select(int32_t id, int32_t index);
    // A check box set or cleared, a radio button chosen (`checked` true).
    bool Check(int32_t id, bool checked);
    // A push button pressed.
    bool Click(int32_t id);
    // The Escape key or the window's close button: Cancel.
    void Escape() { Click(kIdCancel); }

    // Called by the exported call once the modal loop has ended (a dialog still open counts as
    // cancelled): what the dialog does after closing. Returns the call's result, 1.
    virtual int Finish() = 0;
    // Shows the values the frames have changed since the dialog last showed them (automatic
    // exposure or gain, automatic white balance, measured gray gains), telling the listener as
    // any change does. The frames change them on the preview's worker thread, which only counts
    // its changes; a view calls this now and then on the dialog's own thread. True when the
    // count had moved.
    bool ShowFrameChanges();

protected:
    DialogModel(platform::Language language, std::string caption);

    // The text of the current language.
    std::string Text(std::string_view english, std::string_view japanese) const {
        return std::string(m_language == platform::Language::kJapanese ? japanese : english);
    }

    // Building the controls.
    Control& Add(Control control);
    void AddButton(int32_t page, int32_t id, std::string text);
    void AddCheckBox(int32_t page, int32_t id, std::string text);
    // The first button of a group (id == group) carries the group's caption.
    void AddRadioButton(int32_t page, int32_t id, int32_t group, std::string text,
                        std::string caption = {});
    void AddComboBox(int32_t page, int32_t id, std::string label);
    void AddEdit(int32_t page, int32_t id, std::string label);
    void AddStatic(int32_t page, int32_t id, std::string text);
    void AddTrio(int32_t page, const Trio& trio, std::string label);
    // The tab control with its labels; the first page is shown.
    void AddTabs(std::vector<std::string> labels);

    // Changing controls; each tells the listener when something changed.
    void SetText(int32_t page, int32_t id, std::string text);
    void SetEnabled(int32_t page, int32_t id, bool enabled);
    void SetVisible(int32_t page, int32_t id, bool visible);
    void SetChecked(int32_t page, int32_t id, bool checked);
    void SetItems(int32_t page, int32_t id, std::vector<std::string> items);
    void SetSelection(int32_t page, int32_t id, int32_t index);
    // Sets a trio up: ranges, positions, the trackbar's tick frequency, the value as a signed
    // number in the edit box, and one enabled state for all three.
    void SetUpTrio(int32_t page, const Trio& trio, int32_t minimum, int32_t maximum, int32_t value,
                   int32_t tickFrequency, bool enabled);
    // Shows a value in a trio without telling the dialog (the trackbar, up-down and edit box).
    void ShowTrioValue(int32_t page, const Trio& trio, int32_t value);
    void SetTrioVisible(int32_t page, const Trio& trio, bool visible);
    void SetTrioEnabled(int32_t page, const Trio& trio, bool enabled);

    const Control* FindOn(int32_t page, int32_t id) const;
    // The signed number of an edit box, or nothing when it holds none.
    std::optional<int32_t> EditNumber(int32_t page, int32_t id) const;
    // The value of a trio: the edit box's number within the trackbar's range, or the trackbar's
    // position when the edit box holds no number.
    int32_t TrioValue(int32_t page, const Trio& trio) const;

    void Close(int result) { m_result = result; }
    // The count of value changes the frames make (the context's); called before the values are
    // first read, so that none made meanwhile is missed.
    void WatchFrameChanges(const std::atomic<uint32_t>& changes) {
        m_frameChanges = &changes;
        m_shownChanges = changes.load();
    }
    // Shows a value the frames changed in a trio, unless the trio already shows it or shows a
    // number the user is still typing (text that is no number yet) for a value that has not
    // moved.
    void FollowTrioValue(int32_t page, const Trio& trio, int32_t value);
    // Changes from the user reach the dialog only once its pages are set up.
    void SetReady(bool ready) { m_ready = ready; }

    // What a dialog does with the user's actions. A trio's handler gets its value, already
    // within its range and shown in all three controls.
    virtual void OnTrio(int32_t page, const Trio& trio, int32_t value) = 0;
    virtual void OnEdit(int32_t /*page*/, int32_t /*id*/) {}
    virtual void OnSelect(int32_t /*page*/, int32_t /*id*/, int32_t /*index*/) {}
    virtual void OnCheck(int32_t /*page*/, int32_t /*id*/, bool /*checked*/) {}
    virtual void OnClick(int32_t /*page*/, int32_t /*id*/) {}
    // Shows the values the frames change again (see ShowFrameChanges).
    virtual void ShowFrameValues() {}
    // The trios of every page, for the edit and scroll paths.
    std::vector<std::pair<int32_t, Trio>> m_trios;

private:
    Control* Mutable(int32_t page, int32_t id);
    Control* Actionable(int32_t id);
    void Modify(int32_t page, int32_t id, const std::function<void(Control&)>& change);
    const std::pair<int32_t, Trio>* TrioOf(int32_t page, int32_t id) const;

    platform::Language m_language;
    std::string m_caption;
    std::vector<Control> m_controls;
    Listener m_listener;
    int m_result = kOpen;
    bool m_ready = false;
    const std::atomic<uint32_t>* m_frameChanges = nullptr;
    uint32_t m_shownChanges = 0;
};

// The signed decimal number of a text, as an edit box of numbers reads it: optional blanks and
// sign, then digits only; nothing when there are none or when it leaves the 32-bit range.
std::optional<int32_t> ParseSigned(std::string_view text);

}  // namespace quorix::dialogs
