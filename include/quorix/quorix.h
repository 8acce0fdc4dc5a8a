/*
 * quorix.h - public C interface of the Quorix SDK for the Quorix 252 USB 3.0 camera
 * (IMX252 sensor, 2048 x 1536).
 *
 * Usage in short: Quorix_Initialize() gives a handle for one camera context; every other call
 * takes that handle; Quorix_Release() gives it back. A call on an unknown handle (never issued,
 * already released, or 0) does nothing and returns its "no-context" result: 0 for most
 * functions, -1 for Quorix_GetColorMode, Quorix_GetSubSample and Quorix_GetWaitTime, and 0.0 for
 * the two functions that return a double. Nothing is recorded for an unknown handle.
 *
 * Errors. With a valid handle, a failing call records an error code (QUORIX_ERR_*) in the
 * context's error history (20 entries, newest first) and posts QUORIX_MSG_ERROR with the code in
 * lParam to the notification window given to Quorix_Initialize. Quorix_GetLastError() pops the
 * newest code. Some failures are "posted only": the code is posted but not kept in the history;
 * when no notification window was given, such posts go to the calling thread's own message queue
 * (read it with Quorix_GetThreadMessage / Quorix_PeekThreadMessage).
 *
 * Results are 1 for success and 0 for failure unless a function says otherwise. Integers are
 * 32-bit. Text arguments are zero-terminated; ANSI texts use the locale's character set, the
 * functions ending in W take UTF-16 and convert it. A UTF-16 file name becomes UTF-8, the encoding
 * of Linux file names, whatever the locale (also in a program that never called setlocale); it
 * is refused with code 12 when it holds an unpaired surrogate or its UTF-8 form and terminator
 * need more than 1023 bytes, never shortened. Other UTF-16 texts (device names, serial numbers)
 * are converted with the locale's character set.
 *
 * Threads: any thread may call any function, also on the same handle. Quorix_Release waits for
 * the calls already running on its handle to finish; calls that start once it has begun answer as
 * for an unknown handle.
 */
#ifndef QUORIX_QUORIX_H
#define QUORIX_QUORIX_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
typedef char16_t QuorixWChar; /* one UTF-16 code unit */
#else
#include <uchar.h>
typedef char16_t QuorixWChar; /* one UTF-16 code unit */
#endif

#if defined(QUORIX_BUILDING_LIBRARY)
#define QUORIX_API __attribute__((visibility("default")))
#else
#define QUORIX_API
#endif

/* ---------------------------------------------------------------------------------------------
 * Basic types
 * ------------------------------------------------------------------------------------------- */

/* Names one camera context. 0 is never a valid handle. */
typedef uint32_t QuorixHandle;

/* A window: a message window made with Quorix_CreateMessageWindow, which receives posted
 * messages, or an X11 window of the application wrapped with Quorix_WrapX11Window, which serves
 * as the parent of a preview window and receives no messages. NULL means "no window"; a post to
 * NULL goes to the posting thread's own queue. */
typedef struct QuorixWindowTag* QuorixWindow;

/* One posted message. */
typedef struct QuorixMessage {
    QuorixWindow window; /* the window it was posted to, NULL for a thread-queue message */
    uint32_t message;    /* QUORIX_MSG_FRAME, QUORIX_MSG_ERROR, ... */
    uint32_t reserved;   /* 0 */
    uintptr_t wParam;
    intptr_t lParam;
} QuorixMessage;

/* ---------------------------------------------------------------------------------------------
 * Constants
 * ------------------------------------------------------------------------------------------- */

/* Version of the library as returned by Quorix_GetDllVersion: 2.11.5.33. */
#define QUORIX_DLL_VERSION 0x020B0521u

/* Messages posted by a camera context (application range base 0x8000 plus an offset). */
#define QUORIX_MSG_APP 0x8000u
/* A frame arrived: wParam = address of the QuorixFrameInfo record, lParam = 0; or, without a
 * frame, wParam = 0 and lParam = error code 5, 8 or 13. */
#define QUORIX_MSG_FRAME 0x8002u
/* An error was recorded or posted: wParam = 0, lParam = the error code. */
#define QUORIX_MSG_ERROR 0x8003u
/* A person closed the preview window (the window manager's close), it was destroyed from outside
 * (with its parent), or its display went away: the window is gone and the preview has stopped as
 * Quorix_StopPreview stops it. Posted to the notification window given to
 * Quorix_Initialize and to the callback window of Quorix_CallBackPreview; wParam = 0, lParam = 0.
 * No error code is recorded. */
#define QUORIX_MSG_PREVIEW_CLOSED 0x8004u

/* A camera of this model arrived or was removed: posted to every notification window given to
 * Quorix_Initialize (an application that gave none gets no such message), from a thread of the
 * library that watches the USB buses (libusb's hot-plug events; see "Real cameras" below).
 * wParam = QUORIX_DEVICE_ARRIVAL or QUORIX_DEVICE_REMOVE_COMPLETE; lParam = address of a
 * QuorixDeviceInterface record naming the camera's device path. The record belongs to the library
 * and stays valid and unchanged for the life of the process. A camera keeps its path while it
 * stays on the same USB port, so a replugged camera arrives under the path it was removed with. */
#define QUORIX_MSG_DEVICE_CHANGE 0x0219u
#define QUORIX_DEVICE_ARRIVAL 0x8000u
#define QUORIX_DEVICE_REMOVE_COMPLETE 0x8004u
#define QUORIX_DEVICE_TYPE_INTERFACE 5u

/* Error codes (Quorix_GetLastError, lParam of QUORIX_MSG_ERROR). */
#define QUORIX_ERR_NONE 0u           /* success marker recorded by a few queries */
#define QUORIX_ERR_NO_ENGINE 1u      /* no camera engine, or not allowed in this state */
#define QUORIX_ERR_NO_CAMERA 2u      /* camera not present or could not be opened */
#define QUORIX_ERR_THREAD 3u         /* a thread or its event could not be created */
#define QUORIX_ERR_WINDOW 4u         /* preview window failed, or no matching size preset */
#define QUORIX_ERR_BUFFER 5u         /* allocation failed, caller buffer or record too small */
#define QUORIX_ERR_REGISTER 6u       /* register access or an engine command failed */
#define QUORIX_ERR_CAPTURE_WINDOW 7u /* invalid capture window */
#define QUORIX_ERR_ACQUISITION 8u    /* frame acquisition failed */
#define QUORIX_ERR_ARGUMENT 9u       /* invalid argument */
#define QUORIX_ERR_RESERVED10 10u    /* not used */
#define QUORIX_ERR_UNSUPPORTED 11u   /* not supported by this camera */
#define QUORIX_ERR_TEXT 12u          /* text conversion / output buffer; file; recording; mask */
#define QUORIX_ERR_TRANSFER_STOPPED 13u /* image transfer stopped while previewing */
#define QUORIX_ERR_MASK_FILE 14u        /* mask file could not be read or written */

/* Image file formats of Quorix_SaveImage. */
#define QUORIX_SAVE_BMP 0
#define QUORIX_SAVE_RAW 1
#define QUORIX_SAVE_JPEG_HIGH 2   /* quality 100 */
#define QUORIX_SAVE_JPEG_MEDIUM 3 /* quality 70 */
#define QUORIX_SAVE_JPEG_LOW 4    /* quality 20 */
#define QUORIX_SAVE_PNG 5
#define QUORIX_SAVE_TIFF 6

/* Value IDs of Quorix_GetFilterValue / Quorix_SetFilterValue. */
#define QUORIX_VALUE_BRIGHTNESS 1
#define QUORIX_VALUE_CONTRAST 2
#define QUORIX_VALUE_HUE 3
#define QUORIX_VALUE_SATURATION 4
#define QUORIX_VALUE_SHARPNESS 5
#define QUORIX_VALUE_BAYER_GAIN_RGB 6
#define QUORIX_VALUE_BAYER_GAIN_RED 7
#define QUORIX_VALUE_BAYER_GAIN_GREEN 8
#define QUORIX_VALUE_BAYER_GAIN_BLUE 9
#define QUORIX_VALUE_BAYER_GAIN_AUTO 10
#define QUORIX_VALUE_GAMMA 11
#define QUORIX_VALUE_BAYER_MODE 12
#define QUORIX_VALUE_GLOBAL_GAIN 13
#define QUORIX_VALUE_COLOR_GAIN_RED 14
#define QUORIX_VALUE_COLOR_GAIN_GREEN1 15
#define QUORIX_VALUE_COLOR_GAIN_GREEN2 16
#define QUORIX_VALUE_COLOR_GAIN_BLUE 17
#define QUORIX_VALUE_EXPOSURE_TIME 18
#define QUORIX_VALUE_GRAY_MODE 19
#define QUORIX_VALUE_GRAY_GAIN_R 20
#define QUORIX_VALUE_GRAY_GAIN_G1 21
#define QUORIX_VALUE_GRAY_GAIN_G2 22
#define QUORIX_VALUE_GRAY_GAIN_B 23
#define QUORIX_VALUE_GRAY_OFFSET_R 24
#define QUORIX_VALUE_GRAY_OFFSET_G1 25
#define QUORIX_VALUE_GRAY_OFFSET_G2 26
#define QUORIX_VALUE_GRAY_OFFSET_B 27
#define QUORIX_VALUE_GRAY_GAIN_AUTO_ONCE 28
#define QUORIX_VALUE_CHANNEL_GAIN_BASE 28   /* channel n (1-4) is 28 + n */
#define QUORIX_VALUE_CHANNEL_OFFSET_BASE 32 /* channel n (1-4) is 32 + n */
#define QUORIX_VALUE_PELTIER 100
#define QUORIX_VALUE_TEMPERATURE 101
#define QUORIX_VALUE_DOT_FILTER 102
#define QUORIX_VALUE_MASK_FILTER 103
#define QUORIX_VALUE_GAIN_MODE 104
#define QUORIX_VALUE_SHORT_EXPOSURE_MODE 105
#define QUORIX_VALUE_BLACK_LEVEL 106

/* ---------------------------------------------------------------------------------------------
 * Records (little-endian, laid out exactly as below)
 * ------------------------------------------------------------------------------------------- */

/* Camera info record filled by Quorix_GetCameraInfo. The caller sets `size` first: at least 36;
 * 56 or more also fills the two floating-point fields. */
typedef struct QuorixCameraInfo {
    uint32_t size;        /* record size in bytes, set by the caller */
    uint32_t maxWidth;    /* 2048 */
    uint32_t maxHeight;   /* 1536 */
    int32_t gainMin;      /* global gain minimum */
    int32_t gainMax;      /* global gain maximum */
    int32_t colorGainMin; /* colour gain minimum */
    int32_t colorGainMax; /* colour gain maximum */
    int32_t exposureMin;  /* exposure minimum [100 us] */
    int32_t exposureMax;  /* exposure maximum [100 us] */
    uint32_t reserved;    /* alignment; never written */
    double exposureExMin; /* exposure minimum [s] */
    double exposureExMax; /* exposure maximum [s] */
} QuorixCameraInfo;

/* Frame info record: the wParam of every QUORIX_MSG_FRAME that carries a frame. It lives in the
 * camera context and is overwritten by the next frame. */
typedef struct QuorixFrameInfo {
    uint32_t zero;         /* always 0 */
    uint32_t width;        /* output width [pixels] */
    uint32_t height;       /* output height [pixels] */
    uint32_t bitsPerPixel; /* 8, 16, 24, 32, 48 or 64 */
    uint32_t frameRate;    /* frames per second x 10 */
    uint32_t padding;
    uint64_t callbackBuffer; /* address of the callback buffer, 0 when none */
} QuorixFrameInfo;

/* Device-change record: the lParam of QUORIX_MSG_DEVICE_CHANGE. */
typedef struct QuorixDeviceInterface {
    uint32_t size;       /* bytes up to and including the name's terminating zero */
    uint32_t deviceType; /* QUORIX_DEVICE_TYPE_INTERFACE */
    uint32_t reserved;   /* 0 */
    uint32_t classData1; /* the interface class {5D1B7C2E-4A90-4F6B-8E13-9C07A2F4D6B1}: */
    uint16_t classData2; /*   data1-data2-data3-data4[0..1]-data4[2..7] */
    uint16_t classData3;
    uint8_t classData4[8];
    char name[256]; /* the device path, zero-terminated; for a camera on the USB buses
                       \\?\usb#vid_04b4&pid_31c0#<bus>-<port path>#{5d1b7c2e-...}, e.g.
                       port path 1.4 for port 4 of a hub on port 1 of bus 2: "2-1.4" */
} QuorixDeviceInterface;

