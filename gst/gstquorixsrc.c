/*
 * quorixsrc: the frames of a Quorix 252 camera as a live GStreamer source.
 *
 * The element owns one camera context (Quorix_Initialize) from the change READY -> PAUSED to the
 * change back, and runs the SDK's windowless preview while it streams. The SDK processes each frame
 * on its own thread into its output image and posts QUORIX_MSG_FRAME to a message window; the
 * streaming thread waits on that window's file descriptor and has the SDK copy the newest frame
 * straight into the memory of the buffer it hands downstream (Quorix_GetImageEx copies under the
 * SDK's frame lock, so a frame is never read while the next one is written; there is no buffer
 * of our own in between). The record the copy comes with names the frame: its place among the
 * frames the SDK took and the camera's frame number. The frames the camera made that never reach
 * a buffer (lost on the way or in the SDK, or processed while downstream was still busy) show as a
 * gap in the camera's numbers; they are counted in "lost-frames" and announced as a GAP event and
 * a QoS message right before the buffer after the gap, which is marked DISCONT. A camera that
 * sends no frame for the exposure time plus the SDK's frame wait (it stalls, or drops every
 * frame) fails the stream with an error on the bus, also while the caps are still being set.
 *
 * Formats: video/x-raw BGR (24 bits per pixel), BGRx (32), GRAY8 (8 bits, the luminance of the
 * demosaiced colour) and GRAY16_LE (16 bits, the mosaic through the per-site gray gains), and
 * video/x-bayer with the mosaic's true colour order at the picture's top-left pixel (8 bits, or
 * 16 bits little-endian as "xxxx16le"). Rows are top row first, each padded to a multiple of four
 * bytes, which is GStreamer's default stride for these formats.
 */
#include "gstquorixsrc.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

GST_DEBUG_CATEGORY_STATIC(gst_quorix_src_debug);
#define GST_CAT_DEFAULT gst_quorix_src_debug

/* The IMX252's pixels, and the limits of the camera's settings. */
enum {
    kSensorWidth = 2048,
    kSensorHeight = 1536,
    kGainMax = 480,
    kExposureMaxUs = 2000099,
    kTopRowFirst = 1,
};

/* How long the element waits for a frame beyond the exposure time before it gives the camera up:
 * the SDK's own frame wait. A camera that stalls or drops every frame makes the SDK retry for
 * half a minute before it ends the preview; the pipeline learns of it within this time instead. */
#define FRAME_WAIT_LIMIT (3000 * GST_MSECOND)

/* The camera's rate is measured before the caps are set: from the third frame on (the first
 * ones may come at once, made before they were asked for), over at least kRateIntervals frame
 * periods and RATE_MEASURE_MIN, or over what came in RATE_MEASURE_MAX from a slow camera. */
enum { kRateSkippedFrames = 2, kRateIntervals = 8 };
#define RATE_MEASURE_MIN (500 * GST_MSECOND)
#define RATE_MEASURE_MAX (GST_SECOND)

enum {
    PROP_0,
    PROP_CAMERA,
    PROP_EXPOSURE,
    PROP_GAIN,
    PROP_SUBSAMPLE,
    PROP_WINDOW,
    PROP_MIRROR,
    PROP_LOST_FRAMES,
    PROP_LATE_FRAMES,
};

/* The mosaic's colour order at the picture's top-left pixel by the SDK's Bayer phase 0..3. */
static const char* const kBayerOrder[4] = {"gbrg", "rggb", "bggr", "grbg"};

struct _GstQuorixSrc {
    GstPushSrc parent;

    /* Properties, under the object lock. */
    gboolean running; /* from start() to stop(): the READY-only properties are refused */
    gint camera;      /* device index, -1 for the first camera present */
    guint exposure;   /* [us], 0 keeps the camera's stored exposure */
    gint gain;        /* -1 keeps the camera's stored gain */
    gboolean subsample;
    gchar* window; /* "X,Y,W,H" on the sensor, NULL keeps the stored capture window */
    GstQuorixMirror mirror;
    guint64 lost_frames;
    guint64 late_frames; /* of those, the frames the SDK delivered while downstream was busy */

    /* The camera, from start() to stop(); the handle is read under the object lock by the
     * property setters. */
    QuorixHandle handle;
    QuorixWindow messages;
    GstPoll* poll;
    GstPollFD poll_fd;
    gint saved_gray_mode;  /* restored before the context is released; -1 when untouched */
    guint camera_exposure; /* [us], the camera's exposure when it opened; under the object lock */

    /* The picture the camera delivers. */
    gint width, height; /* [pixels] */
    gint phase;         /* the mosaic's order at the top-left pixel, index into kBayerOrder */

    /* The running preview, set up by negotiate(). */
    GstCaps* caps;
    gsize frame_size; /* [bytes], height x stride */
    GstClockTime frame_duration;

    /* Frame accounting. */
    gboolean notified;   /* a frame was announced since the last copy began */
    guint64 taken_index; /* the SDK's place of the last frame copied since the preview started,
                            0 before the first */
    gint64 taken_number; /* the camera's number of that frame; -1 when none is known */
    guint64 sequence;    /* frames the camera made since the first one sent: offset of the next */
    guint64 pushed;      /* buffers handed downstream */
    GstClockTime last_pts;
};

G_DEFINE_TYPE(GstQuorixSrc, gst_quorix_src, GST_TYPE_PUSH_SRC)

GType gst_quorix_mirror_get_type(void) {
    static GType type = 0;
    static const GEnumValue values[] = {
        {GST_QUORIX_MIRROR_NONE, "Picture as the camera sees it", "none"},
        {GST_QUORIX_MIRROR_HORIZONTAL, "Left to right", "horizontal"},
        {GST_QUORIX_MIRROR_VERTICAL, "Top to bottom", "vertical"},
        {GST_QUORIX_MIRROR_BOTH, "Both (rotated by 180 degrees)", "both"},
        {0, NULL, NULL},
    };
    if (g_once_init_enter(&type)) {
        g_once_init_leave(&type, g_enum_register_static("GstQuorixMirror", values));
    }
    return type;
}

#define RAW_CAPS(format)                                 \
    "video/x-raw, format = (string) " format             \
    ", width = (int) [ 16, 2048 ], height = (int) [ 4, " \
    "1536 ], framerate = (fraction) [ 0/1, MAX ]; "
