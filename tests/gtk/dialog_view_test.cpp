// The settings dialogs as a user sees them: the exported calls show the GTK view module's modal
// dialog on an X server of the test's own, and the test works its widgets, found by the names
// they carry (their control identifiers), from the dialog's own main loop.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "component/context/context_test_support.h"
#include "support/x_server.h"

// Last: Xlib's macros (Status, Bool) would change the SDK's headers.
#include <gdk/gdkx.h>

namespace quorix {
namespace {

constexpr int32_t kIdOk = 1;
constexpr int32_t kIdCancel = 2;
constexpr int32_t kIdMirrorV = 1028;  // analog dialog
constexpr int32_t kIdClock = 1014;    // camera dialog
constexpr int32_t kIdBrightnessTrackbar = 2001;
constexpr int32_t kIdBrightnessEdit = 2002;
constexpr int32_t kIdRedGainTrackbar = 2051;
constexpr int32_t kIdRedGainEdit = 2052;
constexpr int32_t kIdAutoOnce = 2074;
constexpr int32_t kIdBayerMode0 = 1030;
constexpr int32_t kIdGrayMode0 = 1046;
// The tests' screen: a laptop's 1366 x 768, the smallest the dialogs are made for.
constexpr int kScreenWidth = 1366;
constexpr int kScreenHeight = 768;

// The widget named `name` at or below `widget`, or null.
GtkWidget* FindNamed(GtkWidget* widget, const std::string& name) {
    if (name == gtk_widget_get_name(widget)) {
        return widget;
    }
    if (!GTK_IS_CONTAINER(widget)) {
        return nullptr;
    }
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    GtkWidget* found = nullptr;
    for (GList* child = children; child != nullptr && found == nullptr; child = child->next) {
        found = FindNamed(GTK_WIDGET(child->data), name);
    }
    g_list_free(children);
    return found;
}

// The dialog's window once it is shown, or null.
GtkWidget* ShownDialog() {
    GList* windows = gtk_window_list_toplevels();
    GtkWidget* dialog = nullptr;
    for (GList* window = windows; window != nullptr; window = window->next) {
        GtkWidget* widget = GTK_WIDGET(window->data);
        if (std::string(gtk_widget_get_name(widget)) == "QuorixDialog" &&
            gtk_widget_get_mapped(widget)) {
            dialog = widget;
        }
    }
    g_list_free(windows);
    return dialog;
}

// The control `id` on the page the dialog shows now.
GtkWidget* OnShownPage(GtkWidget* dialog, int32_t id) {
    GtkWidget* notebook = FindNamed(dialog, "1001");
    if (notebook == nullptr) {
        return nullptr;
    }
    GtkNotebook* tabs = GTK_NOTEBOOK(notebook);
    return FindNamed(gtk_notebook_get_nth_page(tabs, gtk_notebook_get_current_page(tabs)),
                     std::to_string(id));
}

// Runs `work` on the dialog once it is shown, from the dialog's own main loop (the call that
// shows it does not return before it closes). `work` must close the dialog; the bounded wait
// closes it with Escape when the test failed to, so that a broken view fails instead of hanging.
class DialogDriver {
public:
    explicit DialogDriver(std::function<void(GtkWidget*)> work) : m_work(std::move(work)) {
        m_source = g_timeout_add(20, &DialogDriver::Tick, this);
    }
    ~DialogDriver() {
        if (m_source != 0) {
            g_source_remove(m_source);
        }
    }
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;
    bool Ran() const { return m_ran; }

private:
    static gboolean Tick(gpointer self) {
        auto* driver = static_cast<DialogDriver*>(self);
        GtkWidget* dialog = ShownDialog();
        if (dialog == nullptr) {
            if (++driver->m_ticks < 500) {
                return G_SOURCE_CONTINUE;
            }
            driver->m_source = 0;
            return G_SOURCE_REMOVE;
        }
        if (driver->m_ran) {
            ADD_FAILURE() << "the dialog stayed open";
            g_signal_emit_by_name(dialog, "close");
            driver->m_source = 0;
            return G_SOURCE_REMOVE;
        }
        driver->m_ran = true;
        driver->m_work(dialog);
        // Looks once more, much later: the dialog must be gone by then.
        driver->m_source = g_timeout_add(5000, &DialogDriver::Tick, driver);
        return G_SOURCE_REMOVE;
    }