/* Frame statistics of Quorix_GetFrameStatistics: what became of the frames of the current (or
 * last) acquisition, counted from its start. Every frame whose header came from the camera is
 * received, and ends as exactly one of delivered, overtaken, failed or (while acquisition runs)
 * pending: once acquisition has stopped, framesReceived = framesDelivered + framesOvertaken +
 * framesFailed, and framesFailed is the sum of the five causes. The caller sets `size` first. */
typedef struct QuorixFrameStatistics {
    uint32_t size;             /* record size in bytes, set by the caller: at least 104 */
    uint32_t version;          /* written by the library: QUORIX_FRAME_STATISTICS_VERSION */
    uint64_t framesReceived;   /* frames whose header came from the camera */
    uint64_t framesDelivered;  /* frames handed to the application (preview: processed, copied
                                  and notified; snapshot: returned) */
    uint64_t framesOvertaken;  /* newest-frame delivery: frames a newer one replaced before the
                                  preview took them */
    uint64_t framesFailed;     /* the sum of the five failedXxx causes below */
    uint64_t failedTransfer;   /* the frame's data did not arrive whole */
    uint64_t failedFrame;      /* the frame did not fit the prepared images and was not copied */
    uint64_t failedBuffer;     /* the caller's buffer was too small (code 5) */
    uint64_t failedRingFull;   /* every-frame delivery: the frame came while every ring slot still
                                  held a frame to be delivered, and was dropped */
    uint64_t failedStopped;    /* acquisition stopped before the frame was delivered */
    uint64_t framesPending;    /* received and waiting to be delivered (while acquisition runs) */
    uint64_t framesSkipped;    /* preview: frames the camera numbered that never arrived, because
                                  the library did not ask for them in time (not received); those
                                  the camera makes while a stop is under way are not counted */
    int64_t newestFrameNumber; /* the camera's frame number of the newest frame received; -1
                                  before the first */
} QuorixFrameStatistics;

/* States and end reasons of a recording (QuorixRecordStatus). */
#define QUORIX_RECORD_IDLE 0     /* no recording since the context was made */
#define QUORIX_RECORD_RUNNING 1  /* frames are being written */
#define QUORIX_RECORD_FINISHED 2 /* the file is complete and closed */

#define QUORIX_RECORD_END_NONE 0            /* still running, or none yet */
#define QUORIX_RECORD_END_DURATION 1        /* the duration passed */
#define QUORIX_RECORD_END_STOPPED 2         /* Quorix_StopPreview, _Close, _Release, _Record */
#define QUORIX_RECORD_END_ACQUISITION 3     /* the frames ended: camera gone or stopped sending */
#define QUORIX_RECORD_END_WRITE_FAILED 4    /* the file takes no more: disk full, I/O error */
#define QUORIX_RECORD_END_SIZE_LIMIT 5      /* the next frame would pass the AVI's 4 GiB */
#define QUORIX_RECORD_END_PICTURE_CHANGED 6 /* the capture window or sub-sampling changed */

/* Version of the QuorixRecordStatus record this library fills. */
#define QUORIX_RECORD_STATUS_VERSION 1u

/* State of the current or last recording (Quorix_GetRecordStatus). The caller sets `size` first;
 * while recording, framesWritten + framesDropped are the frames the preview processed since the
 * first one. */
typedef struct QuorixRecordStatus {
    uint32_t size;          /* record size in bytes, set by the caller: at least 56 */
    uint32_t version;       /* written by the library: QUORIX_RECORD_STATUS_VERSION */
    uint32_t state;         /* QUORIX_RECORD_IDLE, _RUNNING or _FINISHED */
    uint32_t endReason;     /* QUORIX_RECORD_END_* */
    uint64_t framesWritten; /* frames in the file */
    uint64_t framesDropped; /* frames processed while recording that are not in the file: the
                               file was still busy, or it could take no more */
    uint64_t fileBytes;     /* length of the file so far; once finished, its final length */
    uint32_t width;         /* frame size in the file [pixels] */
    uint32_t height;
    uint32_t rate;      /* frames per second x 100, measured over the frames written (the
                           rate in the finished file); 0 before two frames */
    uint32_t elapsedMs; /* from the first frame written to the newest [ms] */
} QuorixRecordStatus;

/* Which frame Quorix_GetImageEx copied. The caller sets `size` first. */
typedef struct QuorixImageInfo {
    uint32_t size;        /* record size in bytes, set by the caller: at least 48 */
    uint32_t version;     /* written by the library: QUORIX_IMAGE_INFO_VERSION */
    uint64_t frameIndex;  /* the frame's place among the frames the library took from the camera
                             since acquisition was last prepared, from 1: frames between two
                             copies that the caller never saw make a gap */
    int64_t frameNumber;  /* the camera's number of the frame (from its header; it counts on past
                             2^31 only as far as the camera does): a gap is frames lost anywhere,
                             in the camera, on the wire, in the library or by the caller */
    uint64_t timestampUs; /* when the library took the frame from the camera's ring, on the
                             system's monotonic clock (CLOCK_MONOTONIC) [us] */
    uint32_t width;       /* the image copied [pixels] */
    uint32_t height;
    uint32_t bitsPerPixel;
    uint32_t reserved; /* 0 */
} QuorixImageInfo;

#ifdef __cplusplus
#define QUORIX_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define QUORIX_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
QUORIX_STATIC_ASSERT(sizeof(QuorixCameraInfo) == 56, "camera info record is 56 bytes");
QUORIX_STATIC_ASSERT(offsetof(QuorixCameraInfo, exposureMax) == 32, "exposure maximum at 32");
QUORIX_STATIC_ASSERT(offsetof(QuorixCameraInfo, exposureExMin) == 40, "real exposure min at 40");
QUORIX_STATIC_ASSERT(offsetof(QuorixCameraInfo, exposureExMax) == 48, "real exposure max at 48");
QUORIX_STATIC_ASSERT(sizeof(QuorixFrameInfo) == 32, "frame info record is 32 bytes");
QUORIX_STATIC_ASSERT(offsetof(QuorixFrameInfo, frameRate) == 16, "frame rate at 16");
QUORIX_STATIC_ASSERT(offsetof(QuorixFrameInfo, callbackBuffer) == 24, "buffer address at 24");
QUORIX_STATIC_ASSERT(sizeof(QuorixMessage) == 32, "message record is 32 bytes");
QUORIX_STATIC_ASSERT(sizeof(QuorixFrameStatistics) == 104, "frame statistics record is 104 bytes");
QUORIX_STATIC_ASSERT(offsetof(QuorixFrameStatistics, framesReceived) == 8, "received at 8");
QUORIX_STATIC_ASSERT(offsetof(QuorixFrameStatistics, newestFrameNumber) == 96, "newest at 96");
QUORIX_STATIC_ASSERT(sizeof(QuorixRecordStatus) == 56, "record status is 56 bytes");
QUORIX_STATIC_ASSERT(sizeof(QuorixDeviceInterface) == 284, "device record is 284 bytes");
QUORIX_STATIC_ASSERT(offsetof(QuorixDeviceInterface, name) == 28, "device path at 28");
QUORIX_STATIC_ASSERT(sizeof(QuorixImageInfo) == 48, "image info record is 48 bytes");
QUORIX_STATIC_ASSERT(offsetof(QuorixImageInfo, timestampUs) == 24, "time stamp at 24");
QUORIX_STATIC_ASSERT(offsetof(QuorixRecordStatus, fileBytes) == 32, "file bytes at 32");

/* =============================================================================================
 * Library and handles
 * ============================================================================================= */

/* Returns the version of this library: QUORIX_DLL_VERSION (0x020B0521 = 2.11.5.33, one byte per
 * part, major first). Takes no handle and cannot fail. */
QUORIX_API uint32_t Quorix_GetDllVersion(void);

/* Creates a camera context and returns its handle. When exactly one camera is attached it is
 * opened at once, whatever its device index; otherwise choose one with Quorix_SetDeviceNumber.
 * The capture window comes from the stored size preset of the settings store's key for no camera
 * (Camera_-1, written with defaults on first use). The format settings (colour mode, sub-sampling,
 * preview pause) and the gain, exposure, mirroring and filters come from the opened camera's own
 * key (Camera_00 for device number 0, see "Settings store"); the first-use defaults written under
 * Camera_-1 (24-bit colour) are used only while no camera is open: a camera whose key holds no
 * format settings (only the format dialog writes them) starts with 8-bit output (the raw mosaic)
 * at full resolution, so set the colour mode the application needs.
 * Opening waits for the camera to report ready, as its start-up requires: a camera that never
 * does holds the call for about 200 s (400 polls, 500 ms apart) before it is given up.
 * notifyWindow: receives QUORIX_MSG_ERROR for every recorded error; NULL for none (posted-only
 *   codes then go to the queue of the thread whose call failed).
 * Returns the new handle, or 0 (no code) only when no context could be created at all. The handle
 * is returned even when setting the context up failed partway (an allocation failure records
 * code 5; a context left without camera engine fails camera calls with code 1). Give it back
 * with Quorix_Release. */
QUORIX_API QuorixHandle Quorix_Initialize(QuorixWindow notifyWindow);

/* Saves the current camera's gain, exposure and filter settings, ends preview, recording and
 * capture, closes the camera and destroys the context; the handle is invalid afterwards. Calls on
 * the same handle running on other threads finish first (this call waits for them, as long as
 * their own time-outs allow); calls starting meanwhile or later answer as for an unknown handle.
 * Settings that cannot be saved (a read-only settings directory, for instance) are reported by a
 * line on stderr naming the file and the system's reason; the context is destroyed all the same.
 * Returns 1, or 0 (no code) for an unknown handle or one already being released. */
QUORIX_API int Quorix_Release(QuorixHandle handle);

/* Pops the newest code from the context's error history (20 entries, newest first): repeated calls
 * return older codes, then 0 once the history is empty. A few queries record 0 as a success
 * marker, so a 0 may also be such an entry.
 * Returns a QUORIX_ERR_* code; 0 when the history is empty or the handle is unknown. */
QUORIX_API uint32_t Quorix_GetLastError(QuorixHandle handle);

/* =============================================================================================
 * Devices and camera
 * A camera is named by its device index: "Quorix252DIV-USB3-R5_NN" (23 characters), NN the
 * index + 1 in two digits. Device indices are 0-based, 0..31, and shared by every process of the
 * machine: a camera keeps its index while it stays plugged in. An unplugged camera's index is
 * freed once no application holds it open; until then a camera plugged in again (or a new one)
 * takes another index, so the indices of present cameras may have gaps.
 * ============================================================================================= */

/* Lists the attached cameras of this model in device-index order: entry k receives the name of
 * the k-th present camera, whose NN is its device index + 1 (the index Quorix_SetDeviceNumber
 * opens it with); the remaining entries become empty texts. At most 10 cameras are listed.
 * names: 10 entries of 256 bytes each.
 * Returns the number of names written (0 when none is attached), or 0 with code 1 when the context
 * has no camera engine. */
QUORIX_API int32_t Quorix_EnumDevice(QuorixHandle handle, char names[10][256]);

/* As Quorix_EnumDevice, with UTF-16 names.
 * names: 10 entries of 256 UTF-16 units each.
 * Returns the number of names written, or 0 with code 1 (no camera engine). */
QUORIX_API int32_t Quorix_EnumDeviceW(QuorixHandle handle, QuorixWChar names[10][256]);

/* Writes the name of the camera at a device index (NN = index + 1).
 * index: device index 0..31. buffer: receives the zero-terminated name.
 * bufferSize: size of buffer [bytes], at least 24.
 * Returns 1, or 0 with code 1 (no camera engine), 9 (bufferSize below 24) or 2 (index outside
 * 0..31, or no camera present at that index). */
QUORIX_API int Quorix_GetDeviceName(QuorixHandle handle, int32_t index, char* buffer,
                                    int32_t bufferSize);

/* As Quorix_GetDeviceName, with a UTF-16 name.
 * bufferSize: size of buffer [UTF-16 units], at least 24 (23 characters and the terminator).
 * Returns 1, or 0 with code 1 (no camera engine), 2 (no camera at index) or 12 (the name does
 * not fit in bufferSize units or could not be converted). */
QUORIX_API int Quorix_GetDeviceNameW(QuorixHandle handle, int32_t index, QuorixWChar* buffer,
                                     int32_t bufferSize);