#define BAYER_CAPS(formats)                       \
    "video/x-bayer, format = (string) { " formats \
    " }, width = (int) [ 16, 2048 ], height = "   \
    "(int) [ 4, 1536 ], framerate = (fraction) [ 0/1, MAX ]; "

/* In the order of preference when downstream takes any of them. */
static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS(RAW_CAPS("BGR") RAW_CAPS("BGRx") RAW_CAPS("GRAY8") RAW_CAPS("GRAY16_LE")
                        BAYER_CAPS("bggr, gbrg, grbg, rggb")
                            BAYER_CAPS("bggr16le, gbrg16le, grbg16le, rggb16le")));

/* --- Errors of the SDK ------------------------------------------------------------------------ */

static const char* quorix_error_text(guint code) {
    switch (code) {
        case QUORIX_ERR_NO_ENGINE:
            return "no camera engine, or not allowed in this state";
        case QUORIX_ERR_NO_CAMERA:
            return "camera not present or could not be opened";
        case QUORIX_ERR_THREAD:
            return "a thread could not be created";
        case QUORIX_ERR_WINDOW:
            return "window failed";
        case QUORIX_ERR_BUFFER:
            return "out of memory, or buffer too small";
        case QUORIX_ERR_REGISTER:
            return "the camera did not take its settings";
        case QUORIX_ERR_CAPTURE_WINDOW:
            return "invalid capture window";
        case QUORIX_ERR_ACQUISITION:
            return "frame acquisition failed";
        case QUORIX_ERR_ARGUMENT:
            return "invalid argument";
        case QUORIX_ERR_UNSUPPORTED:
            return "not supported by this camera";
        case QUORIX_ERR_TRANSFER_STOPPED:
            return "image transfer stopped (camera unplugged or not sending)";
        default:
            return "unknown error";
    }
}

/* The newest code of the context's error history (0 when the failing call recorded none). */
static guint last_error(GstQuorixSrc* self) {
    return Quorix_GetLastError(self->handle);
}

/* Posts an element error for a failed SDK call. `code` is read once: last_error() pops the code
 * from the SDK's history, so each further read would give an older one. */
#define QUORIX_FAIL(self, domain, kind, what, code)                                         \
    G_STMT_START {                                                                          \
        const guint fail_code_ = (code);                                                    \
        GST_ELEMENT_ERROR(                                                                  \
            (self), domain, kind,                                                           \
            ("%s failed: %s (code %u)", (what), quorix_error_text(fail_code_), fail_code_), \
            ("%s failed with SDK error code %u", (what), fail_code_));                      \
    }                                                                                       \
    G_STMT_END

/* --- Properties ------------------------------------------------------------------------------- */

/* The properties that only take effect when the camera opens (READY -> PAUSED): the camera, the
 * picture's geometry and the mosaic's order fixed in the caps. While the element runs they are
 * refused and keep their value, rather than look set without any effect. */
static gboolean refused_while_running(GstQuorixSrc* self, GParamSpec* pspec) {
    if (!self->running) {
        return FALSE;
    }
    g_warning(
        "%s: property '%s' can only change while the element is stopped (NULL or READY); "
        "it keeps its value",
        GST_OBJECT_NAME(self), g_param_spec_get_name(pspec));
    return TRUE;
}

/* Reads "X,Y,W,H"; FALSE unless it is exactly four whole numbers. */
static gboolean parse_window(const gchar* text, gint values[4]) {
    gchar tail = 0;
    return sscanf(text, "%d,%d,%d,%d%c", &values[0], &values[1], &values[2], &values[3], &tail) ==
           4;
}

static void gst_quorix_src_set_property(GObject* object, guint id, const GValue* value,
                                        GParamSpec* pspec) {
    GstQuorixSrc* self = GST_QUORIX_SRC(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
        case PROP_CAMERA:
            if (!refused_while_running(self, pspec)) {
                self->camera = g_value_get_int(value);
            }
            break;
        case PROP_EXPOSURE:
            self->exposure = g_value_get_uint(value);
            break;
        case PROP_GAIN:
            self->gain = g_value_get_int(value);
            break;
        case PROP_SUBSAMPLE:
            if (!refused_while_running(self, pspec)) {
                self->subsample = g_value_get_boolean(value);
            }
            break;
        case PROP_WINDOW: {
            const gchar* text = g_value_get_string(value);
            gint values[4];
            if (refused_while_running(self, pspec)) {
                break;
            }
            if (text != NULL && *text != '\0' && !parse_window(text, values)) {
                GST_WARNING_OBJECT(self, "window '%s' is not X,Y,W,H; keeping '%s'", text,
                                   self->window ? self->window : "");
                break;
            }
            g_free(self->window);
            self->window = text != NULL && *text != '\0' ? g_strdup(text) : NULL;
            break;
        }
        case PROP_MIRROR:
            if (!refused_while_running(self, pspec)) {
                self->mirror = g_value_get_enum(value);
            }
            break;
        default:
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
            break;
    }
    const QuorixHandle handle = self->handle;
    const guint exposure = self->exposure;
    const gint gain = self->gain;
    GST_OBJECT_UNLOCK(self);
    /* Exposure and gain follow at once while the camera is open, outside the lock as the camera
     * takes its time; a handle released meanwhile answers as unknown and changes nothing. */
    if (handle != 0 && id == PROP_EXPOSURE && exposure != 0 &&
        !Quorix_SetRealExposureTime(handle, exposure)) {
        GST_WARNING_OBJECT(self, "exposure %u us refused: code %u", exposure,
                           Quorix_GetLastError(handle));
    }
    if (handle != 0 && id == PROP_GAIN && gain >= 0 && !Quorix_SetGlobalGain(handle, gain)) {
        GST_WARNING_OBJECT(self, "gain %d refused: code %u", gain, Quorix_GetLastError(handle));
    }
}

