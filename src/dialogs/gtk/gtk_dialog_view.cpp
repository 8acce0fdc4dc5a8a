// The GTK 3 view of the settings dialogs, built as libquorix-dialogs-gtk.so and loaded by the
// library on the first dialog call. It builds a modal GtkDialog from a model's controls, each
// widget named by its control identifier, forwards what the user does to the model and redraws
// the controls the model reports as changed.
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "dialogs/dialog_view.h"

namespace quorix::dialogs {
namespace {

// GTK marks a mnemonic with '_' where the dialogs' texts use '&' ("Default(&D)").
std::string Mnemonic(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '&') {
            out += '_';
        } else if (c == '_') {
            out += "__";
        } else {
            out += c;
        }
    }
    return out;
}

// Marks at most this many ticks on a scale: a tick frequency of one over a range of thousands
// would only blacken it.
constexpr int32_t kMostTicks = 100;
// The widest a static text grows before it wraps [characters].
constexpr int kStaticWidthChars = 40;
// How often an open dialog looks for values the frames changed [ms]: often enough to follow the
// automatic exposure by eye, rarely enough to cost nothing.
constexpr guint kFramePollMs = 100;

class GtkDialogView {
public:
    GtkDialogView(DialogPort& port, unsigned long owner) : m_port(port), m_owner(owner) {}
    GtkDialogView(const GtkDialogView&) = delete;
    GtkDialogView& operator=(const GtkDialogView&) = delete;

    void Run() {
        Build();
        m_port.SetListener([this](const Control& control) { Show(control); });
        // The dialog's size is known once its widgets show what the model has (hidden controls
        // take no room); it is placed with that size before it appears.
        gtk_widget_show_all(gtk_dialog_get_content_area(GTK_DIALOG(m_dialog)));
        for (const Control& control : m_port.Controls()) {
            Show(control);
        }
        gtk_widget_realize(m_dialog);
        Place();
        gtk_widget_show(m_dialog);
        // The preview's frames change some values while the dialog is open (automatic exposure,
        // white balance, gray gains); the model learns of them here, on the dialog's thread.
        const guint poll = g_timeout_add(kFramePollMs, &GtkDialogView::OnPoll, this);
        // The model closes the dialog (OK, Cancel); Escape and the window's close button
        // answer GTK_RESPONSE_DELETE_EVENT, which the model treats as Cancel. A dialog the model
        // keeps open (Cancel refused) runs again.
        while (m_port.Result() == DialogModel::kOpen) {
            const int response = gtk_dialog_run(GTK_DIALOG(m_dialog));
            if (m_port.Result() != DialogModel::kOpen) {
                break;
            }
            m_port.Escape();
            if (response == GTK_RESPONSE_NONE) {
                break;  // the window was destroyed
            }
        }
        g_source_remove(poll);
        m_port.SetListener(nullptr);
        if (GTK_IS_WIDGET(m_dialog)) {
            gtk_widget_destroy(m_dialog);
        }
        // Let the window's unmapping reach the server before the call returns.
        while (gtk_events_pending()) {
            gtk_main_iteration_do(FALSE);
        }
    }

private:
    // Makes the dialog transient for the application's window (the window manager keeps it
    // above that window and may minimise them together), centres it over that window, or over
    // the monitor without one, and keeps it wholly inside the monitor's work area: centred over
    // a window near the screen's edge, a tall dialog would put its buttons off the screen. An
    // owner that does not exist (any more) leaves the dialog standing alone.
    void Place() {
        GdkDisplay* display = gtk_widget_get_display(m_dialog);
        GdkRectangle over{};
        GdkMonitor* monitor = nullptr;
        bool owned = false;
        if (m_owner != 0 && GDK_IS_X11_DISPLAY(display)) {
            gdk_x11_display_error_trap_push(display);
            GdkWindow* owner = gdk_x11_window_foreign_new_for_display(display, m_owner);
            gdk_x11_display_error_trap_pop_ignored(display);
            if (owner != nullptr) {
                gdk_window_set_transient_for(gtk_widget_get_window(m_dialog), owner);
                gdk_window_get_origin(owner, &over.x, &over.y);
                over.width = gdk_window_get_width(owner);
                over.height = gdk_window_get_height(owner);
                monitor = gdk_display_get_monitor_at_window(display, owner);
                owned = true;
                g_object_unref(owner);
            }
        }
        if (monitor == nullptr) {
            monitor = gdk_display_get_primary_monitor(display);
        }
        if (monitor == nullptr && gdk_display_get_n_monitors(display) > 0) {
            monitor = gdk_display_get_monitor(display, 0);
        }
        if (monitor == nullptr) {
            gtk_window_set_position(GTK_WINDOW(m_dialog), GTK_WIN_POS_CENTER);
            return;
        }
        GdkRectangle area{};
        gdk_monitor_get_workarea(monitor, &area);
        if (!owned) {
            over = area;
        }
        GtkRequisition size{};
        gtk_widget_get_preferred_size(m_dialog, nullptr, &size);
        const auto within = [](int position, int length, int start, int room) {
            // A dialog larger than the room starts at the room's start: its title bar and its
            // top-left controls stay reachable.
            return std::max(start, std::min(position, start + room - length));
        };
        const int x =
            within(over.x + (over.width - size.width) / 2, size.width, area.x, area.width);
        const int y =
            within(over.y + (over.height - size.height) / 2, size.height, area.y, area.height);
        gtk_window_move(GTK_WINDOW(m_dialog), x, y);
    }