    std::function<void(GtkWidget*)> m_work;
    guint m_source = 0;
    int m_ticks = 0;
    bool m_ran = false;
};

// Keeps what the dialog shows as a PNG file in the build tree, for a person to look at.
void KeepScreenshot(GtkWidget* dialog, const std::string& name) {
    // Has the dialog draw itself again and waits until it has, or for at most five seconds.
    bool drawn = false;
    bool late = false;
    const guint bound = g_timeout_add(5000, G_SOURCE_FUNC(+[](gpointer flag) {
                                          *static_cast<bool*>(flag) = true;
                                          return G_SOURCE_REMOVE;
                                      }),
                                      &late);
    const gulong handler =
        g_signal_connect_after(dialog, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer flag) {
                                   *static_cast<bool*>(flag) = true;
                                   return FALSE;
                               }),
                               &drawn);
    gtk_widget_queue_draw(dialog);
    while (!drawn && !late) {
        gtk_main_iteration_do(TRUE);
    }
    g_signal_handler_disconnect(dialog, handler);
    if (!late) {
        g_source_remove(bound);
    }
    gdk_display_sync(gtk_widget_get_display(dialog));
    GdkWindow* window = gtk_widget_get_window(dialog);
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(window, 0, 0, gdk_window_get_width(window),
                                                 gdk_window_get_height(window));
    ASSERT_NE(shot, nullptr) << name;
    std::filesystem::create_directories(QUORIX_SCREENSHOT_DIR);
    const std::string file = std::string(QUORIX_SCREENSHOT_DIR) + "/" + name + ".png";
    EXPECT_TRUE(gdk_pixbuf_save(shot, file.c_str(), "png", nullptr, nullptr)) << file;
    g_object_unref(shot);
}

// Escape pressed on the dialog, as the keyboard delivers it.
void PressEscape(GtkWidget* dialog) {
    GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(dialog)));
    event->key.keyval = GDK_KEY_Escape;
    // GTK matches its key bindings by the key's hardware code.
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_display_get_default()),
                                          GDK_KEY_Escape, &keys, &count) &&
        count > 0) {
        event->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
        event->key.group = static_cast<guint8>(keys[0].group);
    }
    g_free(keys);
    event->key.send_event = TRUE;
    event->key.time = GDK_CURRENT_TIME;
    gdk_event_set_device(
        event, gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
    gtk_main_do_event(event);
    gdk_event_free(event);
}

class DialogView : public test::ContextCameraTest {
protected:
    static void SetUpTestSuite() {
        const std::string failure = s_server.Start();
        if (!failure.empty()) {
            s_skip = failure;
        }
    }
    void SetUp() override {
        if (!s_skip.empty()) {
            GTEST_SKIP() << s_skip;
        }
        m_camera = Attach("QX252-001700");
        m_handle = Initialize();
        setenv("DISPLAY", s_server.Name().c_str(), 1);
    }

    static inline test::XServer s_server{kScreenWidth, kScreenHeight};
    static inline std::string s_skip;
    std::shared_ptr<sim::EmulatedCamera> m_camera;
    QuorixHandle m_handle = 0;
};

// Without a display the call fails with code 4 and leaves the context as it was. (First in the
// file: once GTK has a display in this process it keeps it.) Catches a call that reports
// success, or a model (whose camera dialog stops the preview) built before the display check.
TEST_F(DialogView, NoDisplayFailsWithCodeFourAndChangesNothing) {
    ASSERT_EQ(Quorix_SetBrightness(m_handle, 12), 1);
    const char* display = getenv("DISPLAY");
    const std::string saved = display != nullptr ? display : "";
    unsetenv("DISPLAY");
    EXPECT_EQ(Quorix_SetImageDlg(m_handle, nullptr), 0);
    EXPECT_EQ(Quorix_GetLastError(m_handle), 4u);
    int32_t ok = 0;
    EXPECT_EQ(Quorix_GetBrightness(m_handle, &ok), 12);
    setenv("DISPLAY", saved.c_str(), 1);
}

