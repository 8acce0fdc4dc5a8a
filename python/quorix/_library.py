"""Finds and loads libquorix.so and declares the C functions the package calls.

The library is looked for, in this order:

1. the path in the environment variable ``QUORIX_LIBRARY`` (when it is set, nothing else);
2. the build tree of the source checkout this package sits in (``<checkout>/build/libquorix.so``),
   so that ``PYTHONPATH=python python3 -m quorix list`` works right after a build;
3. the dynamic loader's search path (``LD_LIBRARY_PATH``, ``/etc/ld.so.conf``), as an installed
   library is found.

Only the public C interface of ``include/quorix/quorix.h`` is used; the records below are laid out
exactly as the header lays them out.
"""

import ctypes
import os
import threading

# --- Records of the public header ------------------------------------------------------------


class CameraInfo(ctypes.Structure):
    """QuorixCameraInfo: sensor size and the camera's gain and exposure ranges (56 bytes)."""

    _fields_ = [
        ("size", ctypes.c_uint32),
        ("maxWidth", ctypes.c_uint32),
        ("maxHeight", ctypes.c_uint32),
        ("gainMin", ctypes.c_int32),
        ("gainMax", ctypes.c_int32),
        ("colorGainMin", ctypes.c_int32),
        ("colorGainMax", ctypes.c_int32),
        ("exposureMin", ctypes.c_int32),
        ("exposureMax", ctypes.c_int32),
        ("reserved", ctypes.c_uint32),
        ("exposureExMin", ctypes.c_double),
        ("exposureExMax", ctypes.c_double),
    ]


class Message(ctypes.Structure):
    """QuorixMessage: one message taken from a message window's queue (32 bytes)."""

    _fields_ = [
        ("window", ctypes.c_void_p),
        ("message", ctypes.c_uint32),
        ("reserved", ctypes.c_uint32),
        ("wParam", ctypes.c_size_t),
        ("lParam", ctypes.c_ssize_t),
    ]


class FrameInfo(ctypes.Structure):
    """QuorixFrameInfo: the record a frame message's wParam points to (32 bytes)."""

    _fields_ = [
        ("zero", ctypes.c_uint32),
        ("width", ctypes.c_uint32),
        ("height", ctypes.c_uint32),
        ("bitsPerPixel", ctypes.c_uint32),
        ("frameRate", ctypes.c_uint32),
        ("padding", ctypes.c_uint32),
        ("callbackBuffer", ctypes.c_uint64),
    ]


class FrameStatistics(ctypes.Structure):
    """QuorixFrameStatistics: what became of the frames of the current acquisition (104 bytes)."""

    _fields_ = [
        ("size", ctypes.c_uint32),
        ("version", ctypes.c_uint32),
        ("framesReceived", ctypes.c_uint64),
        ("framesDelivered", ctypes.c_uint64),
        ("framesOvertaken", ctypes.c_uint64),
        ("framesFailed", ctypes.c_uint64),
        ("failedTransfer", ctypes.c_uint64),
        ("failedFrame", ctypes.c_uint64),
        ("failedBuffer", ctypes.c_uint64),
        ("failedRingFull", ctypes.c_uint64),
        ("failedStopped", ctypes.c_uint64),
        ("framesPending", ctypes.c_uint64),
        ("framesSkipped", ctypes.c_uint64),
        ("newestFrameNumber", ctypes.c_int64),
    ]


class RecordStatus(ctypes.Structure):
    """QuorixRecordStatus: state of the current or last recording (56 bytes)."""

    _fields_ = [
        ("size", ctypes.c_uint32),
        ("version", ctypes.c_uint32),
        ("state", ctypes.c_uint32),
        ("endReason", ctypes.c_uint32),
        ("framesWritten", ctypes.c_uint64),
        ("framesDropped", ctypes.c_uint64),
        ("fileBytes", ctypes.c_uint64),
        ("width", ctypes.c_uint32),
        ("height", ctypes.c_uint32),
        ("rate", ctypes.c_uint32),
        ("elapsedMs", ctypes.c_uint32),
    ]


for _record, _size in ((CameraInfo, 56), (Message, 32), (FrameInfo, 32), (FrameStatistics, 104),
                      (RecordStatus, 56)):
    assert ctypes.sizeof(_record) == _size, _record.__name__

# --- Constants of the public header ----------------------------------------------------------

MSG_FRAME = 0x8002
MSG_ERROR = 0x8003

DELIVERY_NEWEST = 0
DELIVERY_EVERY_FRAME = 1

RECORD_RUNNING = 1
RECORD_FINISHED = 2

SAVE_BMP = 0
SAVE_RAW = 1
SAVE_JPEG_HIGH = 2
SAVE_JPEG_MEDIUM = 3
SAVE_JPEG_LOW = 4
SAVE_PNG = 5
SAVE_TIFF = 6

# --- Function prototypes ---------------------------------------------------------------------