static void gst_quorix_src_get_property(GObject* object, guint id, GValue* value,
                                        GParamSpec* pspec) {
    GstQuorixSrc* self = GST_QUORIX_SRC(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
        case PROP_CAMERA:
            g_value_set_int(value, self->camera);
            break;
        case PROP_EXPOSURE:
            g_value_set_uint(value, self->exposure);
            break;
        case PROP_GAIN:
            g_value_set_int(value, self->gain);
            break;
        case PROP_SUBSAMPLE:
            g_value_set_boolean(value, self->subsample);
            break;
        case PROP_WINDOW:
            g_value_set_string(value, self->window);
            break;
        case PROP_MIRROR:
            g_value_set_enum(value, self->mirror);
            break;
        case PROP_LOST_FRAMES:
            g_value_set_uint64(value, self->lost_frames);
            break;
        case PROP_LATE_FRAMES:
            g_value_set_uint64(value, self->late_frames);
            break;
        default:
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
            break;
    }
    GST_OBJECT_UNLOCK(self);
}

/* --- Opening and closing the camera ----------------------------------------------------------- */

/* Opens the camera the "camera" property names: a device index, or -1 for the first one present
 * (the SDK has opened it already when it is the only one). */
static gboolean open_camera(GstQuorixSrc* self, gint index) {
    QuorixCameraInfo info;
    memset(&info, 0, sizeof info);
    info.size = sizeof info;
    if (index < 0) {
        if (Quorix_GetCameraInfo(self->handle, &info) && info.maxWidth != 0) {
            return TRUE;
        }
        char names[10][256];
        const int32_t count = Quorix_EnumDevice(self->handle, names);
        unsigned number = 0;
        if (count <= 0 || sscanf(names[0], "Quorix252DIV-USB3-R5_%2u", &number) != 1 ||
            number == 0) {
            GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("No Quorix camera is attached."),
                              ("Quorix_EnumDevice listed %d cameras", count));
            return FALSE;
        }
        index = (gint)number - 1;
    }
    if (!Quorix_SetDeviceNumber(self->handle, index)) {
        const guint code = last_error(self);
        GST_ELEMENT_ERROR(
            self, RESOURCE, NOT_FOUND, ("No Quorix camera at device index %d.", index),
            ("Quorix_SetDeviceNumber failed: %s (code %u)", quorix_error_text(code), code));
        return FALSE;
    }
    return TRUE;
}

/* Sends the properties' settings to the open camera. */
static gboolean apply_settings(GstQuorixSrc* self) {
    GST_OBJECT_LOCK(self);
    const guint exposure = self->exposure;
    const gint gain = self->gain;
    const gboolean subsample = self->subsample;
    const GstQuorixMirror mirror = self->mirror;
    gchar* window = g_strdup(self->window);
    GST_OBJECT_UNLOCK(self);

    gboolean ok = TRUE;
    gint rect[4];
    if (!Quorix_SetSubSample(self->handle, subsample ? 1 : 0)) {
        QUORIX_FAIL(self, RESOURCE, SETTINGS, "Setting the sub-sampling", last_error(self));
        ok = FALSE;
    } else if (window != NULL && parse_window(window, rect) &&
               !Quorix_SetCaptureWindowEx(self->handle, kSensorWidth, rect[0], rect[2],
                                          kSensorHeight, rect[1], rect[3])) {
        GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS,
                          ("Invalid capture window %s for this sub-sampling.", window),
                          ("Quorix_SetCaptureWindowEx: code %u", last_error(self)));
        ok = FALSE;
    } else if (!Quorix_SetMirrorH(self->handle, (mirror & GST_QUORIX_MIRROR_HORIZONTAL) != 0) ||
               !Quorix_SetMirrorV(self->handle, (mirror & GST_QUORIX_MIRROR_VERTICAL) != 0)) {
        QUORIX_FAIL(self, RESOURCE, SETTINGS, "Setting the mirroring", last_error(self));
        ok = FALSE;
    } else if (exposure != 0 && !Quorix_SetRealExposureTime(self->handle, exposure)) {
        GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS,
                          ("Exposure of %u us is out of range.", exposure),
                          ("Quorix_SetRealExposureTime: code %u", last_error(self)));
        ok = FALSE;
    } else if (gain >= 0 && !Quorix_SetGlobalGain(self->handle, gain)) {
        GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("Gain %d is out of range.", gain),
                          ("Quorix_SetGlobalGain: code %u", last_error(self)));
        ok = FALSE;
    }
    g_free(window);
    return ok;
}

static void release_camera(GstQuorixSrc* self) {
    if (self->handle != 0) {
        Quorix_StopPreview(self->handle);
        if (self->saved_gray_mode >= 0) {
            Quorix_SetGrayMode(self->handle, self->saved_gray_mode);
        }
        GST_OBJECT_LOCK(self);
        const QuorixHandle handle = self->handle;
        self->handle = 0;
        GST_OBJECT_UNLOCK(self);
        Quorix_Release(handle);
    }
    /* The message window outlives the context, whose preview posts to it until released. */
    if (self->messages != NULL) {
        Quorix_DestroyMessageWindow(self->messages);
        self->messages = NULL;
    }
    if (self->poll != NULL) {
        gst_poll_free(self->poll);
        self->poll = NULL;
    }
    GST_OBJECT_LOCK(self);
    self->running = FALSE;
    GST_OBJECT_UNLOCK(self);
}