// The image dialog's brightness scale has the filter's range (-255 to 255); moving it changes
// the context's brightness at once and the spin button follows; Escape closes the dialog as
// Cancel and puts the old brightness back. Catches an unnamed or unwired scale, a view that does
// not redraw from the model, and Escape that does not cancel.
TEST_F(DialogView, ImageDialogScaleChangesTheValueAndEscapeCancels) {
    ASSERT_EQ(Quorix_SetBrightness(m_handle, 10), 1);
    int32_t during = 0;
    DialogDriver driver([&](GtkWidget* dialog) {
        GtkWidget* scale = OnShownPage(dialog, kIdBrightnessTrackbar);
        GtkWidget* spin = OnShownPage(dialog, kIdBrightnessEdit);
        ASSERT_TRUE(scale != nullptr && GTK_IS_SCALE(scale));
        ASSERT_TRUE(spin != nullptr && GTK_IS_SPIN_BUTTON(spin));
        GtkAdjustment* range = gtk_range_get_adjustment(GTK_RANGE(scale));
        EXPECT_EQ(gtk_adjustment_get_lower(range), -255.0);
        EXPECT_EQ(gtk_adjustment_get_upper(range), 255.0);
        EXPECT_EQ(gtk_range_get_value(GTK_RANGE(scale)), 10.0);
        KeepScreenshot(dialog, "image_dialog");
        gtk_range_set_value(GTK_RANGE(scale), 150);
        int32_t ok = 0;
        during = Quorix_GetBrightness(m_handle, &ok);
        EXPECT_EQ(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(spin)), 150);
        PressEscape(dialog);
    });
    EXPECT_EQ(Quorix_SetImageDlg(m_handle, nullptr), 1);
    EXPECT_TRUE(driver.Ran());
    EXPECT_EQ(during, 150);
    int32_t ok = 0;
    EXPECT_EQ(Quorix_GetBrightness(m_handle, &ok), 10);
}

// Typing into the brightness spin button and pressing OK keeps the new value; the dialog opened
// for an application's window is marked transient for it and placed over it. Catches an OK that
// restores like Cancel, a spin button that never reaches the model, and an owner ignored.
TEST_F(DialogView, ImageDialogOkKeepsTheTypedValue) {
    ASSERT_EQ(Quorix_SetBrightness(m_handle, 10), 1);
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    GtkWidget* application = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(application), 800, 600);
    gtk_widget_show(application);
    const Window owner = GDK_WINDOW_XID(gtk_widget_get_window(application));
    Window transientFor = 0;
    bool overOwner = false;
    DialogDriver driver([&](GtkWidget* dialog) {
        Display* display = GDK_DISPLAY_XDISPLAY(gtk_widget_get_display(dialog));
        XGetTransientForHint(display, GDK_WINDOW_XID(gtk_widget_get_window(dialog)), &transientFor);
        int x = 0;
        int y = 0;
        int ownerX = 0;
        int ownerY = 0;
        gdk_window_get_origin(gtk_widget_get_window(dialog), &x, &y);
        gdk_window_get_origin(gtk_widget_get_window(application), &ownerX, &ownerY);
        overOwner = x >= ownerX && y >= ownerY && x < ownerX + 800 && y < ownerY + 600;
        GtkWidget* spin = OnShownPage(dialog, kIdBrightnessEdit);
        ASSERT_TRUE(spin != nullptr && GTK_IS_SPIN_BUTTON(spin));
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), -40);
        GtkWidget* ok = FindNamed(dialog, std::to_string(kIdOk));
        ASSERT_TRUE(ok != nullptr && GTK_IS_BUTTON(ok));
        gtk_button_clicked(GTK_BUTTON(ok));
    });
    EXPECT_EQ(Quorix_SetImageDlg(m_handle, Quorix_WrapX11Window(owner)), 1);
    gtk_widget_destroy(application);
    EXPECT_TRUE(driver.Ran());
    EXPECT_EQ(transientFor, owner);
    EXPECT_TRUE(overOwner);
    int32_t ok = 0;
    EXPECT_EQ(Quorix_GetBrightness(m_handle, &ok), -40);
}

void Press(GtkWidget* dialog, int32_t id) {
    GtkWidget* button = FindNamed(dialog, std::to_string(id));
    ASSERT_TRUE(button != nullptr && GTK_IS_BUTTON(button)) << "no button " << id;
    gtk_button_clicked(GTK_BUTTON(button));
}