/* Opens the camera at a device index and makes it the context's camera. The gain, exposure and
 * filter settings of the camera open so far are saved, those stored for the new one are loaded
 * and sent to it. Selecting the camera that is already open returns 1 without reopening it.
 * Switching to another camera first ends a running preview, recording or capture state, as
 * Quorix_StopPreview does: a preview's callback window receives QUORIX_MSG_FRAME with wParam 0
 * and lParam 13 (no code is recorded for it), and the context is idle afterwards, so the next
 * Quorix_SnapShot or preview start takes frames from the new camera. An index without a camera
 * leaves a running acquisition alone.
 * Opening waits for the camera to report ready, as its start-up requires: up to about 200 s for
 * a camera that never does (see Quorix_Initialize).
 * index: device index 0..31 (see Quorix_GetDeviceName).
 * Returns 1, or 0 with code 1 (no camera engine) or 2 (no camera at index, or it could not be
 * opened). When the previous camera's settings cannot be saved, code 12 is recorded (and a line
 * on stderr names the file and the system's reason) and the selection goes on: the result then
 * tells only whether the new camera opened. */
QUORIX_API int Quorix_SetDeviceNumber(QuorixHandle handle, int32_t index);

/* Destroys the preview window (and the library's connection to the display it was on), then ends
 * preview, recording and the capture state; the camera stays open and the handle valid.
 * Afterwards Quorix_SaveImage needs a new frame. Quorix_Release does the same.
 * Returns 1. */
QUORIX_API int Quorix_Close(QuorixHandle handle);

/* Reserved. Returns 0. */
QUORIX_API int Quorix_GetStatus(QuorixHandle handle);

/* Fills a camera info record: maximum image size and the ranges of gain and exposure (0 while no
 * camera is open). Quorix 252: gain 0..480, colour gains 0..0, exposure 1..20000 [100 us],
 * exposure in seconds 0.0..0.0 (not supported).
 * info: the caller's record; set info->size first: 36 or more fills bytes 4-35, 56 or more also
 *   the two limits in seconds (bytes 40-55). info->size itself, the reserved bytes 36-39 and
 *   anything beyond what info->size allows are never written, so a 40-byte record is fine.
 * Returns 1, or 0 with code 9 (info NULL), 5 (info->size below 36) or 1 (no camera engine). */
QUORIX_API int Quorix_GetCameraInfo(QuorixHandle handle, QuorixCameraInfo* info);

/* =============================================================================================
 * Acquisition, window, format and files
 *
 * Images. The output image is the capture window (Quorix_Width x Quorix_Height) divided by 2 in
 * each direction with sub-sample 1. Every row is padded to a multiple of 4 bytes:
 * stride = (width * bitsPerPixel / 8 + 3) & ~3, and a caller buffer needs height * stride bytes
 * (2048 x 1536 at 24 bits: 9,437,184). Pixels: 8 bits one sample; 16 bits one little-endian
 * full-scale sample; 24 bits B, G, R; 32 bits B, G, R, unused; 48 and 64 bits the same with 16-bit
 * words. The orientation flag selects the row order of a copy: 0 bottom-up (the picture's bottom
 * row first, bitmap order), any other value top-down.
 *
 * States. Idle; preview (continuous frames processed on the library's thread: Quorix_Preview,
 * Quorix_CallBackPreview, Quorix_StartPreview, Quorix_Record); capture (Quorix_Capture: prepared
 * for fast snapshots). Quorix_StopPreview and Quorix_Close return to idle.
 *
 * Live changes. Colour mode, sub-sample and capture window changed while a preview or the capture
 * state runs apply from the next frame on: the library re-prepares its buffers and the camera
 * between two frames, so Quorix_Width/Height, every later frame, its QuorixFrameInfo and the
 * next snapshot all have the new shape (a buffer sized from them fits). The frame in progress
 * when the change comes is not delivered. If the camera cannot take the change, acquisition ends
 * (the context is idle): the setter returns 0 with the code (2, 5, 6, 7 or 3) and a preview's
 * callback window receives QUORIX_MSG_FRAME with wParam 0 and that code as lParam.
 *
 * A preview that stops delivering tells its callback window: QUORIX_MSG_FRAME with wParam 0 and
 * lParam 13 (transfer stopped: the camera was unplugged, stopped sending, or another camera was
 * selected) or 8 (the camera sent a frame of another size than it was programmed for); the code
 * is recorded too, except for a camera switch.
 *
 * Starting from idle. Quorix_SnapShot, Quorix_Capture and the preview calls first send the camera
 * all its settings (window, data width, mirroring, trigger mode, gain, exposure). The camera
 * takes a setting only while its sensor bus is free; when the bus stays busy for 1000 ms (a
 * camera that is not ready, a fault on the camera board) the settings still to be sent are
 * given up at once and the start fails with code 6: a start never succeeds with settings the
 * camera did not take. A start that cannot send its settings therefore returns after about one
 * second; Quorix_SnapShot then waits at most 3000 ms for its frame.
 *
 * Saving files (Quorix_SaveImage, Quorix_SaveMaskFile, Quorix_Record and Quorix_ExportSettings).
 * A name that is a symbolic link is followed: the link stays and the file it names gets the
 * content (a link to no file yet creates that file). A regular file, or none, in a folder the
 * process may write into: the content goes to a new file of a short temporary name
 * (.quorix-<pid>-<n>.tmp) in the folder of the final file, is flushed to the disk and renamed
 * over the name (the folder is flushed after), so the name always holds the earlier file or the
 * whole new one, never a torn one; a failed save removes the temporary file. Any name valid for
 * the file works, up to the system's path length. A replaced file keeps its permission bits and,
 * where the process may set them (root), its owner and group. A regular file the process may not
 * write (e.g. mode 0444) is not replaced: the save fails. A writable file in a folder that takes
 * no new file is truncated and rewritten in place: the one save that is not atomic (a failure
 * part-way leaves a partial file). A character or block device (e.g. /dev/null) is written in
 * place and never removed. A FIFO or socket is refused (the save fails with the function's file
 * code) rather than waited on for a reader. A directory is refused. A recording puts its file
 * under the name as soon as its headers are written (an earlier file of that name is replaced
 * then, not before: a recording that cannot start leaves it as it was), so a recording cut short
 * by the process ending is found under the name asked for.
 *
 * Reading files (Quorix_LoadMaskFile, Quorix_LoadConfigFileA, Quorix_ImportSettings and the
 * settings file). Only a regular file (or a link to one) is read; a FIFO, device, socket or
 * directory is refused as a file that cannot be read, without ever waiting on it.
 * ============================================================================================= */

/* Starts the live preview: frames are taken continuously, processed and drawn into a preview
 * window placed as set with Quorix_SetPreviewWindow (by default a top-level window the size of
 * the frame). No frames are delivered to the application (see Quorix_CallBackPreview).
 *
 * The preview window. The library opens a connection of its own to the X display named by
 * DISPLAY and makes the window there, of the class "VideoRenderer_<context>_<start>" (its
 * WM_CLASS; every context and window has its own): a child titled "ActiveMovie Window" inside
 * the parent at the placement's position and size, or a top-level window titled "Active Window"
 * whose client area is exactly the frame (Quorix_Width x Quorix_Height, halved with sub-sample 1)
 * and which is centred on the screen. A child of 0 x 0 exists but shows nothing. The library
 * runs no message loop for the application and paints nothing on its own: each processed frame
 * is drawn as it comes, by a drawing thread of the library, so a display slower than the camera
 * shows fewer frames while the application's frames and messages keep the camera's rate.
 * 8- and 16-bit frames show in gray (16 bits by their high byte), colour frames by the high
 * byte of each channel. When the window's client area is not the frame's size (or the frame is
 * 16-bit) the frame is scaled by nearest neighbour into the window: window row d of ch rows shows
 * frame row h - 1 - trunc((ch - 1 - d) * (h / ch)), window column j of cw shows frame column
 * trunc(j * (w / cw)), ratios in single precision; a window resized by the application or a
 * person is filled so from the next frame on.
 * Quorix_StopPreview leaves the window showing the last frame processed; a later preview start
 * with the same placement (and frame size, for a top-level window) shows its frames in the same
 * window, another placement replaces it. Quorix_Close and Quorix_Release destroy it. A person
 * closing the window (or the display going away) stops the preview as Quorix_StopPreview does
 * and posts QUORIX_MSG_PREVIEW_CLOSED. X errors and a broken connection on the library's own
 * connection are logged (QUORIX_LOG), never fatal: the library's X error and I/O error handlers
 * pass those of the application's own connections on to the handlers installed before them.
 *
 * Returns 1, or 0 with code 4 (the window could not be made: no DISPLAY, the display refused the
 * connection or the window, a parent that is not a wrapped X11 window) or 8 (acquisition did not
 * start; the cause is recorded before it, e.g. 2 no camera open, 7 invalid capture window, 6 the
 * camera did not take its settings; the window is closed again). */
QUORIX_API int Quorix_Preview(QuorixHandle handle);

/* Starts the live preview like Quorix_Preview and hands every processed frame to the application:
 * it is copied into buffer, then QUORIX_MSG_FRAME is posted to window with wParam = address of the
 * context's QuorixFrameInfo (valid until the next frame).
 * window: receives the frame messages; NULL for none. buffer: receives each frame, written by the
 *   library's thread until the preview stops; NULL (or bufferSize 0) for no copy.
 * bufferSize: size of buffer [bytes]. orientation: row order (0 bottom-up, other top-down).
 * Returns 1, or 0 with code 4 or 8 as Quorix_Preview. Per frame, a too small buffer records code 5
 * and posts QUORIX_MSG_FRAME with wParam 0, lParam 5; a stopped transfer ends the frames with
 * code 13 and a frame of the wrong size with code 8 (each also posted as lParam of
 * QUORIX_MSG_FRAME). A live window or format change moves the frames to the new size; size the
 * buffer for the largest picture, or start the preview again with a new buffer. */
QUORIX_API int Quorix_CallBackPreview(QuorixHandle handle, QuorixWindow window, void* buffer,
                                      uint32_t bufferSize, int32_t orientation);

/* Starts continuous acquisition (preview state) without making a window: frames are drawn into an
 * existing preview window and delivered as set by the last Quorix_CallBackPreview (nothing after
 * Quorix_Preview or Quorix_Record).
 * Returns 1 (also when the preview already runs), or 0 with code 1 (capture state, or no camera
 * engine), 2 (no camera open), 7 (invalid capture window), 5 (out of memory), 6 (the camera did
 * not take its settings, or did not start) or 3 (no worker thread). */
QUORIX_API int Quorix_StartPreview(QuorixHandle handle);

/* Ends the preview or capture state and any recording, and waits until the library's threads have
 * stopped. The preview window stays, showing the last frame (Quorix_Close removes it). May be
 * called from a handler of QUORIX_MSG_FRAME.
 * Returns 1, or 0 with code 1 (no camera engine). */
QUORIX_API int Quorix_StopPreview(QuorixHandle handle);

/* Enters the capture state: prepares the buffers and the camera once, so that the following
 * Quorix_SnapShot calls only wait for frames (the transfer keeps running between them). The
 * state ends with Quorix_StopPreview or Quorix_Close.
 * Returns 1 (also when already in the capture state), or 0 with code 1 (preview running, or no
 * camera engine), 2 (no camera open), 7 (invalid capture window), 5 (out of memory) or 6 (the
 * camera did not take its settings). */
QUORIX_API int Quorix_Capture(QuorixHandle handle);

/* Takes one frame, processes it and copies it into the caller's buffer. From the idle state each
 * call prepares the camera and starts and stops the transfer; in the capture state it only waits.
 * buffer: receives the image; NULL (or bufferSize 0) keeps the frame for Quorix_GetImage and
 *   Quorix_SaveImage only. bufferSize: [bytes], at least height * stride.
 * orientation: row order (0 bottom-up, other top-down).
 * Returns 1, or 0 with code 1 (preview running, or no camera engine), 2 (no camera open),
 * 7 (invalid capture window), 5 (buffer too small, or out of memory), 6 (from idle: the camera
 * did not take its settings, see "Starting from idle") or 8 (no frame within 3000 ms, or the
 * camera sent a frame of another size than it was programmed for, e.g. when its frame geometry
 * could not be written). */
QUORIX_API int Quorix_SnapShot(QuorixHandle handle, void* buffer, uint32_t bufferSize,
                               int32_t orientation);