    struct Widget {
        GtkWidget* widget = nullptr;
        GtkWidget* label = nullptr;  // the label beside it, shown and hidden with it
    };
    using Key = std::pair<int32_t, int32_t>;  // page, identifier

    void Build() {
        m_dialog = gtk_dialog_new();
        gtk_window_set_title(GTK_WINDOW(m_dialog), m_port.Caption().c_str());
        gtk_window_set_modal(GTK_WINDOW(m_dialog), TRUE);
        gtk_window_set_resizable(GTK_WINDOW(m_dialog), FALSE);
        gtk_widget_set_name(m_dialog, "QuorixDialog");
        GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(m_dialog));
        GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
        gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
        gtk_box_set_spacing(GTK_BOX(buttons), 6);

        for (const Control& control : m_port.Controls()) {
            if (control.kind == ControlKind::kTab) {
                m_notebook = gtk_notebook_new();
                gtk_widget_set_name(m_notebook, std::to_string(control.id).c_str());
                for (const std::string& label : control.items) {
                    GtkWidget* grid = gtk_grid_new();
                    gtk_grid_set_row_spacing(GTK_GRID(grid), 4);
                    gtk_grid_set_column_spacing(GTK_GRID(grid), 8);
                    gtk_container_set_border_width(GTK_CONTAINER(grid), 8);
                    gtk_notebook_append_page(GTK_NOTEBOOK(m_notebook), grid,
                                             gtk_label_new(label.c_str()));
                    m_pages.push_back(grid);
                    m_rows.push_back(0);
                }
                Connect(m_notebook, "switch-page", G_CALLBACK(OnSwitchPage), control);
                m_widgets[{control.page, control.id}].widget = m_notebook;
                gtk_box_pack_start(GTK_BOX(content), m_notebook, TRUE, TRUE, 0);
            }
        }
        gtk_box_pack_end(GTK_BOX(content), buttons, FALSE, FALSE, 6);