// The analog dialog: the vertical mirror check box shows the camera's setting and, ticked,
// mirrors at once; its Cancel button restores it. The camera dialog: the clock list shows its
// three entries with the high-speed one chosen, and stays disabled. Catches check boxes and
// combo boxes drawn without the model's state, or a Cancel button not wired to the model.
TEST_F(DialogView, AnalogAndCameraDialogsShowTheModelsState) {
    ASSERT_EQ(Quorix_SetMirrorV(m_handle, 0), 1);
    int32_t during = -1;
    DialogDriver analog([&](GtkWidget* dialog) {
        GtkWidget* mirror = OnShownPage(dialog, kIdMirrorV);
        ASSERT_TRUE(mirror != nullptr && GTK_IS_CHECK_BUTTON(mirror));
        EXPECT_FALSE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(mirror)));
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(mirror), TRUE);
        during = Quorix_GetMirrorV(m_handle);
        KeepScreenshot(dialog, "analog_dialog");
        Press(dialog, kIdCancel);
    });
    EXPECT_EQ(Quorix_SetAnalogDlg(m_handle, nullptr), 1);
    EXPECT_TRUE(analog.Ran());
    EXPECT_EQ(during, 1);
    EXPECT_EQ(Quorix_GetMirrorV(m_handle), 0);

    DialogDriver camera([&](GtkWidget* dialog) {
        GtkWidget* clock = OnShownPage(dialog, kIdClock);
        ASSERT_TRUE(clock != nullptr && GTK_IS_COMBO_BOX(clock));
        EXPECT_FALSE(gtk_widget_get_sensitive(clock));
        EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(clock)), 2);
        EXPECT_EQ(
            gtk_tree_model_iter_n_children(gtk_combo_box_get_model(GTK_COMBO_BOX(clock)), nullptr),
            3);
        KeepScreenshot(dialog, "camera_dialog");
        Press(dialog, kIdCancel);
    });
    EXPECT_EQ(Quorix_SetCameraDlg(m_handle, nullptr), 1);
    EXPECT_TRUE(camera.Ran());
}

// Under a Japanese locale the dialog shows the Japanese texts: the tab and the Cancel button of
// the camera dialog. Catches a view that shows texts of its own instead of the model's.
TEST_F(DialogView, JapaneseLocaleShowsJapaneseTexts) {
    const char* locale = getenv("LC_ALL");
    const std::string saved = locale != nullptr ? locale : "";
    setenv("LC_ALL", "ja_JP.UTF-8", 1);
    DialogDriver camera([&](GtkWidget* dialog) {
        GtkWidget* notebook = FindNamed(dialog, "1001");
        ASSERT_TRUE(notebook != nullptr && GTK_IS_NOTEBOOK(notebook));
        GtkNotebook* tabs = GTK_NOTEBOOK(notebook);
        EXPECT_STREQ(gtk_notebook_get_tab_label_text(tabs, gtk_notebook_get_nth_page(tabs, 0)),
                     "ストリーム形式");
        GtkWidget* cancel = FindNamed(dialog, std::to_string(kIdCancel));
        ASSERT_TRUE(cancel != nullptr && GTK_IS_BUTTON(cancel));
        EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(cancel)), "キャンセル");
        // Drawn with a font that has the characters, not as empty boxes.
        for (GtkWidget* label :
             {gtk_notebook_get_tab_label(tabs, gtk_notebook_get_nth_page(tabs, 0)),
              gtk_bin_get_child(GTK_BIN(cancel))}) {
            ASSERT_TRUE(label != nullptr && GTK_IS_LABEL(label));
            EXPECT_EQ(pango_layout_get_unknown_glyphs_count(gtk_label_get_layout(GTK_LABEL(label))),
                      0)
                << gtk_label_get_text(GTK_LABEL(label))
                << ": no Japanese font; install fonts-ipafont-gothic (scripts/install-deps.sh)";
        }
        KeepScreenshot(dialog, "camera_dialog_ja");
        gtk_button_clicked(GTK_BUTTON(cancel));
    });
    EXPECT_EQ(Quorix_SetCameraDlg(m_handle, nullptr), 1);
    if (locale != nullptr) {
        setenv("LC_ALL", saved.c_str(), 1);
    } else {
        unsetenv("LC_ALL");
    }
    EXPECT_TRUE(camera.Ran());
}