/* Copies the last processed frame (of Quorix_SnapShot or the preview) again; no frame is taken.
 * The frame is the one processed since acquisition was last prepared (a snapshot from the idle
 * state, Quorix_Capture or a preview start), in the colour mode in force then; after
 * Quorix_SetColorMode to another mode there is no frame until the next acquisition.
 * buffer: receives the image, must not be NULL. bufferSize: [bytes], at least height * stride.
 * orientation: row order (0 bottom-up, other top-down).
 * Returns 1, or 0 with code 5 (no frame yet, buffer NULL or too small; a too small buffer records
 * 5 twice) or 1 (no camera engine). */
QUORIX_API int Quorix_GetImage(QuorixHandle handle, void* buffer, uint32_t bufferSize,
                               int32_t orientation);

/* Version of the QuorixImageInfo record this library fills. */
#define QUORIX_IMAGE_INFO_VERSION 1u

/* As Quorix_GetImage, and tells which frame it copied: the image and the record come from one
 * moment, so a preview that moves on meanwhile can neither change the copy nor make the record
 * name another frame. Applications that take frames while a preview runs (for example after each
 * QUORIX_MSG_FRAME, instead of reading a callback buffer the library may already be overwriting)
 * learn from it which frames they missed.
 * info: receives the record; its `size` must be set first, at least 48. The library writes the
 *   48 bytes of version 1 (leaving `size` and any bytes beyond them as they are); nothing is
 *   written when the call fails.
 * Returns 1, or 0 with code 9 (info NULL), 5 (size below 48, buffer NULL or too small, or no
 * frame yet) or 1 (no camera engine). */
QUORIX_API int Quorix_GetImageEx(QuorixHandle handle, void* buffer, uint32_t bufferSize,
                                 int32_t orientation, QuorixImageInfo* info);

/* Sets where the preview window appears; it is made when a preview starts (see Quorix_Preview).
 * parent: an X11 window wrapped with Quorix_WrapX11Window: the preview is a child of it at
 *   (left, top) of width x height [pixels]; NULL makes a top-level window the size of the frame,
 *   centred on the screen, unless all four numbers are 0: then no window is made and frames are
 *   only delivered.
 * Default: NULL, 0, 0, 2048, 1536. Returns 1, or 0 with code 1 (no camera engine). */
QUORIX_API int Quorix_SetPreviewWindow(QuorixHandle handle, QuorixWindow parent, int32_t left,
                                       int32_t top, int32_t width, int32_t height);

/* Selects the capture window by size: the first of the product-wide size presets in the settings
 * store whose width and height match. Only those presets are searched (the "Size_00".."Size_99"
 * keys directly under the product key), not the per-camera presets the format dialog keeps, and
 * nothing in the SDK writes them: an application or an imported settings file provides them.
 * Without them the call fails with code 4; Quorix_SetCaptureWindowEx sets a window directly.
 * width, height: [pixels].
 * Returns 1, or 0 with code 1 (no camera engine) or 4 (no settings stored, or no preset of that
 * size). A matching preset that is not a valid window records code 7 and selects the full sensor
 * instead; the result is then still 1. */
QUORIX_API int Quorix_SetCaptureWindow(QuorixHandle handle, int32_t width, int32_t height);

/* Sets the capture window, the part of the 2048 x 1536 sensor that is read out. While a preview
 * or the capture state runs, the new window applies from the next frame on (see "Live changes").
 * totalWidth, totalHeight: stored and reported only. hStart, vStart: top-left corner; width,
 *   height: size [pixels]. Valid when all are >= 0, hStart + width <= 2048,
 *   vStart + height <= 1536, and the window is on the sensor's steps for the sub-sample mode:
 *   sub-sample 0: hStart and vStart even, width a non-zero multiple of 16, height a non-zero
 *     multiple of 4 (e.g. 1024 x 768 at 256, 512);
 *   sub-sample 1: hStart and vStart multiples of 4, width a non-zero multiple of 32, height a
 *     non-zero multiple of 8 (the picture is exactly half the window).
 * Returns 1, or 0 with code 1 (no camera engine), 9 (the sensor's size is fixed; never on the
 * Quorix 252) or 7 (invalid window). An invalid window set while idle is stored anyway, so
 * acquisition fails with code 7 until a valid window is set; while acquisition runs it is not
 * stored and the acquisition keeps its window. A valid window the running acquisition cannot
 * take ends it with the code (see "Live changes"). */
QUORIX_API int Quorix_SetCaptureWindowEx(QuorixHandle handle, int32_t totalWidth, int32_t hStart,
                                         int32_t width, int32_t totalHeight, int32_t vStart,
                                         int32_t height);

/* Reads the stored capture window, in the order of Quorix_SetCaptureWindowEx [pixels]. Each
 * pointer may be NULL; the others are written. Returns 1. */
QUORIX_API int Quorix_GetCaptureWindowEx(QuorixHandle handle, int32_t* totalWidth, int32_t* hStart,
                                         int32_t* width, int32_t* totalHeight, int32_t* vStart,
                                         int32_t* height);

/* Returns the capture window's width [pixels] (2048 until changed; the image is half as wide
 * with sub-sample 1); 0 for an unknown handle. */
QUORIX_API int32_t Quorix_Width(QuorixHandle handle);

/* Returns the capture window's height [pixels] (1536 until changed; the image is half as high
 * with sub-sample 1); 0 for an unknown handle. */
QUORIX_API int32_t Quorix_Height(QuorixHandle handle);

/* Sets the output format by bits per pixel: 8 or 16 (one sample per pixel: the sensor's raw
 * mosaic, or gray, see QUORIX_VALUE_GRAY_MODE), 24 or 32 (demosaiced colour, 8 bits per channel),
 * 48 or 64 (16 bits per channel). Applies to running acquisition from the next frame on.
 * Returns 1, or 0 with code 9 (another value, or a format the camera cannot deliver), 1 (no
 * camera engine), or a code of "Live changes" when running acquisition could not take it (the
 * mode stays set). */
QUORIX_API int Quorix_SetColorMode(QuorixHandle handle, int32_t bitsPerPixel);

/* Returns the output bits per pixel: 8, 16, 24, 32, 48 or 64; -1 for an unknown handle. */
QUORIX_API int32_t Quorix_GetColorMode(QuorixHandle handle);

/* Selects 2x2 sub-sampling: 0 full resolution, 1 half (an image of half the capture window in
 * each direction, e.g. 1024 x 768). Applies to running acquisition from the next frame on.
 * Returns 1, or 0 (no code) for any other value. While acquisition runs, a capture window off
 * the other mode's steps (see Quorix_SetCaptureWindowEx) is refused with code 7 and the mode
 * stays; while idle such a window makes the next acquisition fail with 7. A code of "Live
 * changes" reports a running acquisition that could not take the change (the mode stays set). */
QUORIX_API int Quorix_SetSubSample(QuorixHandle handle, int32_t subSample);

/* Returns the stored sub-sample code (0 or 1; a code loaded from the settings may differ);
 * -1 for an unknown handle. */
QUORIX_API int32_t Quorix_GetSubSample(QuorixHandle handle);

/* Sets the pause before each frame of the preview [ms], 0 to 60000; a longer pause lowers the
 * processing load and the frame rate. Stopping the preview (or releasing the handle) ends a
 * pause at once.
 * Returns 1, or 0 with no code when waitTimeMs is negative, or with code 9 above 60000 (the
 * stored pause stays). */
QUORIX_API int Quorix_SetWaitTime(QuorixHandle handle, int32_t waitTimeMs);

/* Returns the preview pause [ms]; -1 for an unknown handle. */
QUORIX_API int32_t Quorix_GetWaitTime(QuorixHandle handle);

/* Starts the preview and records the processed frames into an uncompressed AVI file: one video
 * stream of 24-bit frames (8- and 16-bit output as gray, 48 and 64 bits by the high byte of each
 * channel), bottom row first, rows padded to 4 bytes, with an index ("idx1"). The recording ends
 * by itself durationMs after its first frame; the preview keeps running until
 * Quorix_StopPreview. No frames are delivered to the application meanwhile.
 * Frames come from the preview: to record every frame at the camera's rate, set a wait time of 0
 * (Quorix_SetWaitTime) and every-frame delivery (Quorix_SetDeliveryMode) first. Writing the file
 * never holds the preview up: a frame that comes while the file is still busy with the earlier
 * ones is dropped whole and counted (Quorix_GetRecordStatus).
 * The file is always finished (index written, headers patched with the frame count and the rate
 * measured over the frames written) and holds every frame written, whatever ends the recording:
 * its duration, Quorix_StopPreview, Quorix_Close, Quorix_Release, a new Quorix_Record, the camera
 * going away or stopping (the preview ends with code 13), a change of the picture's size, a disk
 * that fills up or a write error, or the AVI format's 4 GiB limit (RIFF sizes are 32-bit: the
 * file ends with the frames that fit, it does not continue in further RIFF chunks). The last
 * three record code 12 as they happen; Quorix_GetRecordStatus tells which one it was. While
 * recording, the file's headers are brought up to the frames written about once a second, so
 * that even a process killed mid-recording leaves a file that plays those frames (without index).
 * fileName: the AVI file, created or replaced as described under "Saving files" above (a FIFO
 *   is refused with code 12). durationMs: length [ms]. showWindow: non-zero
 *   shows the preview window (placed as for Quorix_Preview).
 * Returns 1 once recording has started, or 0 with code 9 (fileName NULL or empty, before anything
 * starts), 4 (the preview window could not be made, see Quorix_Preview), 12 (the preview
 * could not start, the cause recorded before it; or the file could not be created), 5 (no memory
 * for the frame queue) or 3 (no recorder thread). */
QUORIX_API int Quorix_Record(QuorixHandle handle, const char* fileName, uint32_t durationMs,
                             int32_t showWindow);

/* As Quorix_Record with a UTF-16 file name; code 12 when the name cannot be converted or needs
 * more than 1023 bytes. */
QUORIX_API int Quorix_RecordW(QuorixHandle handle, const QuorixWChar* fileName, uint32_t durationMs,
                              int32_t showWindow);

/* Reads the state of the current recording, or of the last one once it ended: any thread, any
 * time.
 * status: receives the record; its `size` must be set first, at least 56.
 * Returns 1, or 0 with code 9 (status NULL), 5 (size below 56) or 1 (no camera engine). */
QUORIX_API int Quorix_GetRecordStatus(QuorixHandle handle, QuorixRecordStatus* status);

/* Saves the last processed frame to a file. The frame is copied at the call and encoded on the
 * caller's thread while the preview goes on. The file is written as described under "Saving
 * files" above: under a temporary name beside the file and renamed when complete, so a failed
 * save leaves no file (an existing file of that name stays as it was) and a successful one
 * replaces an existing file whole, keeping its mode; through a link to its file; in place on a
 * device such as /dev/null (a way to time the encoders) or a writable file in a folder that takes
 * no new file (not atomic).
 * fileName: the file. format:
 *   QUORIX_SAVE_BMP: BMP at the output's depth (8 bits with a gray palette, pixels at offset 1078;
 *     16, 24, 32, 48, 64 bits at offset 54), bottom row first, rows padded to 4 bytes. The 8-,
 *     24- and 32-bit files open everywhere; the 16-, 48- and 64-bit ones are valid but most image
 *     readers refuse or misread them: save those depths as PNG or TIFF, which keep every bit;
 *   QUORIX_SAVE_RAW: the pixel memory, height * stride bytes, top row first, no header;
 *   QUORIX_SAVE_JPEG_HIGH, _MEDIUM, _LOW: progressive JPEG at quality 100, 70, 20; 8-bit gray
 *     (16 bits: the high byte of each sample) or 24-bit colour (48, 64 bits: high bytes);
 *   QUORIX_SAVE_PNG: 8 bits gray, 16 bits gray, 24 RGB, 32 RGBA (opaque), 48 RGB at 16 bits per
 *     sample, 64 RGBA at 16 bits (opaque);
 *   QUORIX_SAVE_TIFF: uncompressed, one strip, rows packed: 8 or 16 bits gray (samples as they
 *     are), 24/48 RGB, 32/64 RGB plus an unspecified fourth sample (0 at 32 bits, 65535 at 64).
 * Returns 1, or 0 with code 1 (no frame processed yet in the current colour mode, or no camera
 * engine), 9 (fileName NULL or empty), 5 (no memory for the copy) or 12 (the file could not be
 * created, written or encoded: a missing directory, a read-only directory and file, a full disk,
 * a file size limit, a FIFO under the name; the reason goes to the log, QUORIX_LOG=1); 0 without
 * a code for an unknown format. */