static gboolean gst_quorix_src_start(GstBaseSrc* base) {
    GstQuorixSrc* self = GST_QUORIX_SRC(base);
    GST_OBJECT_LOCK(self);
    /* From here on the settings below are read: later changes would have no effect. */
    self->running = TRUE;
    const gint index = self->camera;
    GST_OBJECT_UNLOCK(self);

    self->saved_gray_mode = -1;
    self->messages = Quorix_CreateMessageWindow();
    self->poll = gst_poll_new(TRUE);
    if (self->messages == NULL || self->poll == NULL) {
        GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("Could not create a message window."), (NULL));
        release_camera(self);
        return FALSE;
    }
    gst_poll_fd_init(&self->poll_fd);
    self->poll_fd.fd = Quorix_GetWindowMessageFd(self->messages);
    gst_poll_add_fd(self->poll, &self->poll_fd);
    gst_poll_fd_ctl_read(self->poll, &self->poll_fd, TRUE);

    const QuorixHandle handle = Quorix_Initialize(self->messages);
    GST_OBJECT_LOCK(self);
    self->handle = handle;
    GST_OBJECT_UNLOCK(self);
    if (handle == 0) {
        GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("Could not create a camera context."), (NULL));
        release_camera(self);
        return FALSE;
    }
    if (!open_camera(self, index) || !apply_settings(self)) {
        release_camera(self);
        return FALSE;
    }

    /* The picture: the capture window, halved in each direction by the sub-sampling. */
    const gboolean subsampled = Quorix_GetSubSample(handle) == 1;
    self->width = Quorix_Width(handle) >> (subsampled ? 1 : 0);
    self->height = Quorix_Height(handle) >> (subsampled ? 1 : 0);
    /* The mosaic's order follows the picture's flips, and 2x2 sub-sampling starts its lines one
     * row further down; the Bayer mode names the order of the sensor itself. */
    int32_t ok = 0;
    gint phase = Quorix_GetBayerMode(handle, &ok) & 3;
    if (Quorix_GetMirrorV(handle)) {
        phase ^= 1;
    }
    if (Quorix_GetMirrorH(handle)) {
        phase ^= 2;
    }
    if (subsampled) {
        phase ^= 1;
    }
    self->phase = phase;
    /* Unknown, the longest exposure bounds the wait for a frame. */
    int32_t exposure_ok = 0;
    uint32_t exposure = Quorix_GetRealExposureTime(handle, &exposure_ok);
    if (!exposure_ok) {
        exposure = kExposureMaxUs;
    }
    self->pushed = 0;
    self->sequence = 0;
    self->last_pts = GST_CLOCK_TIME_NONE;
    GST_OBJECT_LOCK(self);
    self->camera_exposure = exposure;
    self->lost_frames = 0;
    self->late_frames = 0;
    GST_OBJECT_UNLOCK(self);
    GST_INFO_OBJECT(self, "camera open: %dx%d, mosaic %s", self->width, self->height,
                    kBayerOrder[phase]);
    return TRUE;
}

static gboolean gst_quorix_src_stop(GstBaseSrc* base) {
    GstQuorixSrc* self = GST_QUORIX_SRC(base);
    release_camera(self);
    gst_caps_replace(&self->caps, NULL);
    return TRUE;
}

/* --- Caps ------------------------------------------------------------------------------------- */

static GstCaps* gst_quorix_src_get_caps(GstBaseSrc* base, GstCaps* filter) {
    GstQuorixSrc* self = GST_QUORIX_SRC(base);
    GstCaps* caps;
    if (self->handle == 0) {
        caps = gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(base));
    } else {
        /* The camera is open: its picture size and mosaic order are known. */
        caps = gst_caps_new_empty();
        static const char* const kRawFormats[] = {"BGR", "BGRx", "GRAY8", "GRAY16_LE"};
        for (size_t i = 0; i < G_N_ELEMENTS(kRawFormats); ++i) {
            gst_caps_append_structure(caps, gst_structure_new("video/x-raw", "format",
                                                              G_TYPE_STRING, kRawFormats[i], NULL));
        }
        gchar* bayer16 = g_strdup_printf("%s16le", kBayerOrder[self->phase]);
        gst_caps_append_structure(caps, gst_structure_new("video/x-bayer", "format", G_TYPE_STRING,
                                                          kBayerOrder[self->phase], NULL));
        gst_caps_append_structure(
            caps, gst_structure_new("video/x-bayer", "format", G_TYPE_STRING, bayer16, NULL));
        g_free(bayer16);
        gst_caps_set_simple(caps, "width", G_TYPE_INT, self->width, "height", G_TYPE_INT,
                            self->height, "framerate", GST_TYPE_FRACTION_RANGE, 0, 1, G_MAXINT, 1,
                            "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, NULL);
    }
    if (filter != NULL) {
        GstCaps* intersection = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = intersection;
    }
    return caps;
}

/* The SDK's output format for a caps structure: bits per pixel and gray mode (0 the raw mosaic,
 * 1 the mosaic through the gray gains, 2 the luminance of the demosaiced colour; -1 for colour,
 * where it does not apply). FALSE for a structure this element does not produce. */
static gboolean output_format(const GstStructure* s, gint* bits, gint* gray_mode) {
    const gchar* format = gst_structure_get_string(s, "format");
    if (format == NULL) {
        return FALSE;
    }
    *gray_mode = -1;
    if (gst_structure_has_name(s, "video/x-bayer")) {
        *bits = g_str_has_suffix(format, "16le") ? 16 : 8;
        *gray_mode = 0;
        return TRUE;
    }
    if (strcmp(format, "BGR") == 0) {
        *bits = 24;
    } else if (strcmp(format, "BGRx") == 0) {
        *bits = 32;
    } else if (strcmp(format, "GRAY8") == 0) {
        *bits = 8;
        *gray_mode = 2;
    } else if (strcmp(format, "GRAY16_LE") == 0) {
        *bits = 16;
        *gray_mode = 1;
    } else {
        return FALSE;
    }
    return TRUE;
}

/* --- Taking frames ---------------------------------------------------------------------------- */

typedef enum { kFrameTaken, kFrameFlushing, kFrameError } FrameResult;

/* Takes the message window's pending messages, noting in `notified` a frame announced. FALSE
 * once the SDK reported that no more frames come (the error is posted). */
static gboolean take_messages(GstQuorixSrc* self) {
    QuorixMessage message;
    while (Quorix_PeekWindowMessage(self->messages, &message) == 1) {
        if (message.message == QUORIX_MSG_FRAME && message.wParam == 0) {
            /* A frame notification without a frame ends the preview's frames. */
            const guint code = (guint)message.lParam;
            QUORIX_FAIL(self, RESOURCE, READ, "Taking frames from the camera", code);
            return FALSE;
        }
        if (message.message == QUORIX_MSG_FRAME) {
            self->notified = TRUE;
        } else if (message.message == QUORIX_MSG_ERROR) {
            GST_DEBUG_OBJECT(self, "SDK error code %u", (guint)message.lParam);
        }
    }
    return TRUE;
}

/* Posts the error of a camera that sent no frame for `waited`: the SDK's code for a camera that
 * stopped sending, and what the SDK saw of its frames (headers without data, or nothing). */