_handle = ctypes.c_uint32
_int = ctypes.c_int
_i32 = ctypes.c_int32
_u32 = ctypes.c_uint32
_ptr = ctypes.c_void_p
_text = ctypes.c_char_p
_i32p = ctypes.POINTER(ctypes.c_int32)

# name: (result type, argument types)
_PROTOTYPES = {
    "Quorix_GetDllVersion": (_u32, []),
    "Quorix_Initialize": (_handle, [_ptr]),
    "Quorix_Release": (_int, [_handle]),
    "Quorix_GetLastError": (_u32, [_handle]),
    "Quorix_EnumDevice": (_i32, [_handle, ctypes.c_void_p]),
    "Quorix_SetDeviceNumber": (_int, [_handle, _i32]),
    "Quorix_GetCameraInfo": (_int, [_handle, ctypes.POINTER(CameraInfo)]),
    "Quorix_SetColorMode": (_int, [_handle, _i32]),
    "Quorix_GetColorMode": (_i32, [_handle]),
    "Quorix_SnapShot": (_int, [_handle, _ptr, _u32, _i32]),
    "Quorix_GetImage": (_int, [_handle, _ptr, _u32, _i32]),
    "Quorix_Width": (_i32, [_handle]),
    "Quorix_Height": (_i32, [_handle]),
    "Quorix_SetSubSample": (_int, [_handle, _i32]),
    "Quorix_GetSubSample": (_i32, [_handle]),
    "Quorix_SetCaptureWindowEx": (_int, [_handle, _i32, _i32, _i32, _i32, _i32, _i32]),
    "Quorix_GetCaptureWindowEx": (_int, [_handle, _i32p, _i32p, _i32p, _i32p, _i32p, _i32p]),
    "Quorix_SetPreviewWindow": (_int, [_handle, _ptr, _i32, _i32, _i32, _i32]),
    "Quorix_CallBackPreview": (_int, [_handle, _ptr, _ptr, _u32, _i32]),
    "Quorix_StopPreview": (_int, [_handle]),
    "Quorix_SetDeliveryMode": (_int, [_handle, _i32]),
    "Quorix_GetFrameStatistics": (_int, [_handle, ctypes.POINTER(FrameStatistics)]),
    "Quorix_SetWaitTime": (_int, [_handle, _i32]),
    "Quorix_GetWaitTime": (_i32, [_handle]),
    "Quorix_Record": (_int, [_handle, _text, _u32, _i32]),
    "Quorix_GetRecordStatus": (_int, [_handle, ctypes.POINTER(RecordStatus)]),
    "Quorix_SaveImage": (_int, [_handle, _text, _i32]),
    "Quorix_GetFilterValue": (_i32, [_handle, _i32, _i32p]),
    "Quorix_SetFilterValue": (_int, [_handle, _i32, _i32]),
    "Quorix_SetMirrorH": (_int, [_handle, _i32]),
    "Quorix_SetMirrorV": (_int, [_handle, _i32]),
    "Quorix_GetMirrorH": (_i32, [_handle]),
    "Quorix_GetMirrorV": (_i32, [_handle]),
    "Quorix_SetAutoIris": (_int, [_handle, _i32]),
    "Quorix_GetAutoIris": (_i32, [_handle, _i32p]),
    "Quorix_CreateMessageWindow": (_ptr, []),
    "Quorix_DestroyMessageWindow": (_int, [_ptr]),
    "Quorix_PeekWindowMessage": (_int, [_ptr, ctypes.POINTER(Message)]),
    "Quorix_GetWindowMessageFd": (_int, [_ptr]),
}

LIBRARY_NAME = "libquorix.so"
_SONAME = "libquorix.so.2"


def candidate_paths():
    """The places the library is looked for, in order (see the module's description)."""
    configured = os.environ.get("QUORIX_LIBRARY")
    if configured:
        # The library the user named, or none: another copy would hide the mistake.
        return [configured]
    checkout = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    built = os.path.join(checkout, "build", LIBRARY_NAME)
    # Plain names: the dynamic loader searches its path for them.
    return ([built] if os.path.exists(built) else []) + [_SONAME, LIBRARY_NAME]


_lock = threading.Lock()
_library = None


def load():
    """Returns the loaded library with its prototypes declared; loads it on first use.

    Raises OSError naming every place tried when the library cannot be loaded.
    """
    global _library
    with _lock:
        if _library is not None:
            return _library
        failures = []
        for path in candidate_paths():
            try:
                library = ctypes.CDLL(path)
            except OSError as error:
                failures.append(f"{path}: {error}")
                continue
            for name, (result, arguments) in _PROTOTYPES.items():
                function = getattr(library, name)
                function.restype = result
                function.argtypes = arguments
            _library = library
            return library
        raise OSError(
            "libquorix.so could not be loaded (set QUORIX_LIBRARY to its path): "
            + "; ".join(failures)
        )