QUORIX_API int Quorix_SaveImage(QuorixHandle handle, const char* fileName, int32_t format);

/* As Quorix_SaveImage with a UTF-16 file name; code 12 when the name cannot be converted or needs
 * more than 1023 bytes. */
QUORIX_API int Quorix_SaveImageW(QuorixHandle handle, const QuorixWChar* fileName, int32_t format);

/* Loads the correction planes (dark and white frames, 8 and 16 bits, full sensor) from a mask
 * file written by Quorix_SaveMaskFile (18,874,408 bytes) and re-derives the defect maps. The whole
 * file is read and checked before any plane changes.
 * fileName: the mask file, a regular file (see "Reading files" above).
 * Returns 1, or 0 with code 14 (the file cannot be read or is no regular file, is not exactly
 * 18,874,408 bytes long, or is not a mask file of this camera: wrong magic, sensor size or plane
 * size; the planes are unchanged),
 * 5 (no memory for the planes) or 1 (no camera engine). */
QUORIX_API int Quorix_LoadMaskFile(QuorixHandle handle, const char* fileName);

/* As Quorix_LoadMaskFile with a UTF-16 file name; code 12 when the name cannot be converted or
 * needs more than 1023 bytes. */
QUORIX_API int Quorix_LoadMaskFileW(QuorixHandle handle, const QuorixWChar* fileName);

/* Saves the four correction planes to a mask file (created or replaced as described under
 * "Saving files" above). A regular file is written under a temporary name beside it and renamed
 * when complete, so a failed save leaves an earlier file of that name as it was.
 * fileName: the mask file.
 * Returns 1, or 0 with code 14 (the file cannot be written, or is a FIFO), 5 (no memory for the
 * planes) or 1 (no camera engine). */
QUORIX_API int Quorix_SaveMaskFile(QuorixHandle handle, const char* fileName);

/* As Quorix_SaveMaskFile with a UTF-16 file name; code 12 when the name cannot be converted or
 * needs more than 1023 bytes. */
QUORIX_API int Quorix_SaveMaskFileW(QuorixHandle handle, const QuorixWChar* fileName);

/* Records the current raw frame as a correction plane, at its depth (8 bits for colour modes 8,
 * 24, 32; 16 bits for 16, 48, 64), and re-derives that plane's defect map (hot pixels: dark plane
 * above 192, or 12288 at 16 bits; dead pixels: white plane below 64, or 4096). Take a full
 * 2048 x 1536 frame first (e.g. with Quorix_SnapShot of a dark, then an evenly lit scene) with the
 * mask and dot filters off, since the plane is the frame as the frame routine left it; a frame of
 * another size changes nothing and still returns 1.
 * which: 0 dark plane, 1 white plane.
 * Returns 1, or 0 with code 12 (which not 0 or 1), 5 (no memory for the planes) or 1 (no camera
 * engine). */
QUORIX_API int Quorix_UpdateMaskData(QuorixHandle handle, int32_t which);

/* Reads a configuration file of 8-byte records (two little-endian 32-bit values each; a trailing
 * partial record is ignored) and keeps them in the context, replacing earlier ones. The Quorix 252
 * does not use them.
 * fileName: the file, which must exist and be a regular file (see "Reading files" above).
 * Returns 1 (also for an empty file), or 0 (no code) when the file cannot be opened or read. */
QUORIX_API int Quorix_LoadConfigFileA(QuorixHandle handle, const char* fileName);

/* As Quorix_LoadConfigFileA with a UTF-16 file name; code 12 when the name cannot be converted or
 * needs more than 1023 bytes. */
QUORIX_API int Quorix_LoadConfigFileW(QuorixHandle handle, const QuorixWChar* fileName);

/* Shows the modal format dialog (colour mode, size presets, sub-sampling, preview pause) over
 * owner. A running preview or capture is stopped first and restarted afterwards; after OK the
 * stored format settings are reloaded into the context. The dialog stores its values under the
 * open camera's key: the colour mode, sub-sampling and pause come back at the next
 * Quorix_Initialize, but the capture window chosen here is kept only as that camera's size preset;
 * the next Quorix_Initialize takes its window from the preset of Camera_-1 (see
 * Quorix_Initialize), so set the window with Quorix_SetCaptureWindowEx to keep it across runs.
 * owner: the application's X11 window wrapped with Quorix_WrapX11Window, which the dialog is
 *   kept above (transient for) and centred over; NULL or a message window: it stands alone.
 * Returns 1 once the dialog has closed (OK or Cancel), or 0 with code 1 (no camera engine or no
 * camera open), or 0 with code 4 when there is no display or the dialog module (libquorix-dialogs-gtk.so,
 * installed beside the library and loaded on the first dialog call) is missing; nothing changes
 * then. The dialog runs GTK's main loop on the calling thread until it closes. */
QUORIX_API int Quorix_SetCameraDlg(QuorixHandle handle, QuorixWindow owner);

/* Shows the modal image-filter dialog (brightness ... gamma, Bayer gains and mode, and for the 8-
 * and 16-bit formats the gray filter). Changes apply to the next frames at once; Cancel restores
 * the values from before.
 * owner: the application's X11 window wrapped with Quorix_WrapX11Window, which the dialog is
 *   kept above (transient for) and centred over; NULL or a message window: it stands alone.
 * Returns 1 once the dialog has closed, or 0 with code 1 (no camera engine or no camera open),
 * or 0 with code 4 when there is no display or the dialog module (libquorix-dialogs-gtk.so,
 * installed beside the library and loaded on the first dialog call) is missing; nothing changes
 * then. The dialog runs GTK's main loop on the calling thread until it closes. */
QUORIX_API int Quorix_SetImageDlg(QuorixHandle handle, QuorixWindow owner);

/* Shows the modal analog dialog (gain, exposure, mirroring, automatic exposure). Changes are sent
 * to the camera at once; Cancel restores the values from before and sends them again.
 * owner: the application's X11 window wrapped with Quorix_WrapX11Window, which the dialog is
 *   kept above (transient for) and centred over; NULL or a message window: it stands alone.
 * Returns 1 once the dialog has closed, or 0 with code 1 (no camera engine or no camera open),
 * or 0 with code 4 when there is no display or the dialog module (libquorix-dialogs-gtk.so,
 * installed beside the library and loaded on the first dialog call) is missing; nothing changes
 * then. The dialog runs GTK's main loop on the calling thread until it closes. */
QUORIX_API int Quorix_SetAnalogDlg(QuorixHandle handle, QuorixWindow owner);

/* =============================================================================================
 * Filter values and their named wrappers
 *
 * Most image and camera settings are numbered values (QUORIX_VALUE_*), read and written with
 * Quorix_GetFilterValue / Quorix_SetFilterValue or with the named functions below, which call them
 * with a fixed ID. Image adjustments are applied in software to every processed frame from the
 * next one on (neutral values skip them); camera values (gains, exposure) are sent to the camera.
 * The values are kept per camera in the settings store. Ranges are inclusive; a stored value
 * outside its range (a file edited by hand) is read as the nearer end of it, e.g. a gray gain
 * of 300 as 255.
 *
 * Getters, such as Quorix_GetBrightness(handle, ok), return the value; 0 for an unknown handle.
 *   ok may be NULL; it is set to 1, or to 0 when no value could be read (the context has no
 *   camera engine: code 1). Camera values (global and colour gains, exposure) are read from the
 *   open camera: 0 while none is open.
 * Setters, such as Quorix_SetBrightness(handle, value), return 1, or 0 with code 9 when the
 *   value is outside its range (nothing changes), or 0 with code 1 when the context has no camera
 *   engine. The ranges of the camera values are the open camera's (see Quorix_GetCameraInfo);
 *   while no camera is open they are 0..0. A camera value in range is kept and sent to the camera
 *   at once, and sent again whenever a camera opens or acquisition starts; the result does not
 *   depend on whether the camera could take it at once (the Quorix 252 takes its exposure only
 *   once acquisition has set its pixel format, and has no colour gains).
 * ============================================================================================= */

/* Reads a value by ID.
 * valueId: a QUORIX_VALUE_* ID. ok: may be NULL; set to 1, or to 0 with code 9 for an ID that
 *   cannot be read (28-36 and unknown IDs), code 1 without camera engine, code 11 for 101.
 * Beyond the named getters: 104 gain mode (0 high, 1 low; -1 with ok 0 and no code when the
 * camera has none, as the Quorix 252); 105 short exposure mode 0/1 (records code 0 on success, 6
 * when the camera fails, 11 when it has none, as the Quorix 252); 106 black level (records code 0
 * on success; 11 when the camera has none, as the Quorix 252). ok is 0 whenever a code other than
 * 0 is recorded.
 * Returns the value; 0 for an unknown handle. */
QUORIX_API int32_t Quorix_GetFilterValue(QuorixHandle handle, int32_t valueId, int32_t* ok);

/* Writes a value by ID; the ranges are those of the named setters. Beyond them: 28 (0..1): 1
 * computes the gray gains once from the next frame of the 8- or 16-bit format in gray mode 1
 * (each site's gain from its mean against G1's, counting samples strictly between black and
 * white on the 8-bit scale; at most 255; a site without such samples keeps its gain); 104 gain mode (0 high gain, 1 low gain),
 * passed to the camera, whose result is returned without a code (0 on the Quorix 252); 105 short
 * exposure mode (above 0 on; code 6 when the camera fails); 106 black level (records code 0 on
 * success, 6 when the camera fails). 105 and 106 record code 11 on cameras without them, as the
 * Quorix 252.
 * valueId: a QUORIX_VALUE_* ID. value: the new value.
 * Returns 1, or 0 with code 9 (out of range, IDs 29-36 and 101, unknown ID) or 1 (no camera
 * engine). */
QUORIX_API int Quorix_SetFilterValue(QuorixHandle handle, int32_t valueId, int32_t value);

/* Returns the brightness, -255..255. */
QUORIX_API int32_t Quorix_GetBrightness(QuorixHandle handle, int32_t* ok);
/* Sets the brightness, -255..255, 0 neutral: below 0 every sample is scaled by 1 - |b| / 255
 * (-255 black), above 0 by 1 + 10 b / 255 (up to x11, clipped). */
QUORIX_API int Quorix_SetBrightness(QuorixHandle handle, int32_t value);
/* Returns the contrast, -127..127. */
QUORIX_API int32_t Quorix_GetContrast(QuorixHandle handle, int32_t* ok);
/* Sets the contrast, -127..127, 0 neutral: above 0 stretches the range around the middle and
 * clips both ends, below 0 compresses it toward the middle. */
QUORIX_API int Quorix_SetContrast(QuorixHandle handle, int32_t value);
/* Returns the hue rotation [degrees], -360..360. */
QUORIX_API int32_t Quorix_GetHue(QuorixHandle handle, int32_t* ok);
/* Sets the hue rotation of colour images [degrees], -360..360, 0 neutral. */
QUORIX_API int Quorix_SetHue(QuorixHandle handle, int32_t value);
/* Returns the saturation, -255..255. */
QUORIX_API int32_t Quorix_GetSaturation(QuorixHandle handle, int32_t* ok);
/* Sets the saturation of colour images, -255..255, 0 neutral, -255 gray. */
QUORIX_API int Quorix_SetSaturation(QuorixHandle handle, int32_t value);
/* Returns the sharpness, 0..30. */
QUORIX_API int32_t Quorix_GetSharpness(QuorixHandle handle, int32_t* ok);
/* Sets the sharpness (unsharp mask amount [tenths]), 0..30, 0 off. */
QUORIX_API int Quorix_SetSharpness(QuorixHandle handle, int32_t value);
/* Returns the three Bayer gains packed: red bits 0-7, green bits 8-15, blue bits 16-23. */
QUORIX_API int32_t Quorix_GetBayerGainRGB(QuorixHandle handle, int32_t* ok);
/* Sets the three Bayer gains [percent] from one packed value (red bits 0-7, green bits 8-15,
 * blue bits 16-23), without a range check. */