static void report_no_frame(GstQuorixSrc* self, GstClockTime waited) {
    QuorixFrameStatistics statistics;
    memset(&statistics, 0, sizeof statistics);
    statistics.size = sizeof statistics;
    Quorix_GetFrameStatistics(self->handle, &statistics);
    const guint code = QUORIX_ERR_TRANSFER_STOPPED;
    GST_ELEMENT_ERROR(self, RESOURCE, READ,
                      ("No frame from the camera for %" G_GUINT64_FORMAT " ms: %s (code %u)",
                       waited / GST_MSECOND, quorix_error_text(code), code),
                      ("since the camera started the SDK received %" G_GUINT64_FORMAT
                       " frame headers, %" G_GUINT64_FORMAT " frames failed in transfer",
                       statistics.framesReceived, statistics.failedTransfer));
}

/* Waits until the SDK has announced a frame since the last copy began. The SDK announces each
 * frame once it has processed it, so a frame newer than the last one copied is announced after
 * that copy began, or is the one the copy took. A camera that sends no frame within the exposure
 * time and FRAME_WAIT_LIMIT is given up, with the error posted. */
static FrameResult wait_for_frame(GstQuorixSrc* self) {
    GST_OBJECT_LOCK(self);
    const guint exposure = self->exposure != 0 ? self->exposure : self->camera_exposure;
    GST_OBJECT_UNLOCK(self);
    const GstClockTime limit = FRAME_WAIT_LIMIT + (GstClockTime)exposure * GST_USECOND;
    const gint64 started = g_get_monotonic_time();
    for (;;) {
        if (!take_messages(self)) {
            return kFrameError;
        }
        if (self->notified) {
            return kFrameTaken;
        }
        const GstClockTime waited = (GstClockTime)(g_get_monotonic_time() - started) * GST_USECOND;
        if (waited >= limit) {
            report_no_frame(self, waited);
            return kFrameError;
        }
        /* Nothing new: wait for the next message (a frame, or why none comes). */
        if (gst_poll_wait(self->poll, limit - waited) < 0) {
            if (errno == EBUSY) {
                return kFrameFlushing;
            }
            if (errno != EINTR && errno != EAGAIN) {
                GST_ELEMENT_ERROR(self, RESOURCE, READ, ("Waiting for frames failed."),
                                  ("poll: %s", g_strerror(errno)));
                return kFrameError;
            }
        }
    }
}

/* The clock's time now, GST_CLOCK_TIME_NONE without a clock. */
static GstClockTime clock_time(GstQuorixSrc* self) {
    GstClock* clock = gst_element_get_clock(GST_ELEMENT(self));
    if (clock == NULL) {
        return GST_CLOCK_TIME_NONE;
    }
    const GstClockTime now = gst_clock_get_time(clock);
    gst_object_unref(clock);
    return now;
}

/* The pipeline clock's time at `monotonic_us` on the system's monotonic clock, when the pipeline
 * runs on a system clock that counts that clock; GST_CLOCK_TIME_NONE otherwise. */
static GstClockTime clock_time_of_monotonic(GstQuorixSrc* self, guint64 monotonic_us) {
    GstClock* clock = gst_element_get_clock(GST_ELEMENT(self));
    if (clock == NULL) {
        return GST_CLOCK_TIME_NONE;
    }
    GstClockTime result = GST_CLOCK_TIME_NONE;
    const GstClockClass* system_class = g_type_class_peek(GST_TYPE_SYSTEM_CLOCK);
    GstClockType type = GST_CLOCK_TYPE_REALTIME;
    if (GST_IS_SYSTEM_CLOCK(clock) && system_class != NULL &&
        GST_CLOCK_GET_CLASS(clock)->get_internal_time == system_class->get_internal_time) {
        g_object_get(clock, "clock-type", &type, NULL);
    }
    if (type == GST_CLOCK_TYPE_MONOTONIC) {
        /* The clock's own time is the monotonic clock; its calibration maps that to its time
         * (not gst_clock_adjust_unlocked(), which never answers a time before one it gave). */
        const GstClockTime internal = monotonic_us * GST_USECOND;
        if (internal <= gst_clock_get_internal_time(clock)) {
            GstClockTime internal_base, external_base, num, denom;
            gst_clock_get_calibration(clock, &internal_base, &external_base, &num, &denom);
            result = gst_clock_adjust_with_calibration(clock, internal, internal_base,
                                                       external_base, num, denom);
        }
    }
    gst_object_unref(clock);
    return result;
}

/* Waits for a frame newer than the last one copied and has the SDK copy it into `buffer`.
 * `arrival` receives the pipeline clock's time when the SDK took it from the camera (or, on
 * another clock, when it was copied), `lost` the frames the camera made since the previous one
 * copied that no buffer got, `late` those of them the SDK processed before a copy came. */
static FrameResult take_frame(GstQuorixSrc* self, GstBuffer* buffer, GstClockTime* arrival,
                              guint64* lost, guint64* late) {
    for (;;) {
        const FrameResult waited = wait_for_frame(self);
        if (waited != kFrameTaken) {
            return waited;
        }
        /* Announcements taken from here on are of frames processed after this copy began. */
        self->notified = FALSE;
        const GstClockTime copied_at = clock_time(self);
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
            GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("Could not map a buffer."), (NULL));
            return kFrameError;
        }
        QuorixImageInfo info;
        memset(&info, 0, sizeof info);
        info.size = sizeof info;
        const int copied =
            Quorix_GetImageEx(self->handle, map.data, (uint32_t)map.size, kTopRowFirst, &info);
        gst_buffer_unmap(buffer, &map);
        if (!copied) {
            QUORIX_FAIL(self, RESOURCE, READ, "Copying a frame", last_error(self));
            return kFrameError;
        }
        if (info.frameIndex == self->taken_index) {
            /* The frame copied last time, announced once that copy had already taken it. */
            GST_LOG_OBJECT(self, "frame %" G_GUINT64_FORMAT " again", info.frameIndex);
            continue;
        }
        /* The frames the SDK took but no copy got; the camera's numbers also count those lost
         * before the SDK took them. The first frame after a preview start opens a new count. */
        *late = self->taken_index != 0 && info.frameIndex > self->taken_index
                    ? info.frameIndex - self->taken_index - 1
                    : 0;
        if (self->taken_index == 0) {
            *lost = 0;
        } else if (self->taken_number >= 0 && info.frameNumber > self->taken_number) {
            *lost = (guint64)(info.frameNumber - self->taken_number - 1);
        } else {
            *lost = *late; /* no camera number to go by */
        }
        *late = MIN(*late, *lost);
        GST_LOG_OBJECT(self,
                       "copied frame %" G_GUINT64_FORMAT " (camera frame %" G_GINT64_FORMAT
                       "), %" G_GUINT64_FORMAT " lost before it, %" G_GUINT64_FORMAT
                       " of them late",
                       info.frameIndex, info.frameNumber, *lost, *late);
        self->taken_index = info.frameIndex;
        self->taken_number = info.frameNumber;
        *arrival = clock_time_of_monotonic(self, info.timestampUs);
        if (!GST_CLOCK_TIME_IS_VALID(*arrival)) {
            *arrival = copied_at;
        }
        return kFrameTaken;
    }
}

