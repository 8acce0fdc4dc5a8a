/* The GStreamer plugin "quorix": the camera source quorixsrc. */
#include <gst/gst.h>

#include "gstquorixsrc.h"

static gboolean plugin_init(GstPlugin* plugin) {
    return gst_element_register(plugin, "quorixsrc", GST_RANK_NONE, GST_TYPE_QUORIX_SRC);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, quorix,
                  "Live frames of Quorix 252 USB 3.0 cameras", plugin_init, QUORIX_VERSION,
                  "Proprietary", "Quorix SDK", "https://quorix.invalid/")