QUORIX_API int Quorix_SetBayerGainRGB(QuorixHandle handle, int32_t value);
/* Returns the red Bayer gain [percent], 0..400. */
QUORIX_API int32_t Quorix_GetBayerGainRed(QuorixHandle handle, int32_t* ok);
/* Sets the red gain of the demosaicing (software white balance) [percent], 0..400, 100 neutral. */
QUORIX_API int Quorix_SetBayerGainRed(QuorixHandle handle, int32_t value);
/* Returns the green Bayer gain [percent], 0..400. */
QUORIX_API int32_t Quorix_GetBayerGainGreen(QuorixHandle handle, int32_t* ok);
/* Sets the green Bayer gain [percent], 0..400; kept and reported only, green is not scaled. */
QUORIX_API int Quorix_SetBayerGainGreen(QuorixHandle handle, int32_t value);
/* Returns the blue Bayer gain [percent], 0..400. */
QUORIX_API int32_t Quorix_GetBayerGainBlue(QuorixHandle handle, int32_t* ok);
/* Sets the blue gain of the demosaicing [percent], 0..400, 100 neutral. */
QUORIX_API int Quorix_SetBayerGainBlue(QuorixHandle handle, int32_t value);
/* Returns the automatic white balance switch, 0 or 1. */
QUORIX_API int32_t Quorix_GetBayerGainAuto(QuorixHandle handle, int32_t* ok);
/* Switches the automatic white balance, any value (non-zero is stored as 1): while on, the
 * Bayer gains are recomputed from every colour frame so that the frame's mean red and blue match
 * its mean green (red and blue at most 400, green reported as 100; a colour without any light
 * keeps its gain). */
QUORIX_API int Quorix_SetBayerGainAuto(QuorixHandle handle, int32_t value);
/* Returns the gamma [hundredths], 0..200. */
QUORIX_API int32_t Quorix_GetGamma(QuorixHandle handle, int32_t* ok);
/* Sets the gamma [hundredths], 0..200, 100 neutral. */
QUORIX_API int Quorix_SetGamma(QuorixHandle handle, int32_t value);
/* Returns the Bayer mode, 0..3. */
QUORIX_API int32_t Quorix_GetBayerMode(QuorixHandle handle, int32_t* ok);
/* Sets the colour order of the sensor mosaic, counted from the image's top-left pixel, 0..3:
 * 0 GBRG, 1 RGGB, 2 BGGR, 3 GRBG. */
QUORIX_API int Quorix_SetBayerMode(QuorixHandle handle, int32_t value);
/* Returns the camera's analog gain, read from the camera. */
QUORIX_API int32_t Quorix_GetGlobalGain(QuorixHandle handle, int32_t* ok);
/* Sets the camera's analog gain, gainMin..gainMax of Quorix_GetCameraInfo (Quorix 252: 0..480);
 * the four colour gains are set to the same value. */
QUORIX_API int Quorix_SetGlobalGain(QuorixHandle handle, int32_t value);
/* Returns the red colour gain, read from the camera. */
QUORIX_API int32_t Quorix_GetColorGainRed(QuorixHandle handle, int32_t* ok);
/* Sets the analog gain of the red sites, colorGainMin..colorGainMax of Quorix_GetCameraInfo
 * (Quorix 252: 0..0, it has no colour gains; use the Bayer gains). */
QUORIX_API int Quorix_SetColorGainRed(QuorixHandle handle, int32_t value);
/* Returns the colour gain of the first green sites, read from the camera. */
QUORIX_API int32_t Quorix_GetColorGainGreen1(QuorixHandle handle, int32_t* ok);
/* Sets the analog gain of the green sites in the red rows; range as the red colour gain. */
QUORIX_API int Quorix_SetColorGainGreen1(QuorixHandle handle, int32_t value);
/* Returns the colour gain of the second green sites, read from the camera. */
QUORIX_API int32_t Quorix_GetColorGainGreen2(QuorixHandle handle, int32_t* ok);
/* Sets the analog gain of the green sites in the blue rows; range as the red colour gain. */
QUORIX_API int Quorix_SetColorGainGreen2(QuorixHandle handle, int32_t value);
/* Returns the blue colour gain, read from the camera. */
QUORIX_API int32_t Quorix_GetColorGainBlue(QuorixHandle handle, int32_t* ok);
/* Sets the analog gain of the blue sites; range as the red colour gain. */
QUORIX_API int Quorix_SetColorGainBlue(QuorixHandle handle, int32_t value);
/* Returns the exposure time [100 us], read from the camera. */
QUORIX_API int32_t Quorix_GetExposureTime(QuorixHandle handle, int32_t* ok);
/* Sets the exposure time [100 us], exposureMin..exposureMax of Quorix_GetCameraInfo (Quorix 252:
 * 1..20000, 0.1 ms to 2 s). */
QUORIX_API int Quorix_SetExposureTime(QuorixHandle handle, int32_t value);
/* Returns the gray mode, 0..2. */
QUORIX_API int32_t Quorix_GetGrayMode(QuorixHandle handle, int32_t* ok);
/* Sets the gray processing of the 8- and 16-bit formats, 0..2: 0 off, 1 gray gains and offsets
 * per mosaic site, 2 (8 bits only) the luminance of the demosaiced colour. */
QUORIX_API int Quorix_SetGrayMode(QuorixHandle handle, int32_t value);
/* Returns the gray gain of the red sites, 0..255. */
QUORIX_API int32_t Quorix_GetGrayGainR(QuorixHandle handle, int32_t* ok);
/* Sets the gray gain of the red sites (the red samples of the mosaic, in every Bayer mode),
 * 0..255, 128 = x1.0. Gray mode 1 leaves the samples as they are while all four gains and the
 * offsets R, G1 and G2 are 128; once any of them differs, every sample becomes
 * offset + sample * gain / 128. The offsets also default to 128 and are added as they are, so
 * set them (usually to 0) together with the gains; the gains measured by
 * QUORIX_VALUE_GRAY_GAIN_AUTO_ONCE start the step too, and with it the offsets. */
QUORIX_API int Quorix_SetGrayGainR(QuorixHandle handle, int32_t value);
/* Returns the gray gain of the first green sites, 0..255. */
QUORIX_API int32_t Quorix_GetGrayGainG1(QuorixHandle handle, int32_t* ok);
/* Sets the gray gain of the first green sites (green in the red rows), 0..255, 128 = x1.0. */
QUORIX_API int Quorix_SetGrayGainG1(QuorixHandle handle, int32_t value);
/* Returns the gray gain of the second green sites, 0..255. */
QUORIX_API int32_t Quorix_GetGrayGainG2(QuorixHandle handle, int32_t* ok);
/* Sets the gray gain of the second green sites (green in the blue rows), 0..255, 128 = x1.0. */
QUORIX_API int Quorix_SetGrayGainG2(QuorixHandle handle, int32_t value);
/* Returns the gray gain of the blue sites, 0..255. */
QUORIX_API int32_t Quorix_GetGrayGainB(QuorixHandle handle, int32_t* ok);
/* Sets the gray gain of the blue sites, 0..255, 128 = x1.0. */
QUORIX_API int Quorix_SetGrayGainB(QuorixHandle handle, int32_t value);
/* Returns the gray offset of the red sites, -255..255. */
QUORIX_API int32_t Quorix_GetGrayOffsetR(QuorixHandle handle, int32_t* ok);
/* Sets the gray offset of the red sites, -255..255 (default 128), added to each sample after its
 * gain whenever the gray step runs (see Quorix_SetGrayGainR). */
QUORIX_API int Quorix_SetGrayOffsetR(QuorixHandle handle, int32_t value);
/* Returns the gray offset of the first green sites, -255..255. */
QUORIX_API int32_t Quorix_GetGrayOffsetG1(QuorixHandle handle, int32_t* ok);
/* Sets the gray offset of the first green sites, -255..255. */
QUORIX_API int Quorix_SetGrayOffsetG1(QuorixHandle handle, int32_t value);
/* Returns the gray offset of the second green sites, -255..255. */
QUORIX_API int32_t Quorix_GetGrayOffsetG2(QuorixHandle handle, int32_t* ok);
/* Sets the gray offset of the second green sites, -255..255. */
QUORIX_API int Quorix_SetGrayOffsetG2(QuorixHandle handle, int32_t value);
/* Returns the gray offset of the blue sites, -255..255. */
QUORIX_API int32_t Quorix_GetGrayOffsetB(QuorixHandle handle, int32_t* ok);
/* Sets the gray offset of the blue sites, -255..255. */
QUORIX_API int Quorix_SetGrayOffsetB(QuorixHandle handle, int32_t value);
/* Returns the cooler (Peltier element) setting on cameras that have one; the Quorix 252 has none:
 * records code 11, sets ok to 0 and returns -1. */
QUORIX_API int32_t Quorix_GetPeltier(QuorixHandle handle, int32_t* ok);
/* Sets the cooler on cameras that have one and returns the camera's result; the Quorix 252 has
 * none: records code 11 and returns 0. */
QUORIX_API int Quorix_SetPeltier(QuorixHandle handle, int32_t value);
/* Integer temperature: not available; records code 11, sets ok to 0 and returns -1 (see
 * Quorix_GetTemperatureEx). */
QUORIX_API int32_t Quorix_GetTemperature(QuorixHandle handle, int32_t* ok);
/* Returns the dot filter switch, 0 or 1. */
QUORIX_API int32_t Quorix_GetDotFilter(QuorixHandle handle, int32_t* ok);
/* Switches the dot filter, 0..1: it replaces defective pixels, those of the hot and dead maps of
 * the mask planes and those 30 levels (16 bits: 480) or more off the mean of their 4 neighbours.
 * The neighbours are the next samples of the raw mosaic, of whatever colour: in a saturated colour
 * the samples of that colour differ from their neighbours by more than the threshold, so in
 * colour output the filter replaces them too and dulls the colour (on the emulator's scene most
 * pixels of its colour patches are replaced). It suits neutral scenes and gray output; on
 * colourful scenes expect flatter colours. */
QUORIX_API int Quorix_SetDotFilter(QuorixHandle handle, int32_t value);
/* Returns the mask filter switch, 0 or 1. */
QUORIX_API int32_t Quorix_GetMaskFilter(QuorixHandle handle, int32_t* ok);
/* Switches the mask filter, 0..1: a flat-field correction of every sample between the dark and
 * white planes (Quorix_UpdateMaskData, Quorix_LoadMaskFile). */
QUORIX_API int Quorix_SetMaskFilter(QuorixHandle handle, int32_t value);
/* Gain of a sensor output channel, on cameras with several. channel: 1..4. The Quorix 252 has
 * none: channels 1..4 record code 9, other channels return 0 without a code; ok is set to 0. */
QUORIX_API int32_t Quorix_GetChannelGain(QuorixHandle handle, int32_t channel, int32_t* ok);
/* Sets the gain of a sensor output channel (channel 1..4). Quorix 252: channels 1..4 record
 * code 9, other channels return 0 without a code. */
QUORIX_API int Quorix_SetChannelGain(QuorixHandle handle, int32_t channel, int32_t value);
/* Offset of a sensor output channel, on cameras with several. channel: 1..4. The Quorix 252 has
 * none: channels 1..4 record code 9, other channels return 0 without a code; ok is set to 0. */
QUORIX_API int32_t Quorix_GetChannelOffset(QuorixHandle handle, int32_t channel, int32_t* ok);
/* Sets the offset of a sensor output channel (channel 1..4). Quorix 252: channels 1..4 record
 * code 9, other channels return 0 without a code. */
QUORIX_API int Quorix_SetChannelOffset(QuorixHandle handle, int32_t channel, int32_t value);

/* =============================================================================================
 * Exposure, mirror and camera controls
 * ============================================================================================= */

/* Sets the exposure in seconds, on cameras with a seconds-based exposure; the exposure in
 * 100 us units becomes trunc(seconds * 10000). The Quorix 252 has none: use
 * Quorix_SetExposureTime or Quorix_SetRealExposureTime.
 * seconds: exposure [s], within the limits of Quorix_GetCameraInfo.
 * Returns 1, or 0 with code 11 (not supported) or 1 (no camera engine); 0 without a code when the
 * camera refuses the value. */
QUORIX_API int Quorix_SetExposureTimeEx(QuorixHandle handle, double seconds);

/* Returns the exposure [s] read from the camera, on cameras with a seconds-based exposure.
 * ok: may be NULL; set to 1, or to 0 on failure.
 * On failure returns -1.0 with code 11 (not supported, as on the Quorix 252) or 1 (no camera
 * engine); 0.0 for an unknown handle. */
QUORIX_API double Quorix_GetExposureTimeEx(QuorixHandle handle, int32_t* ok);