/* A new buffer of one frame, from the negotiated pool when there is one. */
static GstFlowReturn new_frame_buffer(GstQuorixSrc* self, GstBuffer** buffer) {
    GstBufferPool* pool = gst_base_src_get_buffer_pool(GST_BASE_SRC(self));
    GstFlowReturn ret = GST_FLOW_OK;
    if (pool != NULL) {
        ret = gst_buffer_pool_acquire_buffer(pool, buffer, NULL);
        gst_object_unref(pool);
    } else {
        *buffer = gst_buffer_new_allocate(NULL, self->frame_size, NULL);
        if (*buffer == NULL) {
            ret = GST_FLOW_ERROR;
        }
    }
    return ret;
}

/* --- Negotiation: the format downstream wants, and the camera's rate -------------------------- */

static gboolean start_preview(GstQuorixSrc* self, gint bits, gint gray_mode) {
    const QuorixHandle handle = self->handle;
    Quorix_StopPreview(handle);
    if (!Quorix_SetColorMode(handle, bits)) {
        QUORIX_FAIL(self, CORE, NEGOTIATION, "Setting the output format", last_error(self));
        return FALSE;
    }
    if (gray_mode >= 0) {
        int32_t ok = 0;
        const int32_t current = Quorix_GetGrayMode(handle, &ok);
        if (current != gray_mode) {
            if (self->saved_gray_mode < 0 && ok) {
                self->saved_gray_mode = current;
            }
            if (!Quorix_SetGrayMode(handle, gray_mode)) {
                QUORIX_FAIL(self, CORE, NEGOTIATION, "Setting the gray mode", last_error(self));
                return FALSE;
            }
        }
    }
    /* No window: the frames are only delivered, the newest one each time with no pause. */
    if (!Quorix_SetPreviewWindow(handle, NULL, 0, 0, 0, 0) || !Quorix_SetWaitTime(handle, 0) ||
        !Quorix_SetDeliveryMode(handle, QUORIX_DELIVERY_NEWEST) ||
        !Quorix_CallBackPreview(handle, self->messages, NULL, 0, kTopRowFirst)) {
        QUORIX_FAIL(self, RESOURCE, READ, "Starting the camera", last_error(self));
        return FALSE;
    }
    self->frame_size =
        (gsize)self->height * (((gsize)self->width * (gsize)bits / 8 + 3) & ~(gsize)3);
    /* The SDK counts its frames afresh from each preview start, and the camera may number them
     * afresh: the next buffer starts a new count. */
    self->notified = FALSE;
    self->taken_index = 0;
    self->taken_number = -1;
    return TRUE;
}

/* The camera's number of the newest frame the SDK received, -1 when none is known (the error is
 * posted when the SDK's statistics cannot be read). */
static gint64 newest_frame_number(GstQuorixSrc* self, gboolean* ok) {
    QuorixFrameStatistics statistics;
    memset(&statistics, 0, sizeof statistics);
    statistics.size = sizeof statistics;
    *ok = Quorix_GetFrameStatistics(self->handle, &statistics) != 0;
    if (!*ok) {
        QUORIX_FAIL(self, RESOURCE, READ, "Reading the frame statistics", last_error(self));
        return -1;
    }
    return statistics.newestFrameNumber;
}

/* Measures the camera's rate from the camera's numbers of the frames the SDK announces, which
 * count those lost too, in the SDK's unit of a tenth of a frame per second. No frame is copied;
 * the stream starts with the next one. 0 when the measurement was interrupted or failed. */
static gint measure_rate(GstQuorixSrc* self) {
    GstClockTime first = GST_CLOCK_TIME_NONE;
    gint64 first_number = -1;
    guint seen = 0;
    for (;;) {
        if (wait_for_frame(self) != kFrameTaken) {
            return 0;
        }
        self->notified = FALSE;
        const GstClockTime now = clock_time(self);
        gboolean ok = FALSE;
        const gint64 number = newest_frame_number(self, &ok);
        if (!ok || !GST_CLOCK_TIME_IS_VALID(now)) {
            return 0;
        }
        if (number < 0 || ++seen <= kRateSkippedFrames) {
            continue;
        }
        if (first_number < 0 || number < first_number) {
            first = now;
            first_number = number;
            continue;
        }
        const guint64 frames = (guint64)(number - first_number); /* made since `first` */
        const GstClockTime span = now - first;
        if (span > 0 && ((frames >= kRateIntervals && span >= RATE_MEASURE_MIN) ||
                         (frames >= 2 && span >= RATE_MEASURE_MAX))) {
            const gint rate = (gint)gst_util_uint64_scale_round(10 * frames, GST_SECOND, span);
            return MAX(rate, 1);
        }
    }
}