// Where a window is on the screen.
struct Frame {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

Frame FrameOf(GtkWidget* window) {
    Frame frame;
    GdkWindow* gdk = gtk_widget_get_window(window);
    gdk_window_get_origin(gdk, &frame.x, &frame.y);
    frame.width = gdk_window_get_width(gdk);
    frame.height = gdk_window_get_height(gdk);
    return frame;
}

// Each dialog opened over an application's window is centred over it, and stays wholly on the
// screen (with room to spare above and below) when that window sits in the screen's bottom-right
// corner. Catches a dialog placed by a size read before it was shown (its top-left corner at the
// owner's centre), one pushed off the screen, and a layout too tall for a 768-line screen.
TEST_F(DialogView, DialogsCentreOverTheOwnerAndStayOnTheScreen) {
    ASSERT_EQ(Quorix_SetColorMode(m_handle, 8), 1);  // the image dialog with its gray page
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    // Room a dialog leaves free at the screen's top and bottom: panels, the title bar.
    constexpr int kMargin = 24;
    using Opener = int (*)(QuorixHandle, QuorixWindow);
    const std::pair<const char*, Opener> dialogs[] = {
        {"analog", Quorix_SetAnalogDlg},
        {"image", Quorix_SetImageDlg},
        {"camera", Quorix_SetCameraDlg},
    };
    for (const bool corner : {false, true}) {
        GtkWidget* application = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(application), 600, 400);
        gtk_window_move(GTK_WINDOW(application), corner ? kScreenWidth - 600 : 383,
                        corner ? kScreenHeight - 400 : 184);
        gtk_widget_show(application);
        while (gtk_events_pending()) {
            gtk_main_iteration_do(FALSE);
        }
        const Frame owner = FrameOf(application);
        const QuorixWindow wrapped =
            Quorix_WrapX11Window(GDK_WINDOW_XID(gtk_widget_get_window(application)));
        for (const auto& [name, open] : dialogs) {
            Frame dialog;
            DialogDriver driver([&](GtkWidget* shown) {
                dialog = FrameOf(shown);
                Press(shown, kIdCancel);
            });
            ASSERT_EQ(open(m_handle, wrapped), 1) << name;
            ASSERT_TRUE(driver.Ran()) << name;
            EXPECT_GE(dialog.x, 0) << name;
            EXPECT_GE(dialog.y, 0) << name;
            EXPECT_LE(dialog.x + dialog.width, kScreenWidth) << name;
            EXPECT_LE(dialog.y + dialog.height, kScreenHeight) << name;
            EXPECT_LE(dialog.height, kScreenHeight - 2 * kMargin) << name;
            if (!corner) {
                EXPECT_NEAR(dialog.x + dialog.width / 2, owner.x + owner.width / 2, 1) << name;
                EXPECT_NEAR(dialog.y + dialog.height / 2, owner.y + owner.height / 2, 1) << name;
            }
        }
        gtk_widget_destroy(application);
    }
}

// The gray page's two radio groups stand in frames captioned with what they choose. Catches
// three mode buttons and four Bayer buttons shown without saying what they set.
TEST_F(DialogView, GrayPageRadioGroupsHaveCaptions) {
    ASSERT_EQ(Quorix_SetColorMode(m_handle, 8), 1);
    DialogDriver driver([&](GtkWidget* dialog) {
        gtk_notebook_set_current_page(GTK_NOTEBOOK(FindNamed(dialog, "1001")), 1);
        for (const auto& [id, caption] :
             {std::pair<int32_t, const char*>{kIdGrayMode0, "Gray mode"},
              {kIdBayerMode0, "Bayer mode"}}) {
            GtkWidget* radio = OnShownPage(dialog, id);
            ASSERT_TRUE(radio != nullptr && GTK_IS_RADIO_BUTTON(radio)) << id;
            GtkWidget* frame = gtk_widget_get_ancestor(radio, GTK_TYPE_FRAME);
            ASSERT_NE(frame, nullptr) << id;
            EXPECT_STREQ(gtk_frame_get_label(GTK_FRAME(frame)), caption);
        }
        KeepScreenshot(dialog, "gray_page");
        Press(dialog, kIdCancel);
    });
    EXPECT_EQ(Quorix_SetImageDlg(m_handle, nullptr), 1);
    EXPECT_TRUE(driver.Ran());
}