/* Sets the exposure in microseconds: the exposure in 100 us units becomes microseconds / 100
 * (truncated), which must lie within exposureMin..exposureMax of Quorix_GetCameraInfo
 * (Quorix 252: 100..2,000,099 us); it is kept and sent as by Quorix_SetExposureTime.
 * microseconds: exposure [us].
 * Returns 1, or 0 with code 9 (out of range) or 1 (no camera engine). */
QUORIX_API int Quorix_SetRealExposureTime(QuorixHandle handle, uint32_t microseconds);

/* Returns the exposure [us]: the exposure in 100 us units times 100.
 * ok: set to 1; must not be NULL.
 * 0 for an unknown handle. */
QUORIX_API uint32_t Quorix_GetRealExposureTime(QuorixHandle handle, int32_t* ok);

/* Mirrors the image left to right in the camera. The setting is kept and sent to the camera at
 * once, and again whenever a camera opens or acquisition starts.
 * on: 0 off, any other value on (stored as 1).
 * Returns 1, or 0 with code 1 (no camera engine). */
QUORIX_API int Quorix_SetMirrorH(QuorixHandle handle, int32_t on);

/* Mirrors the image top to bottom in the camera, kept and sent as the horizontal mirror.
 * on: 0 off, any other value on (stored as 1).
 * Returns 1, or 0 with code 1 posted only (no camera engine). */
QUORIX_API int Quorix_SetMirrorV(QuorixHandle handle, int32_t on);

/* Returns the horizontal mirror setting, 0 or 1; 0 with code 1 when the context has no camera
 * engine. */
QUORIX_API int32_t Quorix_GetMirrorH(QuorixHandle handle);

/* Returns the vertical mirror setting, 0 or 1; 0 with code 1 posted only when the context has no
 * camera engine. */
QUORIX_API int32_t Quorix_GetMirrorV(QuorixHandle handle);

/* Selects the automatic exposure control, run on every processed frame: it measures five areas of
 * the raw frame (on the 8-bit scale in every colour mode) and, when they are clearly too dark or
 * too bright, scales the exposure or gain for the next frames (factor 0.25 to 1.25 per frame);
 * Quorix_GetExposureTime / Quorix_GetGlobalGain then report the new value.
 * mode: 0 off, 1 adjust the exposure time, 2 adjust the analog gain.
 * Returns 1, or 0 with code 9 posted only for another mode. */
QUORIX_API int Quorix_SetAutoIris(QuorixHandle handle, int32_t mode);

/* Returns the automatic exposure mode, 0..2.
 * ok: set to 1; must not be NULL. */
QUORIX_API int32_t Quorix_GetAutoIris(QuorixHandle handle, int32_t* ok);

/* Reads the sensor temperature [degrees Celsius], on cameras with a thermometer.
 * ok: must not be NULL; set to 1 when a temperature was read, else 0.
 * Records code 0 on success and 12 when the reading fails; code 11 when not supported (as on the
 * Quorix 252) and 1 without camera engine, both with the result 0.0. 0.0 for an unknown handle. */
QUORIX_API double Quorix_GetTemperatureEx(QuorixHandle handle, int32_t* ok);

/* Switches a correction done inside the camera, on cameras that have one.
 * value: the camera's correction setting.
 * Returns the camera's result (1/0, no code); 0 with code 11 posted only when not supported (as on
 * the Quorix 252); 0 with code 1 without camera engine. */
QUORIX_API int Quorix_SetInternalCorrection(QuorixHandle handle, int32_t value);

/* Returns the camera's internal correction setting, on cameras that have one.
 * ok: must not be NULL; set to 1, or to 0 when not supported.
 * Not supported (as on the Quorix 252): 0 with code 11 posted only; without camera engine 0 with
 * code 1. */
QUORIX_API int32_t Quorix_GetInternalCorrection(QuorixHandle handle, int32_t* ok);

/* Asks the sensor for another sampling rate. The Quorix 252's rate is fixed, so the result is 0.
 * rate: the requested rate.
 * Returns the camera's result (1/0) without a code; 0 without camera engine. */
QUORIX_API int Quorix_SetSamplingRate(QuorixHandle handle, int32_t rate);

/* Reserved: writes 0 to *value (when value is not NULL) and returns 0. */
QUORIX_API int32_t Quorix_GetSamplingRate(QuorixHandle handle, int32_t* value);

/* Reserved: writes 0 to *value (when value is not NULL) and returns 0. */
QUORIX_API int32_t Quorix_GetVideoFormat(QuorixHandle handle, int32_t* value);

/* Sets the camera's digital I/O port to the low 8 bits of value.
 * Returns 1, or 0 without a code when the camera refuses; 0 with code 1 posted only when the
 * context has no camera engine. */
QUORIX_API int Quorix_SetIOPort(QuorixHandle handle, uint32_t value);

/* Reads the camera's digital I/O port.
 * value: receives the port byte. reserved1, reserved2: ignored, pass 0.
 * Returns 1, or 0 with code 9 posted only (value NULL, or the read failed) or code 1 posted only
 * (no camera engine). */
QUORIX_API int Quorix_GetIOPort(QuorixHandle handle, uint8_t* value, int32_t reserved1,
                                int32_t reserved2);

/* =============================================================================================
 * Registers and camera memory
 * Direct access to the sensor, the camera board's FPGA and the camera's non-volatile memory
 * (EEPROM), for diagnosis and service. Wrong values can disturb the camera; the library's own
 * settings do not follow such writes. Without a camera engine these calls fail with code 1.
 * Open the camera first (Quorix_Initialize with one camera attached, or Quorix_SetDeviceNumber):
 * until a camera is open they reach the first camera the library's device table lists.
 * ============================================================================================= */

/* Reads a sensor register (8-bit value).
 * address: register address 0..0xFF (Quorix_ReadRegisterEx reaches the sensor's 16-bit addresses
 *   0..0xFFFF). ok: must not be NULL; set to 1, or to 0 on failure.
 * Returns the value 0..255, or 0 with code 9 (address out of range) or 6 (the read failed). */
QUORIX_API uint32_t Quorix_ReadRegister(QuorixHandle handle, uint32_t address, int32_t* ok);

/* As Quorix_ReadRegister with the full address 0..0xFFFF. */
QUORIX_API uint32_t Quorix_ReadRegisterEx(QuorixHandle handle, uint32_t address, int32_t* ok);

/* Writes a sensor register.
 * address: 0..0xFF. value: 0..0xFF (the sensor's registers hold 8 bits).
 * Returns 1, or 0 with code 9 (address or value out of range; nothing is written) or 6 (the write
 * failed). */
QUORIX_API int Quorix_WriteRegister(QuorixHandle handle, uint32_t address, uint32_t value);

/* As Quorix_WriteRegister with the full address 0..0xFFFF. */
QUORIX_API int Quorix_WriteRegisterEx(QuorixHandle handle, uint32_t address, uint32_t value);

/* Reads an FPGA register of the camera board.
 * address: 0..0xFF. ok: must not be NULL; set to 0 on failure and left unchanged on success, so
 *   set it to 1 before the call.
 * Returns the value as an unsigned 16-bit number (the registers hold 8 bits), or 0 with code 9
 * (address out of range) or 6 (the read failed). */
QUORIX_API uint32_t Quorix_Fpga_ReadRegister(QuorixHandle handle, uint32_t address, int32_t* ok);

/* Writes an FPGA register of the camera board.
 * address: 0..0xFF. value: 0..0xFF (the registers hold 8 bits).
 * Returns 1, or 0 with code 9 (address or value out of range; nothing is written) or 6 (the write
 * failed). */
QUORIX_API int Quorix_Fpga_WriteRegister(QuorixHandle handle, uint32_t address, uint32_t value);

/* Reads one byte of the camera's non-volatile memory (takes about 10 ms).
 * address: 0..0xFFFF; bits 12-15 are cleared (address & 0x0FFF is read). ok: must not be NULL;
 *   set to 1, or to 0 on failure.
 * Returns the byte 0..255, or 0 with code 9 (address above 0xFFFF) or with code 1 posted only
 * when the read fails. */
QUORIX_API uint32_t Quorix_ReadSromID(QuorixHandle handle, uint32_t address, int32_t* ok);

/* Writes one byte of the camera's non-volatile memory and makes sure it holds: the byte is read
 * back after each write and written again, up to 10 more times, while it differs (takes about
 * 25 ms per attempt).
 * address: 0..0xFFFF, low 12 bits used. value: the byte 0..0xFF.
 * Returns 1 once the byte reads back as written; 0 with code 9 when the address or the value is
 * out of range (nothing is written), or with code 1 posted only when a write or a
 * read-back fails or the byte still differs after the last attempt (the memory cell may then hold
 * the old byte or a wrong one). */
QUORIX_API int Quorix_WriteSromID(QuorixHandle handle, uint32_t address, uint32_t value);

/* Reads the camera's serial number text (at most 31 characters) from its non-volatile memory;
 * takes about 10 ms per character.
 * buffer: receives the zero-terminated text. bufferSize: [bytes], at least 32.
 * Returns 1 with the text; also 1 with buffer left unchanged when the camera holds no serial
 * number (clear it before the call). 0 with code 9 (bufferSize below 32) or 1 (no camera
 * engine); 0 without a code when the memory cannot be read. */
QUORIX_API int Quorix_ReadSerialNumberA(QuorixHandle handle, char* buffer, int32_t bufferSize);

/* As Quorix_ReadSerialNumberA with a UTF-16 text; without a stored serial number the buffer
 * receives an empty text.
 * bufferSize: [UTF-16 units]; 32 is always enough.
 * Returns 1, or 0 with code 12 (the text does not fit in bufferSize units), 1 (no camera engine),
 * or without a code when the memory cannot be read. */
QUORIX_API int Quorix_ReadSerialNumberW(QuorixHandle handle, QuorixWChar* buffer,
                                        int32_t bufferSize);

/* =============================================================================================
 * Unsupported functions
 * Functions for other camera models of the product family, kept so that their applications
 * build and link. They do nothing on the Quorix 252.
 * ============================================================================================= */

/* Frame-rate control of other models. Posts code 11 (not kept in the history); returns 0. */
QUORIX_API int32_t Quorix_Fps(QuorixHandle handle);

/* Half-clock mode of other models. Posts code 11 (not kept in the history); returns 0. */
QUORIX_API int32_t Quorix_GetHalfClock(QuorixHandle handle);

/* Half-clock mode of other models.
 * value: ignored. Posts code 11 (not kept in the history); returns 0. */
QUORIX_API int Quorix_SetHalfClock(QuorixHandle handle, int32_t value);

/* Video input selection of other models.
 * input: ignored. Posts code 11 (not kept in the history); returns 0. */
QUORIX_API int Quorix_SetCrossbar(QuorixHandle handle, int32_t input);

/* Software trigger of other models. Posts code 11 (not kept in the history); returns 0. */
QUORIX_API int Quorix_Trigger(QuorixHandle handle);

/* Text transfer to the camera, on other models.
 * text, textSize [bytes]: ignored. Records code 11; returns 0. */
QUORIX_API int Quorix_SendText(QuorixHandle handle, const char* text, int32_t textSize);

/* Text transfer from the camera, on other models.
 * buffer, bufferSize [bytes]: ignored, nothing is written. Records code 11; returns 0. */
QUORIX_API int Quorix_ReceiveText(QuorixHandle handle, char* buffer, int32_t bufferSize);

/* Configuration filter of other models. Records code 11; returns -1 (0 for an unknown handle). */
QUORIX_API int32_t Quorix_GetConfigFilter(QuorixHandle handle);

/* Configuration filter of other models.
 * value: ignored. Records code 11; returns -1 (0 for an unknown handle). */
QUORIX_API int32_t Quorix_SetConfigFilter(QuorixHandle handle, int32_t value);

/* =============================================================================================
 * Camera diagnostics (Linux)
 * ============================================================================================= */

/* Size of the device information block of Quorix_GetDeviceInfo [bytes]. */
#define QUORIX_DEVICE_INFO_SIZE 64
/* Offset of the camera's USB controller firmware version in the block: unsigned 16-bit,
 * little-endian. */
#define QUORIX_DEVICE_INFO_FIRMWARE_VERSION 24
/* Offset of the readiness-line flag in the block: one byte, 1 when the camera signals on its
 * readiness line that it has finished starting up (the library then waits for that line when it
 * opens the camera). */
#define QUORIX_DEVICE_INFO_READINESS_LINE 52