static gboolean gst_quorix_src_negotiate(GstBaseSrc* base) {
    GstQuorixSrc* self = GST_QUORIX_SRC(base);
    GstCaps* ours = gst_pad_query_caps(GST_BASE_SRC_PAD(base), NULL);
    GstCaps* peer = gst_pad_peer_query_caps(GST_BASE_SRC_PAD(base), ours);
    /* In the camera's order of preference: downstream that converts anyway (videoconvert) would
     * otherwise pick whatever it lists first, gray for a colour camera. */
    GstCaps* caps = gst_caps_intersect_full(ours, peer, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(peer);
    gst_caps_unref(ours);
    if (gst_caps_is_empty(caps)) {
        gst_caps_unref(caps);
        GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("Downstream takes none of the camera's formats."),
                          (NULL));
        return FALSE;
    }
    caps = gst_caps_truncate(caps);
    caps = gst_caps_make_writable(caps);
    GstStructure* s = gst_caps_get_structure(caps, 0);
    gst_structure_fixate_field(s, "format");
    gint bits = 0;
    gint gray_mode = -1;
    if (!output_format(s, &bits, &gray_mode)) {
        gst_caps_unref(caps);
        return FALSE;
    }
    gboolean ok = TRUE;
    /* A running preview whose caps downstream still takes goes on; another format restarts it. */
    if (self->caps == NULL || !gst_caps_is_subset(self->caps, caps)) {
        gst_caps_replace(&self->caps, NULL);
        gint rate = 0;
        ok = start_preview(self, bits, gray_mode) && (rate = measure_rate(self)) > 0;
        if (ok) {
            const gint divisor = gst_util_greatest_common_divisor(rate, 10);
            if (gst_structure_has_field(s, "framerate")) {
                gst_structure_fixate_field_nearest_fraction(s, "framerate", rate / divisor,
                                                            10 / divisor);
            } else {
                gst_structure_set(s, "framerate", GST_TYPE_FRACTION, rate / divisor, 10 / divisor,
                                  NULL);
            }
            gint num = 0, den = 1;
            if (!gst_structure_get_fraction(s, "framerate", &num, &den) ||
                (gint64)num * 10 != (gint64)rate * den) {
                GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                                  ("The camera delivers %d.%d frames per second, downstream wants "
                                   "%d/%d.",
                                   rate / 10, rate % 10, num, den),
                                  (NULL));
                ok = FALSE;
            } else {
                caps = gst_caps_fixate(caps);
                self->frame_duration = gst_util_uint64_scale_int(GST_SECOND, 10, rate);
                GST_INFO_OBJECT(self, "camera rate %d.%d frames/s: %" GST_PTR_FORMAT, rate / 10,
                                rate % 10, caps);
                gst_caps_replace(&self->caps, caps);
            }
        }
    }
    if (ok) {
        ok = gst_base_src_set_caps(base, self->caps);
        if (ok) {
            /* The latency follows the frame duration. */
            gst_element_post_message(GST_ELEMENT(self), gst_message_new_latency(GST_OBJECT(self)));
        }
    }
    gst_caps_unref(caps);
    return ok;
}

/* One pool of frame-sized buffers of plain memory: downstream pools laid out for other sizes or
 * formats (a mosaic is no video format to them) would not take the SDK's frames. */
static gboolean gst_quorix_src_decide_allocation(GstBaseSrc* base, GstQuery* query) {
    GstQuorixSrc* self = GST_QUORIX_SRC(base);
    while (gst_query_get_n_allocation_pools(query) > 0) {
        gst_query_remove_nth_allocation_pool(query, 0);
    }
    gst_query_add_allocation_pool(query, NULL, (guint)self->frame_size, 2, 0);
    return GST_BASE_SRC_CLASS(gst_quorix_src_parent_class)->decide_allocation(base, query);
}

static gboolean gst_quorix_src_query(GstBaseSrc* base, GstQuery* query) {
    GstQuorixSrc* self = GST_QUORIX_SRC(base);
    if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY) {
        if (self->caps == NULL) {
            return FALSE;
        }
        /* A frame is seen once the SDK has received and processed it: about one frame period
         * after its exposure ended. */
        gst_query_set_latency(query, TRUE, self->frame_duration, self->frame_duration);
        return TRUE;
    }
    return GST_BASE_SRC_CLASS(gst_quorix_src_parent_class)->query(base, query);
}

/* --- Streaming -------------------------------------------------------------------------------- */

static GstClockTime running_time(GstQuorixSrc* self, GstClockTime clock_time) {
    if (!GST_CLOCK_TIME_IS_VALID(clock_time)) {
        return GST_CLOCK_TIME_NONE;
    }
    const GstClockTime base_time = gst_element_get_base_time(GST_ELEMENT(self));
    return clock_time > base_time ? clock_time - base_time : 0;
}

/* Announces `lost` frames missing before a buffer at `pts` (`late` of them delivered while
 * downstream was busy): the counts, a GAP event over their time, and a QoS message with the
 * counts so far. */
static void report_lost(GstQuorixSrc* self, guint64 lost, guint64 late, GstClockTime pts) {
    GST_OBJECT_LOCK(self);
    self->lost_frames += lost;
    self->late_frames += late;
    const guint64 total = self->lost_frames;
    GST_OBJECT_UNLOCK(self);
    GST_DEBUG_OBJECT(self, "%" G_GUINT64_FORMAT " frames lost before %" GST_TIME_FORMAT, lost,
                     GST_TIME_ARGS(pts));
    if (self->pushed == 0 || !GST_CLOCK_TIME_IS_VALID(pts) ||
        !GST_CLOCK_TIME_IS_VALID(self->last_pts)) {
        return; /* Nothing was sent yet, so nothing downstream waits for these frames. */
    }
    const GstClockTime start = self->last_pts + self->frame_duration;
    const GstClockTime duration = pts > start ? pts - start : 0;
    gst_pad_push_event(GST_BASE_SRC_PAD(self), gst_event_new_gap(start, duration));
    GstMessage* qos = gst_message_new_qos(GST_OBJECT(self), TRUE, start, start, start, duration);
    gst_message_set_qos_stats(qos, GST_FORMAT_BUFFERS, self->pushed, total);
    gst_element_post_message(GST_ELEMENT(self), qos);
}

static GstFlowReturn gst_quorix_src_create(GstPushSrc* push, GstBuffer** out) {
    GstQuorixSrc* self = GST_QUORIX_SRC(push);
    GstBuffer* buffer = NULL;
    guint64 lost = 0, late = 0;
    const GstFlowReturn ret = new_frame_buffer(self, &buffer);
    if (ret != GST_FLOW_OK) {
        return ret;
    }
    GstClockTime arrival = GST_CLOCK_TIME_NONE;
    /* The first frame since the preview started opens a new count: what came before it is not
     * reported, and it follows a discontinuity. */
    const gboolean fresh = self->taken_index == 0;
    switch (take_frame(self, buffer, &arrival, &lost, &late)) {
        case kFrameTaken:
            break;
        case kFrameFlushing:
            gst_buffer_unref(buffer);
            return GST_FLOW_FLUSHING;
        default:
            gst_buffer_unref(buffer);
            return GST_FLOW_ERROR;
    }
    GST_BUFFER_PTS(buffer) = running_time(self, arrival);
    if (lost != 0) {
        report_lost(self, lost, late, GST_BUFFER_PTS(buffer));
        self->sequence += lost;
    }
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(buffer) = self->frame_duration;
    GST_BUFFER_OFFSET(buffer) = self->sequence;
    GST_BUFFER_OFFSET_END(buffer) = self->sequence + 1;
    if (fresh || lost != 0) {
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    }
    ++self->sequence;
    ++self->pushed;
    self->last_pts = GST_BUFFER_PTS(buffer);
    *out = buffer;
    return GST_FLOW_OK;
}