        const std::vector<Control>& controls = m_port.Controls();
        GtkWidget* pendingLabel = nullptr;  // a static text that labels the next control
        for (size_t index = 0; index < controls.size(); ++index) {
            const Control& control = controls[index];
            if (control.kind == ControlKind::kTab || control.kind == ControlKind::kUpDown) {
                continue;
            }
            GtkWidget* widget = MakeWidget(control);
            gtk_widget_set_name(widget, std::to_string(control.id).c_str());
            Widget& entry = m_widgets[{control.page, control.id}];
            entry.widget = widget;
            if (control.page == Control::kFrame) {
                gtk_container_add(GTK_CONTAINER(buttons), widget);
                continue;
            }
            if (control.page < 0 || static_cast<size_t>(control.page) >= m_pages.size()) {
                continue;
            }
            GtkGrid* grid = GTK_GRID(m_pages[static_cast<size_t>(control.page)]);
            int& row = m_rows[static_cast<size_t>(control.page)];
            // A trio's edit box shares the row (and the label) of its trackbar.
            if (control.kind == ControlKind::kEdit && m_spinOf.count({control.page, control.id})) {
                gtk_grid_attach(grid, widget, 2, row > 0 ? row - 1 : row, 1, 1);
                continue;
            }
            // A group of radio buttons stands side by side in a frame with the group's caption,
            // which its first button carries.
            if (control.kind == ControlKind::kRadioButton) {
                const Key group{control.page, control.buddy};
                auto box = m_radioGroups.find(group);
                if (box == m_radioGroups.end()) {
                    GtkWidget* frame =
                        gtk_frame_new(control.label.empty() ? nullptr : control.label.c_str());
                    GtkWidget* inner = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
                    gtk_container_set_border_width(GTK_CONTAINER(inner), 4);
                    gtk_container_add(GTK_CONTAINER(frame), inner);
                    gtk_grid_attach(grid, frame, 0, row, 3, 1);
                    ++row;
                    box = m_radioGroups.emplace(group, inner).first;
                }
                gtk_box_pack_start(GTK_BOX(box->second), widget, FALSE, FALSE, 0);
                continue;
            }
            // A static text just before a control without a label of its own is that control's
            // label, on the same row.
            if (control.kind == ControlKind::kStatic && LabelsNext(controls, index)) {
                gtk_grid_attach(grid, widget, 0, row, 1, 1);
                pendingLabel = widget;
                continue;
            }
            if (pendingLabel != nullptr) {
                gtk_label_set_mnemonic_widget(GTK_LABEL(pendingLabel), widget);
                gtk_grid_attach(grid, widget, 1, row, 1, 1);
                pendingLabel = nullptr;
                ++row;
                continue;
            }
            if (!control.label.empty()) {
                entry.label = gtk_label_new(control.label.c_str());
                gtk_widget_set_halign(entry.label, GTK_ALIGN_START);
                gtk_grid_attach(grid, entry.label, 0, row, 1, 1);
            }
            gtk_grid_attach(grid, widget, control.label.empty() ? 0 : 1, row,
                            control.label.empty() ? 2 : 1, 1);
            ++row;
        }
    }

    // Whether the static text controls[index] labels the control after it: it has a text, and
    // the next one on its page is a trackbar, edit box or drop-down list without a label.
    static bool LabelsNext(const std::vector<Control>& controls, size_t index) {
        const Control& label = controls[index];
        if (label.text.empty() || index + 1 >= controls.size()) {
            return false;
        }
        const Control& next = controls[index + 1];
        return next.page == label.page && next.label.empty() &&
               (next.kind == ControlKind::kTrackbar || next.kind == ControlKind::kEdit ||
                next.kind == ControlKind::kComboBox);
    }

    GtkWidget* MakeWidget(const Control& control) {
        switch (control.kind) {
            case ControlKind::kButton: {
                GtkWidget* button = gtk_button_new_with_mnemonic(Mnemonic(control.text).c_str());
                Connect(button, "clicked", G_CALLBACK(OnClicked), control);
                return button;
            }
            case ControlKind::kCheckBox: {
                GtkWidget* box = gtk_check_button_new_with_mnemonic(Mnemonic(control.text).c_str());
                Connect(box, "toggled", G_CALLBACK(OnToggled), control);
                return box;
            }
            case ControlKind::kRadioButton: {
                GtkRadioButton* first = nullptr;
                const auto group = m_widgets.find({control.page, control.buddy});
                if (group != m_widgets.end() && group->second.widget != nullptr) {
                    first = GTK_RADIO_BUTTON(group->second.widget);
                }
                GtkWidget* radio = gtk_radio_button_new_with_mnemonic_from_widget(
                    first, Mnemonic(control.text).c_str());
                Connect(radio, "toggled", G_CALLBACK(OnToggled), control);
                return radio;
            }
            case ControlKind::kComboBox: {
                GtkWidget* combo = gtk_combo_box_text_new();
                Connect(combo, "changed", G_CALLBACK(OnComboChanged), control);
                return combo;
            }
            case ControlKind::kTrackbar: {
                GtkWidget* scale =
                    gtk_scale_new(GTK_ORIENTATION_HORIZONTAL, gtk_adjustment_new(0, 0, 1, 1, 1, 0));
                gtk_scale_set_digits(GTK_SCALE(scale), 0);
                gtk_scale_set_draw_value(GTK_SCALE(scale), FALSE);
                gtk_widget_set_size_request(scale, 240, -1);
                gtk_widget_set_hexpand(scale, TRUE);
                Connect(scale, "value-changed", G_CALLBACK(OnScaleChanged), control);
                return scale;
            }
            case ControlKind::kEdit: {
                // An edit box with an up-down control is one spin button; its up-down
                // identifier leads here too.
                for (const Control& other : m_port.Controls()) {
                    if (other.kind == ControlKind::kUpDown && other.page == control.page &&
                        other.buddy == control.id) {
                        GtkWidget* spin =
                            gtk_spin_button_new(gtk_adjustment_new(0, 0, 1, 1, 10, 0), 1, 0);
                        m_spinOf[{control.page, control.id}] = other.id;
                        m_widgets[{other.page, other.id}].widget = spin;
                        Connect(spin, "value-changed", G_CALLBACK(OnSpinChanged), other);
                        return spin;
                    }
                }
                GtkWidget* entry = gtk_entry_new();
                Connect(entry, "changed", G_CALLBACK(OnEntryChanged), control);
                return entry;
            }
            case ControlKind::kStatic:
            case ControlKind::kTab:
            case ControlKind::kUpDown:
                break;
        }
        GtkWidget* label = gtk_label_new_with_mnemonic(Mnemonic(control.text).c_str());
        gtk_widget_set_halign(label, GTK_ALIGN_START);
        // A message set later (why a window was refused) wraps instead of widening the dialog.
        gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
        gtk_label_set_max_width_chars(GTK_LABEL(label), kStaticWidthChars);
        return label;
    }

    // Each handler learns its control from the data set here.
    void Connect(GtkWidget* widget, const char* signal, GCallback callback,
                 const Control& control) {
        g_object_set_data(G_OBJECT(widget), "quorix-id", GINT_TO_POINTER(control.id));
        g_object_set_data(G_OBJECT(widget), "quorix-page", GINT_TO_POINTER(control.page));
        g_object_set_data(G_OBJECT(widget), "quorix-view", this);
        g_signal_connect(widget, signal, callback, nullptr);
    }
    static GtkDialogView* ViewOf(gpointer widget) {
        return static_cast<GtkDialogView*>(g_object_get_data(G_OBJECT(widget), "quorix-view"));
    }
    static int32_t IdOf(gpointer widget) {
        return GPOINTER_TO_INT(g_object_get_data(G_OBJECT(widget), "quorix-id"));
    }
    static int32_t PageOf(gpointer widget) {
        return GPOINTER_TO_INT(g_object_get_data(G_OBJECT(widget), "quorix-page"));
    }

    // After what the user did: a refused action puts the widget back as the model has it, and
    // a model that closed ends the modal loop.
    void After(gpointer widget, bool accepted) {
        if (!accepted) {
            for (const Control& control : m_port.Controls()) {
                if (control.id == IdOf(widget) && control.page == PageOf(widget)) {
                    Show(control);
                }
            }
        }
        if (m_port.Result() != DialogModel::kOpen) {
            gtk_dialog_response(GTK_DIALOG(m_dialog), m_port.Result());
        }
    }

    static gboolean OnPoll(gpointer self) {
        static_cast<GtkDialogView*>(self)->m_port.ShowFrameChanges();
        return G_SOURCE_CONTINUE;
    }
    static void OnClicked(GtkButton* button, gpointer) {
        GtkDialogView* view = ViewOf(button);
        if (!view->m_updating) {
            view->After(button, view->m_port.Click(IdOf(button)));
        }
    }
    static void OnToggled(GtkToggleButton* toggle, gpointer) {
        GtkDialogView* view = ViewOf(toggle);
        const bool active = gtk_toggle_button_get_active(toggle) != FALSE;
        // A radio button that goes off only makes way for the one chosen.
        if (view->m_updating || (GTK_IS_RADIO_BUTTON(toggle) && !active)) {
            return;
        }
        view->After(toggle, view->m_port.Check(IdOf(toggle), active));
    }
    static void OnComboChanged(GtkComboBox* combo, gpointer) {
        GtkDialogView* view = ViewOf(combo);
        if (!view->m_updating) {
            view->After(combo, view->m_port.Select(IdOf(combo), gtk_combo_box_get_active(combo)));
        }
    }
    static void OnScaleChanged(GtkRange* range, gpointer) {
        GtkDialogView* view = ViewOf(range);
        if (!view->m_updating) {
            const auto position = static_cast<int32_t>(gtk_range_get_value(range));
            view->After(range, view->m_port.Scroll(IdOf(range), position));
        }
    }
    static void OnSpinChanged(GtkSpinButton* spin, gpointer) {
        GtkDialogView* view = ViewOf(spin);
        if (!view->m_updating) {
            view->After(spin,
                        view->m_port.Scroll(IdOf(spin), gtk_spin_button_get_value_as_int(spin)));
        }
    }
    static void OnEntryChanged(GtkEntry* entry, gpointer) {
        GtkDialogView* view = ViewOf(entry);
        if (!view->m_updating) {
            view->After(entry, view->m_port.EditText(IdOf(entry), gtk_entry_get_text(entry)));
        }
    }
    static void OnSwitchPage(GtkNotebook* notebook, GtkWidget*, guint page, gpointer) {
        GtkDialogView* view = ViewOf(notebook);
        if (!view->m_updating) {
            view->m_port.Select(IdOf(notebook), static_cast<int32_t>(page));
        }
    }

    // Redraws one control as the model has it.
    void Show(const Control& control) {
        const auto found = m_widgets.find({control.page, control.id});
        if (found == m_widgets.end() || found->second.widget == nullptr) {
            return;
        }
        m_updating = true;
        GtkWidget* widget = found->second.widget;
        // The spin button of a trio stands for its edit box and up-down; the up-down's state
        // decides its range and value, the edit box's (the same numbers) is not drawn twice.
        const bool trioEdit = m_spinOf.count({control.page, control.id}) != 0;
        if (!trioEdit) {
            gtk_widget_set_sensitive(widget, control.enabled);
            gtk_widget_set_visible(widget, control.visible);
            if (found->second.label != nullptr) {
                gtk_widget_set_visible(found->second.label, control.visible);
            }
        }
        switch (control.kind) {
            case ControlKind::kTab:
                if (control.selection >= 0 &&
                    control.selection < gtk_notebook_get_n_pages(GTK_NOTEBOOK(widget))) {
                    gtk_notebook_set_current_page(GTK_NOTEBOOK(widget), control.selection);
                }
                break;
            case ControlKind::kButton:
            case ControlKind::kCheckBox:
            case ControlKind::kRadioButton:
                gtk_button_set_label(GTK_BUTTON(widget), Mnemonic(control.text).c_str());
                if (control.kind != ControlKind::kButton) {
                    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widget), control.checked);
                }
                break;
            case ControlKind::kStatic:
                gtk_label_set_text_with_mnemonic(GTK_LABEL(widget), Mnemonic(control.text).c_str());
                break;
            case ControlKind::kComboBox: {
                GtkComboBoxText* combo = GTK_COMBO_BOX_TEXT(widget);
                gtk_combo_box_text_remove_all(combo);
                for (const std::string& item : control.items) {
                    gtk_combo_box_text_append_text(combo, item.c_str());
                }
                gtk_combo_box_set_active(GTK_COMBO_BOX(combo), control.selection);
                break;
            }
            case ControlKind::kTrackbar: {
                GtkScale* scale = GTK_SCALE(widget);
                gtk_range_set_range(
                    GTK_RANGE(scale), control.minimum,
                    control.maximum > control.minimum ? control.maximum : control.minimum + 1);
                gtk_range_set_value(GTK_RANGE(scale), control.position);
                gtk_scale_clear_marks(scale);
                const int64_t span = int64_t{control.maximum} - control.minimum;
                if (control.tickFrequency > 0 && span / control.tickFrequency <= kMostTicks) {
                    for (int64_t tick = control.minimum; tick <= control.maximum;
                         tick += control.tickFrequency) {
                        gtk_scale_add_mark(scale, static_cast<double>(tick), GTK_POS_BOTTOM,
                                           nullptr);
                    }
                }
                break;
            }
            case ControlKind::kUpDown:
                gtk_widget_set_sensitive(widget, control.enabled);
                gtk_spin_button_set_range(GTK_SPIN_BUTTON(widget), control.minimum,
                                          control.maximum);
                gtk_spin_button_set_value(GTK_SPIN_BUTTON(widget), control.position);
                break;
            case ControlKind::kEdit:
                if (!trioEdit && control.text != gtk_entry_get_text(GTK_ENTRY(widget))) {
                    gtk_entry_set_text(GTK_ENTRY(widget), control.text.c_str());
                }
                break;
        }
        m_updating = false;
    }

    DialogPort& m_port;
    const unsigned long m_owner;  // the application's X11 window, or 0
    GtkWidget* m_dialog = nullptr;
    GtkWidget* m_notebook = nullptr;
    std::vector<GtkWidget*> m_pages;
    std::vector<int> m_rows;
    std::map<Key, Widget> m_widgets;
    std::map<Key, int32_t> m_spinOf;          // a trio's edit box -> its up-down control
    std::map<Key, GtkWidget*> m_radioGroups;  // page and first button -> the group's box
    // Set while the view redraws: the signals this raises are not the user's.
    bool m_updating = false;
};

}  // namespace
}  // namespace quorix::dialogs

extern "C" {

__attribute__((visibility("default"))) uint32_t QuorixDialogs_Version() {
    return quorix::dialogs::kViewInterfaceVersion;
}

__attribute__((visibility("default"))) int QuorixDialogs_Open() {
    return gtk_init_check(nullptr, nullptr) && gdk_display_get_default() != nullptr ? 1 : 0;
}

__attribute__((visibility("default"))) int QuorixDialogs_Run(quorix::dialogs::DialogPort* port,
                                                             unsigned long owner) {
    if (port == nullptr) {
        return 0;
    }
    try {
        quorix::dialogs::GtkDialogView view(*port, owner);
        view.Run();
    } catch (...) {
        return 0;
    }
    return 1;
}
}