/* Reads the device information block of the open camera from its USB controller. Offsets
 * QUORIX_DEVICE_INFO_FIRMWARE_VERSION and QUORIX_DEVICE_INFO_READINESS_LINE are defined for every
 * Quorix 252; the other bytes are the controller firmware's own.
 * info: receives QUORIX_DEVICE_INFO_SIZE bytes. size: size of info [bytes], at least
 *   QUORIX_DEVICE_INFO_SIZE; only the first QUORIX_DEVICE_INFO_SIZE bytes are written.
 * Returns 1, or 0 with code 9 (info NULL), 5 (size below QUORIX_DEVICE_INFO_SIZE), 1 (no camera
 * engine) or 6 (no camera is open, or the camera did not answer); info is unchanged on failure. */
QUORIX_API int Quorix_GetDeviceInfo(QuorixHandle handle, uint8_t* info, uint32_t size);

/* =============================================================================================
 * Frame delivery and statistics (Linux)
 * The preview hands the application the newest frame by default: a frame that a newer one
 * replaced before the library's thread took it is overtaken (and counted). Every-frame delivery
 * hands over every frame in camera order instead, from a ring of frame buffers deep enough to
 * ride out pauses of the application and the system; frames are lost only when the whole ring
 * waits, and each such frame is counted (failedRingFull). Both apply to the preview
 * (Quorix_Preview, Quorix_CallBackPreview, Quorix_StartPreview); snapshots take one frame each.
 * Each delivered frame gets its own QUORIX_MSG_FRAME, but the callback buffer and the
 * QuorixFrameInfo record are shared: the next frame overwrites them as soon as it is delivered,
 * which in every-frame mode may be at once while frames wait in the ring.
 * ============================================================================================= */

/* Delivery modes of Quorix_SetDeliveryMode. */
#define QUORIX_DELIVERY_NEWEST 0      /* the newest frame; older untaken ones are overtaken */
#define QUORIX_DELIVERY_EVERY_FRAME 1 /* every frame, oldest first */

/* Depth of the every-frame ring [frames]. One frame of the ring takes the frame's raw size
 * (width x height, x 2 for 16 and 48/64 bits per pixel). */
#define QUORIX_FRAME_RING_DEPTH_MIN 4
#define QUORIX_FRAME_RING_DEPTH_MAX 64
#define QUORIX_FRAME_RING_DEPTH_DEFAULT 16

/* Version of the QuorixFrameStatistics record this library fills. */
#define QUORIX_FRAME_STATISTICS_VERSION 1u

/* Chooses how the preview delivers frames; it applies from the next preview start.
 * mode: QUORIX_DELIVERY_NEWEST (default) or QUORIX_DELIVERY_EVERY_FRAME. In every-frame mode a
 *   wait time (Quorix_SetWaitTime) still pauses before each frame, so a pause longer than the
 *   camera's frame period fills the ring.
 * Returns 1, or 0 with code 9 (another mode) or 1 (a preview or the capture state runs: stop it
 * first; or no camera engine). */
QUORIX_API int Quorix_SetDeliveryMode(QuorixHandle handle, int32_t mode);

/* Sets the depth of the every-frame ring; it applies from the next preview start in every-frame
 * mode (newest-frame delivery always uses four frame buffers). A preview start that cannot
 * allocate the ring fails with code 6 (the camera did not start).
 * depth: QUORIX_FRAME_RING_DEPTH_MIN..QUORIX_FRAME_RING_DEPTH_MAX frames; default
 *   QUORIX_FRAME_RING_DEPTH_DEFAULT (16: 135 ms at the sensor's 118 frames per second).
 * Returns 1, or 0 with code 9 (depth out of range) or 1 (a preview or the capture state runs; or
 * no camera engine). */
QUORIX_API int Quorix_SetFrameRingDepth(QuorixHandle handle, int32_t depth);

/* Reads the frame statistics of the current acquisition, or of the last one once it stopped.
 * They start afresh when a preview starts, when the capture state is entered and when a snapshot
 * starts from the idle state. Any thread may call this at any time, also while the library's
 * threads count; while acquisition runs the counts are read one after another, so a frame moving
 * on meanwhile may be seen in two neighbouring counts.
 * statistics: receives the record; its `size` must be set first, at least 104. The library
 *   writes the 104 bytes of version 1 (leaving `size` and any bytes beyond them as they are).
 * Returns 1, or 0 with code 9 (statistics NULL), 5 (size below 104) or 1 (no camera engine). */
QUORIX_API int Quorix_GetFrameStatistics(QuorixHandle handle, QuorixFrameStatistics* statistics);

/* =============================================================================================
 * Settings store (Linux)
 * Camera contexts keep their settings in the current user's settings file,
 * $XDG_CONFIG_HOME/quorix/settings.reg (~/.config/quorix/settings.reg when XDG_CONFIG_HOME is not
 * set): a text file in the registry-export format ("Windows Registry Editor Version 5.00", then
 * [HKEY_CURRENT_USER\Software\Voltis\Quorix252DIV3R5Sdk\Camera_00] sections with lines such
 * as "Gain"=dword:00000040), which may be read, edited and carried to another machine. Each
 * camera number has its key (Camera_-1 holds what a context uses before any camera opens), with
 * the format settings and size presets ("Size_00".."Size_99") and the subkeys "Gain", "Filter"
 * and "Gray"; product-wide size presets for Quorix_SetCaptureWindow sit directly under the
 * product key. A context reads them at Quorix_Initialize and Quorix_SetDeviceNumber and writes a
 * camera's values when another camera is selected and at Quorix_Release. Changes are written
 * atomically under a file lock, so processes saving at once lose nothing. A line of the file that
 * cannot be read is left out and reported on stderr with the file name and line number; the
 * rest is read, and the next save writes the file again without that line. Only a file that
 * holds nothing readable as settings (no header line, or no line that reads) is renamed to
 * settings.reg.corrupt-<date>-<time>, when a context reads it or a change is saved, and a line
 * on stderr says where it went; the store then starts empty. A save that fails is reported on
 * stderr with the file name and the system's reason. A settings.reg that is no regular file (a
 * FIFO, a directory) is neither read nor replaced: the store reads as empty and saving to it
 * fails.
 * These calls take no handle; contexts already running keep the values they loaded and write
 * them again when they save.
 * ============================================================================================= */

/* The camera selector of the settings calls for the whole store. */
#define QUORIX_SETTINGS_ALL_CAMERAS (-2147483647 - 1)

/* Writes the path of the current user's settings file (which need not exist yet).
 * buffer, size: receive the path and its terminator when size [bytes] suffices; buffer may be
 *   NULL to ask for the size.
 * Returns the bytes the path needs with its terminator, or 0 when the user has no home directory
 * to keep settings in. */
QUORIX_API int32_t Quorix_GetSettingsPath(char* buffer, int32_t size);

/* Writes the stored settings as registry-export text (UTF-8, lines ending in CR LF).
 * camera: a camera number (-1..99) for that camera's key with its subkeys, or
 *   QUORIX_SETTINGS_ALL_CAMERAS for the whole store.
 * buffer, size: receive the text and its terminator when size [bytes] suffices; buffer may be
 *   NULL to ask for the size.
 * Lines of the settings file that were left out follow the header line as comments
 * ("; <file>: line 12 ignored: <why>; the next save leaves it out"). Reading never changes the
 * settings file.
 * Returns the bytes the text needs with its terminator (the text is only the header line when
 * nothing is stored), or 0 when the settings file exists but cannot be read or holds nothing
 * readable as settings. */
QUORIX_API int32_t Quorix_GetSettingsText(int32_t camera, char* buffer, int32_t size);

/* Writes the stored settings (as Quorix_GetSettingsText) into a file, replaced atomically as
 * described under "Saving files" (Acquisition, window, format and files); the settings file
 * itself is not changed.
 * Returns 1, or 0 when fileName is NULL, the settings cannot be read or the file cannot be
 * written (a FIFO under the name included). */
QUORIX_API int Quorix_ExportSettings(const char* fileName, int32_t camera);

/* Reads a registry-export file (UTF-8 or UTF-16 with its byte-order mark; as written by
 * Quorix_ExportSettings, by hand, or on another machine) into the store: its sections create keys
 * and set values, "[-key]" sections and "Name"=- lines delete. With a camera number only that
 * camera's key and its subkeys change; the file's other keys are ignored.
 * Returns 1, or 0 with the store unchanged when fileName is NULL, the file cannot be read or is
 * no regular file (never waited on: see "Reading files" under Acquisition, window, format and
 * files), is not a registry-export text of HKEY_CURRENT_USER keys, or the store cannot be
 * written. */
QUORIX_API int Quorix_ImportSettings(const char* fileName, int32_t camera);

/* Removes a camera's key with all its values and presets, or with QUORIX_SETTINGS_ALL_CAMERAS
 * every setting of the product, so that contexts start from the defaults again.
 * Returns 1, or 0 when the store cannot be written. */
QUORIX_API int Quorix_ResetSettings(int32_t camera);

/* =============================================================================================
 * Message windows and thread queues (Linux)
 * The library posts its messages (QUORIX_MSG_FRAME, QUORIX_MSG_ERROR) to message windows, or to
 * the posting thread's own queue when the target window is NULL. A message window is a queue that
 * any thread may read; each queue also offers a file descriptor for poll/select loops. A queue
 * holds at most 10,000 messages: while it is full, further messages to it are dropped (the
 * library's log, switched on with QUORIX_LOG, counts them) and the library never waits for it.
 * ============================================================================================= */

/* Creates a message window, to pass as notification, callback or owner window.
 * Returns the window, or NULL on failure. Destroy it with Quorix_DestroyMessageWindow. */
QUORIX_API QuorixWindow Quorix_CreateMessageWindow(void);

/* Destroys a message window: pending messages are discarded, later posts to it are dropped, and
 * threads blocked in Quorix_GetWindowMessage on it wake up and return -1.
 * Returns 1, or 0 for an unknown window. */
QUORIX_API int Quorix_DestroyMessageWindow(QuorixWindow window);

/* Takes the oldest message of a window's queue, waiting for one if none is pending.
 * message: receives it. timeoutMs: longest wait [ms]; 0 does not wait, < 0 waits without limit.
 * Returns 1 when a message was taken, 0 on timeout, -1 for an unknown window or NULL message. */
QUORIX_API int Quorix_GetWindowMessage(QuorixWindow window, QuorixMessage* message,
                                       int32_t timeoutMs);

/* Takes the oldest message of a window's queue without waiting.
 * message: receives it (the message is removed).
 * Returns 1 when a message was taken, 0 when none is pending, -1 for an unknown window or NULL
 * message. */
QUORIX_API int Quorix_PeekWindowMessage(QuorixWindow window, QuorixMessage* message);

/* Returns a file descriptor for poll/select that is readable while messages are pending in the
 * window's queue; read the messages with Quorix_PeekWindowMessage. The descriptor is owned by the
 * library (do not read from or close it) and valid until the window is destroyed.
 * Returns -1 for an unknown window. */
QUORIX_API int Quorix_GetWindowMessageFd(QuorixWindow window);

/* Takes the oldest message of the calling thread's own queue (messages posted to a NULL window by
 * this thread), waiting as Quorix_GetWindowMessage.
 * message: receives it. timeoutMs: longest wait [ms]; 0 does not wait, < 0 waits without limit.
 * Returns 1 when a message was taken, 0 on timeout, -1 for a NULL message. */
QUORIX_API int Quorix_GetThreadMessage(QuorixMessage* message, int32_t timeoutMs);

/* Takes the oldest message of the calling thread's own queue without waiting.
 * message: receives it (the message is removed).
 * Returns 1 when a message was taken, 0 when none is pending, -1 for a NULL message. */
QUORIX_API int Quorix_PeekThreadMessage(QuorixMessage* message);

/* Wraps an X11 window id of the application (a Window on the display named by DISPLAY) as a
 * QuorixWindow, to pass as the parent to Quorix_SetPreviewWindow. The handle needs no release;
 * the X11 window must exist while a preview window is made in it. Messages posted to it are
 * dropped.
 * Returns the handle, or NULL for window id 0. */
QUORIX_API QuorixWindow Quorix_WrapX11Window(unsigned long x11Window);

/* Returns a file descriptor for poll/select that is readable while messages are pending in the
 * calling thread's queue. Owned by the library (do not read from or close it), valid until the
 * thread ends. Returns -1 when the queue could not be set up. */
QUORIX_API int Quorix_GetThreadMessageFd(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QUORIX_QUORIX_H */