// With the preview running, "Once" measures the white balance from the next frame of a camera
// that casts red down to 0.6; the open dialog's red gain then shows the measured gain (near
// 100 / 0.6) with nothing more done by the user. Catches a view that never asks the model for
// the values the frames changed.
TEST_F(DialogView, ImageDialogShowsTheMeasuredWhiteBalance) {
    sim::Imperfections cast;
    cast.castRed = 0.6;
    m_camera->SetImperfections(cast);
    ASSERT_EQ(Quorix_SetColorMode(m_handle, 24), 1);
    ASSERT_EQ(Quorix_SetCaptureWindowEx(m_handle, 2048, 0, 1024, 1536, 0, 256), 1);
    ASSERT_EQ(Quorix_SetPreviewWindow(m_handle, nullptr, 0, 0, 0, 0), 1);
    const QuorixWindow frames = Quorix_CreateMessageWindow();
    ASSERT_EQ(Quorix_CallBackPreview(m_handle, frames, nullptr, 0, 1), 1);
    int32_t ok = 0;
    const int32_t before = Quorix_GetBayerGainRed(m_handle, &ok);
    int32_t spinShows = 0;
    double scaleShows = 0;
    int32_t measured = 0;
    DialogDriver driver([&](GtkWidget* dialog) {
        GtkWidget* spin = OnShownPage(dialog, kIdRedGainEdit);
        GtkWidget* scale = OnShownPage(dialog, kIdRedGainTrackbar);
        ASSERT_TRUE(spin != nullptr && GTK_IS_SPIN_BUTTON(spin));
        ASSERT_TRUE(scale != nullptr && GTK_IS_SCALE(scale));
        Press(dialog, kIdAutoOnce);
        // The dialog's own main loop runs until the spin button moves, for at most 5 s.
        const gint64 end = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
        while (gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(spin)) == before &&
               g_get_monotonic_time() < end) {
            gtk_main_iteration_do(FALSE);
            g_usleep(5000);
        }
        spinShows = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(spin));
        scaleShows = gtk_range_get_value(GTK_RANGE(scale));
        measured = Quorix_GetBayerGainRed(m_handle, &ok);
        Press(dialog, kIdOk);
    });
    EXPECT_EQ(Quorix_SetImageDlg(m_handle, nullptr), 1);
    EXPECT_EQ(Quorix_StopPreview(m_handle), 1);
    EXPECT_TRUE(driver.Ran());
    EXPECT_NEAR(measured, 100 / 0.6, 100 / 0.6 * 0.1);
    EXPECT_EQ(spinShows, measured);
    EXPECT_EQ(scaleShows, measured);
    Quorix_DestroyMessageWindow(frames);
}

// The next message `message` posted to `window` within five seconds (others are skipped).
bool WaitForMessage(QuorixWindow window, uint32_t message) {
    QuorixMessage taken{};
    for (int i = 0; i < 100; ++i) {
        if (Quorix_GetWindowMessage(window, &taken, 50) == 1 && taken.message == message) {
            return true;
        }
    }
    return false;
}

// A dialog that brings GTK into the process while a preview window shows on another display
// leaves that window's display to the library: when the display goes away, the window ends as a
// closed one, never the process (GTK's own I/O error handler ends the process on a broken
// connection of any display). Catches the library's handlers left behind GTK's.
TEST_F(DialogView, PreviewDisplayGoingAwayAfterADialogEndsOnlyTheWindow) {
    test::XServer doomed;
    ASSERT_EQ(doomed.Start(), "");
    setenv("DISPLAY", doomed.Name().c_str(), 1);
    ASSERT_EQ(Quorix_SetColorMode(m_handle, 8), 1);
    const QuorixWindow frames = Quorix_CreateMessageWindow();
    ASSERT_EQ(Quorix_CallBackPreview(m_handle, frames, nullptr, 0, 1), 1);
    EXPECT_TRUE(WaitForMessage(frames, QUORIX_MSG_FRAME));
    setenv("DISPLAY", s_server.Name().c_str(), 1);
    DialogDriver analog([&](GtkWidget* dialog) { Press(dialog, kIdCancel); });
    ASSERT_EQ(Quorix_SetAnalogDlg(m_handle, nullptr), 1);
    ASSERT_TRUE(analog.Ran());
    doomed.Kill();
    EXPECT_TRUE(WaitForMessage(frames, QUORIX_MSG_PREVIEW_CLOSED));
    EXPECT_EQ(Quorix_Close(m_handle), 1);
    Quorix_DestroyMessageWindow(frames);
}

}  // namespace
}  // namespace quorix