static gboolean gst_quorix_src_unlock(GstBaseSrc* base) {
    GstQuorixSrc* self = GST_QUORIX_SRC(base);
    if (self->poll != NULL) {
        gst_poll_set_flushing(self->poll, TRUE);
    }
    return TRUE;
}

static gboolean gst_quorix_src_unlock_stop(GstBaseSrc* base) {
    GstQuorixSrc* self = GST_QUORIX_SRC(base);
    if (self->poll != NULL) {
        gst_poll_set_flushing(self->poll, FALSE);
    }
    return TRUE;
}

/* --- The class -------------------------------------------------------------------------------- */

static void gst_quorix_src_finalize(GObject* object) {
    GstQuorixSrc* self = GST_QUORIX_SRC(object);
    release_camera(self);
    gst_caps_replace(&self->caps, NULL);
    g_free(self->window);
    G_OBJECT_CLASS(gst_quorix_src_parent_class)->finalize(object);
}

static void gst_quorix_src_init(GstQuorixSrc* self) {
    self->camera = -1;
    self->gain = -1;
    self->saved_gray_mode = -1;
    self->taken_number = -1;
    self->last_pts = GST_CLOCK_TIME_NONE;
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

static void gst_quorix_src_class_init(GstQuorixSrcClass* klass) {
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GstBaseSrcClass* base_class = GST_BASE_SRC_CLASS(klass);
    GstPushSrcClass* push_class = GST_PUSH_SRC_CLASS(klass);

    object_class->set_property = gst_quorix_src_set_property;
    object_class->get_property = gst_quorix_src_get_property;
    object_class->finalize = gst_quorix_src_finalize;

    const GParamFlags rw = G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS;
    g_object_class_install_property(
        object_class, PROP_CAMERA,
        g_param_spec_int("camera", "Camera",
                         "Device index of the camera (0..31), -1 for the first one present; "
                         "set only while the element is stopped (NULL or READY)",
                         -1, 31, -1, rw | GST_PARAM_MUTABLE_READY));
    g_object_class_install_property(
        object_class, PROP_EXPOSURE,
        g_param_spec_uint("exposure", "Exposure",
                          "Exposure time [us], 100..2000099 (whole 100 us steps); 0 keeps the "
                          "camera's stored exposure",
                          0, kExposureMaxUs, 0, rw | GST_PARAM_MUTABLE_PLAYING));
    g_object_class_install_property(
        object_class, PROP_GAIN,
        g_param_spec_int("gain", "Gain",
                         "Analog gain (0..480, 0.1 dB steps); -1 keeps the camera's stored gain",
                         -1, kGainMax, -1, rw | GST_PARAM_MUTABLE_PLAYING));
    g_object_class_install_property(
        object_class, PROP_SUBSAMPLE,
        g_param_spec_boolean("subsample", "Sub-sample",
                             "2x2 sub-sampling: a picture of half the capture window in each "
                             "direction; set only while the element is stopped (NULL or READY)",
                             FALSE, rw | GST_PARAM_MUTABLE_READY));
    g_object_class_install_property(
        object_class, PROP_WINDOW,
        g_param_spec_string("window", "Capture window",
                            "Part of the 2048x1536 sensor read out, \"X,Y,W,H\" [pixels] (full "
                            "resolution: X, Y even, W a multiple of 16, H of 4; sub-sampled: X, Y "
                            "multiples of 4, W of 32, H of 8); empty keeps the stored window; set "
                            "only while the element is stopped (NULL or READY)",
                            NULL, rw | GST_PARAM_MUTABLE_READY));
    g_object_class_install_property(
        object_class, PROP_MIRROR,
        g_param_spec_enum("mirror", "Mirror",
                          "Mirroring done in the camera; set only while the element is stopped "
                          "(NULL or READY)",
                          GST_TYPE_QUORIX_MIRROR, GST_QUORIX_MIRROR_NONE,
                          rw | GST_PARAM_MUTABLE_READY));
    g_object_class_install_property(
        object_class, PROP_LOST_FRAMES,
        g_param_spec_uint64("lost-frames", "Lost frames",
                            "Frames the camera made since the first one sent that never reached "
                            "a buffer",
                            0, G_MAXUINT64, 0, G_PARAM_READABLE | G_PARAM_STATIC_STRINGS));
    g_object_class_install_property(
        object_class, PROP_LATE_FRAMES,
        g_param_spec_uint64("late-frames", "Late frames",
                            "Of the lost frames, those the camera delivered while downstream was "
                            "still busy with earlier buffers (the others were lost on the way "
                            "from the camera)",
                            0, G_MAXUINT64, 0, G_PARAM_READABLE | G_PARAM_STATIC_STRINGS));

    gst_element_class_set_static_metadata(
        element_class, "Quorix camera source", "Source/Video/Hardware",
        "Live frames of a Quorix 252 USB 3.0 camera", "Quorix SDK");
    gst_element_class_add_static_pad_template(element_class, &src_template);

    base_class->start = gst_quorix_src_start;
    base_class->stop = gst_quorix_src_stop;
    base_class->get_caps = gst_quorix_src_get_caps;
    base_class->negotiate = gst_quorix_src_negotiate;
    base_class->decide_allocation = gst_quorix_src_decide_allocation;
    base_class->query = gst_quorix_src_query;
    base_class->unlock = gst_quorix_src_unlock;
    base_class->unlock_stop = gst_quorix_src_unlock_stop;
    push_class->create = gst_quorix_src_create;

    GST_DEBUG_CATEGORY_INIT(gst_quorix_src_debug, "quorixsrc", 0, "Quorix camera source");
    gst_type_mark_as_plugin_api(GST_TYPE_QUORIX_MIRROR, 0);
}
