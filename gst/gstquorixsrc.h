/* quorixsrc: a live GStreamer source of a Quorix 252 camera, over the SDK's public C API. */
#pragma once

#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>

#include <quorix/quorix.h>

G_BEGIN_DECLS

#define GST_TYPE_QUORIX_SRC (gst_quorix_src_get_type())
G_DECLARE_FINAL_TYPE(GstQuorixSrc, gst_quorix_src, GST, QUORIX_SRC, GstPushSrc)

/* The camera's mirroring, as the property "mirror" sets it. */
typedef enum {
    GST_QUORIX_MIRROR_NONE = 0,
    GST_QUORIX_MIRROR_HORIZONTAL = 1,
    GST_QUORIX_MIRROR_VERTICAL = 2,
    GST_QUORIX_MIRROR_BOTH = 3,
} GstQuorixMirror;

#define GST_TYPE_QUORIX_MIRROR (gst_quorix_mirror_get_type())
GType gst_quorix_mirror_get_type(void);

G_END_DECLS
