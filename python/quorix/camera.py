"""Camera: one opened Quorix 252, with snapshots, a frame stream, files and its settings.

Images are numpy arrays in upright row order (row 0 is the top of the picture) that the caller
owns: every frame is copied out of the SDK into memory of its own, so no later frame changes it.
Pixel layouts by bits per pixel:

    8   H x W      uint8   the sensor's raw mosaic (or gray, see ``gray_mode``)
    16  H x W      uint16  the raw mosaic at full scale (the 12-bit sample x 16)
    24  H x W x 3  uint8   colour in the SDK's order B, G, R (as OpenCV expects it)
    32  H x W x 4  uint8   B, G, R and an unused fourth byte
    48  H x W x 3  uint16  B, G, R at 16 bits per channel
    64  H x W x 4  uint16  B, G, R and an unused fourth word
"""

import ctypes
import os
import select
import time
from collections import namedtuple

import numpy as np

from . import _library as lib
from ._errors import QuorixError

# Row order flag of the SDK's copies: any value other than 0 gives the top row first.
_TOP_ROW_FIRST = 1

# Bits per pixel: (channels, sample type). Samples wider than a byte are little-endian.
_FORMATS = {
    8: (1, np.dtype(np.uint8)),
    16: (1, np.dtype("<u2")),
    24: (3, np.dtype(np.uint8)),
    32: (4, np.dtype(np.uint8)),
    48: (3, np.dtype("<u2")),
    64: (4, np.dtype("<u2")),
}

# Filter values kept by the SDK, by property name: (value ID, minimum, maximum, what it is).
# Their ranges are fixed; the camera values below take theirs from the open camera.
FILTERS = {
    "brightness": (1, -255, 255, "brightness, 0 neutral"),
    "contrast": (2, -127, 127, "contrast, 0 neutral"),
    "hue": (3, -360, 360, "hue rotation of colour images [degrees], 0 neutral"),
    "saturation": (4, -255, 255, "saturation of colour images, 0 neutral, -255 gray"),
    "sharpness": (5, 0, 30, "sharpness (unsharp mask amount [tenths]), 0 off"),
    "bayer_gain_red": (7, 0, 400, "red gain of the demosaicing [percent], 100 neutral"),
    "bayer_gain_green": (8, 0, 400, "green Bayer gain [percent], kept and reported only"),
    "bayer_gain_blue": (9, 0, 400, "blue gain of the demosaicing [percent], 100 neutral"),
    "bayer_gain_auto": (10, 0, 1, "automatic white balance, 0 off, 1 on"),
    "gamma": (11, 0, 200, "gamma [hundredths], 100 neutral"),
    "bayer_mode": (12, 0, 3, "mosaic order at the top-left pixel: 0 GBRG, 1 RGGB, 2 BGGR, 3 GRBG"),
    "gray_mode": (19, 0, 2, "gray processing of 8/16 bits: 0 off, 1 gains, offsets, 2 luminance"),
    "gray_gain_r": (20, 0, 255, "gray gain of the red sites, 128 = x1.0"),
    "gray_gain_g1": (21, 0, 255, "gray gain of the green sites in the red rows, 128 = x1.0"),
    "gray_gain_g2": (22, 0, 255, "gray gain of the green sites in the blue rows, 128 = x1.0"),
    "gray_gain_b": (23, 0, 255, "gray gain of the blue sites, 128 = x1.0"),
    "gray_offset_r": (24, -255, 255, "gray offset of the red sites"),
    "gray_offset_g1": (25, -255, 255, "gray offset of the green sites in the red rows"),
    "gray_offset_g2": (26, -255, 255, "gray offset of the green sites in the blue rows"),
    "gray_offset_b": (27, -255, 255, "gray offset of the blue sites"),
    "dot_filter": (102, 0, 1, "defective pixel filter, 0 off, 1 on"),
    "mask_filter": (103, 0, 1, "flat-field correction, 0 off, 1 on"),
}

# Camera values, sent to the camera: (value ID, field of the camera info record holding the
# minimum, field holding the maximum, what it is).
CAMERA_VALUES = {
    "exposure": (18, "exposureMin", "exposureMax", "exposure time [100 us]"),
    "gain": (13, "gainMin", "gainMax", "analog gain (Quorix 252: 0..480)"),
    "color_gain_red": (14, "colorGainMin", "colorGainMax", "analog gain of the red sites"),
    "color_gain_green1": (15, "colorGainMin", "colorGainMax", "analog gain, green in red rows"),
    "color_gain_green2": (16, "colorGainMin", "colorGainMax", "analog gain, green in blue rows"),
    "color_gain_blue": (17, "colorGainMin", "colorGainMax", "analog gain of the blue sites"),
}

# File formats of save(), by name and by file name extension.
_SAVE_FORMATS = {
    "bmp": lib.SAVE_BMP,
    "raw": lib.SAVE_RAW,
    "jpeg": lib.SAVE_JPEG_HIGH,
    "jpeg-medium": lib.SAVE_JPEG_MEDIUM,
    "jpeg-low": lib.SAVE_JPEG_LOW,
    "png": lib.SAVE_PNG,
    "tiff": lib.SAVE_TIFF,
}
_EXTENSIONS = {
    ".bmp": "bmp",
    ".raw": "raw",
    ".jpg": "jpeg",
    ".jpeg": "jpeg",
    ".png": "png",
    ".tif": "tiff",
    ".tiff": "tiff",
}

# Ends of a recording (QUORIX_RECORD_END_*) that are failures, with the code they raise.
_RECORD_END_FAILURES = {3: 13, 4: 12, 5: 12}
# How long past its duration a recording may take to finish its file, and how often its state is
# looked at meanwhile [s].
_RECORD_GRACE_SECONDS = 10
_RECORD_LOOK_SECONDS = 0.05

CameraEntry = namedtuple("CameraEntry", "index name")
CameraEntry.__doc__ = "A camera that is present: its device index and its name."

RecordResult = namedtuple(
    "RecordResult", "frames_written frames_dropped file_bytes width height frames_per_second"
)
RecordResult.__doc__ = "What a recording wrote: frames, dropped frames, bytes, size and rate."


class Frame:
    """One frame of Camera.stream().

    Attributes:
        image: the picture, a numpy array laid out as the module describes.
        number: the camera's number of the frame. The camera numbers the frames it makes one
            after another, so when two frames yielded in turn differ in number by k + 1, k
            frames came between that the caller did not get: ones the caller passed over by
            being slower than the camera (the stream yields the newest frame whenever it
            looks), or ones lost in the camera, on the USB link or in the library
            (Camera.statistics() tells which).
        timestamp: when the library took the frame from the camera [s], on the clock of
            time.monotonic() (the system's monotonic clock), so it compares with that clock.
    """

    __slots__ = ("image", "number", "timestamp")

    def __init__(self, image, number, timestamp):
        self.image = image
        self.number = number
        self.timestamp = timestamp

    def __array__(self, dtype=None):
        return self.image if dtype is None else self.image.astype(dtype)

    def __repr__(self):
        return f"Frame(number={self.number}, shape={self.image.shape}, dtype={self.image.dtype})"


def _stride(width, bits):
    """Bytes of one image row as the SDK lays it out: padded to a multiple of 4."""
    return (width * bits // 8 + 3) & ~3


def _image(buffer, width, height, bits):
    """The pixels of an SDK image (rows padded to 4 bytes) as an array without the padding."""
    channels, sample = _FORMATS[bits]
    rows = buffer.reshape(height, _stride(width, bits))[:, : width * bits // 8]
    image = rows.view(sample)
    if channels > 1:
        image = image.reshape(height, width, channels)
    # A copy only when rows were padded: the array then owns compact memory.
    return np.ascontiguousarray(image)


# The integer widths of the C API: every value passed must fit, or C would receive another one.
_INT32 = (-(1 << 31), (1 << 31) - 1)
_UINT32 = (0, (1 << 32) - 1)
# The integer ctypes types of the prototypes, by their range.
_CTYPE_RANGES = {
    ctypes.c_int32: _INT32,
    ctypes.c_uint32: _UINT32,
    ctypes.c_size_t: (0, (1 << (8 * ctypes.sizeof(ctypes.c_size_t))) - 1),
}


def _integer(name, value, valid=_INT32):
    """value as an int within the inclusive range `valid`.

    Raises OverflowError naming the argument and the range when the value lies beyond it (C would
    receive its low bits only), and ValueError for a number with a fractional part.
    """
    if isinstance(value, float) and not value.is_integer():
        raise ValueError(f"{name} {value!r} is not a whole number")
    number = int(value)
    low, high = valid
    if not low <= number <= high:
        raise OverflowError(f"{name} {number} is out of range {low}..{high}")
    return number


def _encode_path(path):
    """The file name as the bytes the C library takes; refuses a NUL, which would end it early."""
    encoded = os.fsencode(os.fspath(path))
    if b"\0" in encoded:
        raise ValueError("embedded null byte")
    return encoded


def _check_arguments(name, argtypes, arguments):
    """Refuses an argument the C function cannot take whole: an integer beyond its C type or a
    text with a NUL. The last guard before ctypes, which would pass either on cut short."""
    for position, (argtype, value) in enumerate(zip(argtypes, arguments), start=1):
        if argtype in _CTYPE_RANGES and isinstance(value, int):
            _integer(f"{name} argument {position}", value, _CTYPE_RANGES[argtype])
        elif argtype is ctypes.c_char_p and isinstance(value, bytes) and b"\0" in value:
            raise ValueError("embedded null byte")


def _list_cameras(library, handle):
    names = ((ctypes.c_char * 256) * 10)()
    count = library.Quorix_EnumDevice(handle, names)
    entries = []
    for k in range(count):
        name = names[k].value.decode("ascii", "replace")
        # The name ends in the device index + 1, two digits.
        entries.append(CameraEntry(int(name[-2:]) - 1, name))
    return entries


def cameras():
    """Lists the cameras that are present, in device-index order, as CameraEntry(index, name).

    Device indices are shared by every process of the machine: a camera keeps its index while
    it stays plugged in, so the indices of the cameras present may have gaps.
    """
    library = lib.load()
    handle = library.Quorix_Initialize(None)
    if handle == 0:
        raise QuorixError(0, "Quorix_Initialize")
    try:
        entries = _list_cameras(library, handle)
        if not entries:
            code = library.Quorix_GetLastError(handle)
            if code != 0:
                raise QuorixError(code, "Quorix_EnumDevice")
        return entries
    finally:
        library.Quorix_Release(handle)


class Camera:
    """An opened camera. Use ``quorix.open()`` and close it with ``with`` or close().

    A Camera belongs to the thread that uses it: calls on one Camera from several threads at
    once are not supported. Every failure raises QuorixError with the SDK's code.
    """

    def __init__(self, index=None):
        if index is not None:
            index = _integer("index", index)
        self._lib = lib.load()
        self._handle = 0
        # The SDK posts the code of every failure here, also the codes it keeps in no history.
        self._notify = self._lib.Quorix_CreateMessageWindow()
        if not self._notify:
            raise QuorixError(0, "Quorix_CreateMessageWindow")
        self._message = lib.Message()
        self._handle = self._lib.Quorix_Initialize(self._notify)
        if self._handle == 0:
            self._lib.Quorix_DestroyMessageWindow(self._notify)
            self._notify = None
            raise QuorixError(0, "Quorix_Initialize")
        try:
            if index is None:
                # The first camera listed: the one camera attached, or the lowest index.
                self._posted_codes()
                entries = _list_cameras(self._lib, self._handle)
                if not entries:
                    error = self._fail("Quorix_EnumDevice")
                    raise error if error.code != 0 else QuorixError(2, "open: no camera")
                index = entries[0].index
            self._call("Quorix_SetDeviceNumber", index)
            self._info = lib.CameraInfo(size=ctypes.sizeof(lib.CameraInfo))
            self._call("Quorix_GetCameraInfo", ctypes.byref(self._info))
        except BaseException:
            self.close()
            raise

    # --- Lifetime ------------------------------------------------------------------------------

    def close(self):
        """Stops whatever runs, saves the camera's settings and closes it. Safe to call twice."""
        if self._handle:
            self._lib.Quorix_Release(self._handle)
            self._handle = 0
        if self._notify:
            self._lib.Quorix_DestroyMessageWindow(self._notify)
            self._notify = None

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def __del__(self):
        if getattr(self, "_lib", None) is not None:
            self.close()

    # --- Calls and their errors ----------------------------------------------------------------

    def _posted_codes(self):
        """Takes the error codes posted since the last look, oldest first."""
        codes = []
        while self._lib.Quorix_PeekWindowMessage(self._notify, ctypes.byref(self._message)) == 1:
            if self._message.message == lib.MSG_ERROR:
                codes.append(self._message.lParam)
        return codes

    def _fail(self, operation):
        """The error of a call that just failed: the last code the SDK posted for it (a few
        queries post 0 as a success marker, which is no error)."""
        codes = [code for code in self._posted_codes() if code != 0]
        return QuorixError(codes[-1] if codes else 0, operation)

    def _call(self, name, *arguments, failed=lambda result: result == 0):
        """Calls an SDK function on this camera; raises QuorixError when it reports failure.

        failed: tells a failed result; None for functions whose result cannot tell (a getter
        whose 0 may be a value): they failed when the SDK posted an error code during the call.
        """
        if not self._handle:
            raise QuorixError(1, f"{name}: the camera is closed")
        function = getattr(self._lib, name)
        _check_arguments(name, function.argtypes[1:], arguments)
        # Codes posted earlier (also by the library's threads) belong to no call of ours.
        self._posted_codes()
        result = function(self._handle, *arguments)
        if failed is None:
            error = self._fail(name)
            if error.code != 0:
                raise error
        elif failed(result):
            raise self._fail(name)
        return result

    def _get_value(self, value_id):
        ok = ctypes.c_int32(0)
        value = self._call("Quorix_GetFilterValue", value_id, ctypes.byref(ok),
                           failed=lambda result: False)
        if ok.value == 0:
            raise self._fail(f"Quorix_GetFilterValue({value_id})")
        return value

    def _set_value(self, name, value_id, value):
        self._call("Quorix_SetFilterValue", value_id, _integer(name, value))

    # --- Camera and image format ---------------------------------------------------------------

    @property
    def info(self):
        """The sensor size and the camera's ranges, as a dict (exposure in [100 us])."""
        return {name: getattr(self._info, name) for name, _ in lib.CameraInfo._fields_
                if name not in ("size", "reserved")}

    def range(self, name):
        """(minimum, maximum) of a setting, the SDK's inclusive range."""
        if name in FILTERS:
            return FILTERS[name][1:3]
        if name in CAMERA_VALUES:
            _, low, high, _ = CAMERA_VALUES[name]
            return getattr(self._info, low), getattr(self._info, high)
        if name == "auto_iris":
            return 0, 2
        if name == "subsample":
            return 0, 1
        raise KeyError(name)

    @property
    def bits(self):
        """Output bits per pixel: 8, 16 (raw mosaic), 24, 32, 48 or 64 (colour)."""
        return self._call("Quorix_GetColorMode", failed=lambda result: result < 0)

    @bits.setter
    def bits(self, bits):
        self._call("Quorix_SetColorMode", _integer("bits", bits))

    @property
    def subsample(self):
        """2x2 sub-sampling: 0 full resolution, 1 half the capture window in each direction."""
        return 1 if self._call("Quorix_GetSubSample", failed=lambda r: r < 0) == 1 else 0

    @subsample.setter
    def subsample(self, value):
        if value not in (0, 1):
            # The SDK refuses other values without giving a code.
            raise QuorixError(9, f"subsample {value!r}: 0 or 1")
        self._call("Quorix_SetSubSample", int(value))

    @property
    def window(self):
        """The capture window on the 2048 x 1536 sensor: (x, y, width, height) [pixels].

        Sub-sample 0 takes x, y even, width a multiple of 16 and height of 4; sub-sample 1 takes
        x, y multiples of 4, width a multiple of 32 and height of 8. An invalid window raises
        code 7 and leaves the window as it was.
        """
        values = [ctypes.c_int32() for _ in range(6)]
        self._call("Quorix_GetCaptureWindowEx", *(ctypes.byref(v) for v in values))
        _, x, width, _, y, height = (v.value for v in values)
        return x, y, width, height

    @window.setter
    def window(self, window):
        x, y, width, height = (_integer(name, v) for name, v in
                               zip(("x", "y", "width", "height"), window, strict=True))
        previous = self.window
        try:
            self._set_window(x, y, width, height)
        except QuorixError:
            # The SDK keeps an invalid window that is set while the camera is idle, so that
            # every later frame would fail: the valid one is set again.
            if self.window != previous:
                self._set_window(*previous)
            raise

    def _set_window(self, x, y, width, height):
        self._call("Quorix_SetCaptureWindowEx", self._info.maxWidth, x, width,
                   self._info.maxHeight, y, height)

    @property
    def size(self):
        """(width, height) of the output image [pixels]."""
        width = self._call("Quorix_Width", failed=lambda r: r <= 0)
        height = self._call("Quorix_Height", failed=lambda r: r <= 0)
        if self.subsample:
            return width // 2, height // 2
        return width, height

    # --- Camera controls -----------------------------------------------------------------------

    @property
    def mirror_h(self):
        """Mirror left to right in the camera (bool)."""
        return bool(self._call("Quorix_GetMirrorH", failed=None))

    @mirror_h.setter
    def mirror_h(self, on):
        self._call("Quorix_SetMirrorH", 1 if on else 0)

    @property
    def mirror_v(self):
        """Mirror top to bottom in the camera (bool)."""
        return bool(self._call("Quorix_GetMirrorV", failed=None))

    @mirror_v.setter
    def mirror_v(self, on):
        self._call("Quorix_SetMirrorV", 1 if on else 0)

    @property
    def auto_iris(self):
        """Automatic exposure control: 0 off, 1 adjusts the exposure time, 2 the analog gain."""
        ok = ctypes.c_int32(0)
        return self._call("Quorix_GetAutoIris", ctypes.byref(ok), failed=None)

    @auto_iris.setter
    def auto_iris(self, mode):
        self._call("Quorix_SetAutoIris", _integer("auto_iris", mode))

    # --- Frames ----------------------------------------------------------------------------------

    def _use_bits(self, bits):
        if bits not in _FORMATS:
            raise QuorixError(9, f"bits {bits!r}: 8, 16, 24, 32, 48 or 64")
        if self.bits != bits:
            self.bits = bits

    def _take(self, function, width, height, bits):
        """Calls SnapShot for an image of that layout into new memory."""
        buffer = np.empty(height * _stride(width, bits), np.uint8)
        self._call(function, buffer.ctypes.data, buffer.nbytes, _TOP_ROW_FIRST)
        return _image(buffer, width, height, bits)

    def snap(self, bits=24):
        """Takes one frame and returns it as a numpy array (layouts in the module's description).

        bits: 8 or 16 for the raw mosaic, 24 or 48 for colour (B, G, R), 32 or 64 with a fourth
        unused channel.
        """
        self._use_bits(bits)
        width, height = self.size
        return self._take("Quorix_SnapShot", width, height, bits)

    def _statistics(self):
        statistics = lib.FrameStatistics(size=ctypes.sizeof(lib.FrameStatistics))
        self._call("Quorix_GetFrameStatistics", ctypes.byref(statistics))
        return statistics

    def statistics(self):
        """The SDK's frame statistics of the current or last acquisition, as a dict."""
        statistics = self._statistics()
        return {name: getattr(statistics, name) for name, _ in lib.FrameStatistics._fields_
                if name not in ("size", "version")}

    def _copy_frame(self, info):
        """Copies the last processed frame with the library's record of which frame it is, or
        returns None when a frame larger than the newest frame message described came meanwhile
        (its own message follows).

        info: the library's QuorixFrameInfo record, which sizes the buffer. GetImageEx copies the
        frame and fills the record under one lock, so the picture and its record always belong
        together, whatever frames the library takes meanwhile.
        """
        width, height, bits = info.width, info.height, info.bitsPerPixel
        buffer = np.empty(height * _stride(width, bits), np.uint8)
        record = lib.ImageInfo(size=ctypes.sizeof(lib.ImageInfo))
        try:
            self._call("Quorix_GetImageEx", buffer.ctypes.data, buffer.nbytes, _TOP_ROW_FIRST,
                       ctypes.byref(record))
        except QuorixError as error:
            if error.code != 5:
                raise
            return None
        # The copy is the record's size, which a frame smaller than the buffer leaves room to.
        width, height, bits = record.width, record.height, record.bitsPerPixel
        image = _image(buffer[: height * _stride(width, bits)], width, height, bits)
        return image, record

    def stream(self, bits=24, seconds=None, count=None):
        """Runs the camera continuously and yields its frames as Frame objects.

        bits: as for snap(). seconds: how long [s]; None for as long as the caller iterates.
        count: stop after this many frames; None for no limit.

        The frames come through the library's message window: the loop sleeps in poll() on its
        file descriptor until the library has delivered a frame, then copies the newest frame
        with the record of which frame it is; no frame is yielded twice. When the caller is
        slower than the camera, the frames between are skipped and the numbers show the gap
        (see Frame.number). Leaving the loop (break, an exception, the generator closed) stops
        the camera. A camera that stops sending, e.g. because it was unplugged,
        raises QuorixError with code 13.
        """
        self._use_bits(bits)
        window = self._lib.Quorix_CreateMessageWindow()
        if not window:
            raise QuorixError(0, "Quorix_CreateMessageWindow")
        started = False
        try:
            # No preview window: the frames are only delivered.
            self._call("Quorix_SetPreviewWindow", None, 0, 0, 0, 0)
            self._call("Quorix_SetDeliveryMode", lib.DELIVERY_NEWEST)
            # No buffer of ours: each frame is copied with GetImageEx, which no frame overwrites
            # while it copies and which tells which frame it copied.
            self._call("Quorix_CallBackPreview", window, None, 0, _TOP_ROW_FIRST)
            started = True
            poller = select.poll()
            poller.register(self._lib.Quorix_GetWindowMessageFd(window), select.POLLIN)
            message = lib.Message()
            end = None if seconds is None else time.monotonic() + seconds
            yielded = 0
            last_index = None
            while count is None or yielded < count:
                timeout = None
                if end is not None:
                    timeout = max(0, int((end - time.monotonic()) * 1000))
                    if timeout == 0:
                        return
                if not poller.poll(timeout):
                    continue
                info = None
                while self._lib.Quorix_PeekWindowMessage(window, ctypes.byref(message)) == 1:
                    if message.message != lib.MSG_FRAME:
                        continue
                    if message.wParam == 0:
                        # The frames ended: lParam says why (13 transfer stopped, 8, 5).
                        raise QuorixError(message.lParam, "stream")
                    # wParam: the address of the context's frame info record.
                    info = lib.FrameInfo.from_address(message.wParam)
                if info is None:
                    continue
                copied = self._copy_frame(info)
                if copied is None:
                    continue
                image, record = copied
                if record.frameIndex == last_index:
                    # Yielded already: the copy after an earlier message took this frame, which
                    # had been processed by then; its own message came after that.
                    continue
                last_index = record.frameIndex
                yielded += 1
                yield Frame(image, record.frameNumber, record.timestampUs / 1e6)
        finally:
            if started:
                self._lib.Quorix_StopPreview(self._handle)
            self._lib.Quorix_DestroyMessageWindow(window)

    # --- Files -----------------------------------------------------------------------------------

    def save(self, path, format=None):
        """Saves the last frame (of snap() or stream()) to a file.

        format: "bmp", "raw", "jpeg" (quality 100), "jpeg-medium" (70), "jpeg-low" (20), "png"
        or "tiff"; by default the one the file name's extension names. A failed save leaves no
        file behind.
        """
        if format is None:
            extension = os.path.splitext(os.fspath(path))[1].lower()
            if extension not in _EXTENSIONS:
                raise QuorixError(9, f"save: no image format for the extension {extension!r}")
            format = _EXTENSIONS[extension]
        if format not in _SAVE_FORMATS:
            raise QuorixError(9, f"save: unknown format {format!r}")
        self._call("Quorix_SaveImage", _encode_path(path), _SAVE_FORMATS[format])

    def record(self, path, seconds, bits=None):
        """Records the camera's frames for some seconds into an uncompressed AVI file.

        Every frame in camera order is offered to the file (24-bit frames; 8/16-bit output as
        gray). Returns a RecordResult once the file is finished. A recording that the camera or
        the disk ended early raises QuorixError (13: the frames ended, 12: the file could not
        take them); the file then still holds every frame written.
        """
        # The library takes the duration as 32-bit milliseconds.
        longest = _UINT32[1] / 1000
        try:
            milliseconds = round(float(seconds) * 1000)
        except OverflowError:  # beyond a float, or infinite
            raise OverflowError(f"seconds {seconds!r} is out of range 0.001..{longest}") from None
        if milliseconds <= 0:
            raise QuorixError(9, f"record: seconds {seconds!r}")
        if milliseconds > _UINT32[1]:
            raise OverflowError(f"seconds {seconds!r} is out of range 0.001..{longest}")
        if bits is not None:
            self._use_bits(bits)
        wait = self._call("Quorix_GetWaitTime", failed=lambda r: r < 0)
        # Every frame at the camera's rate: no pause before frames, every frame delivered.
        self._call("Quorix_SetWaitTime", 0)
        status = lib.RecordStatus(size=ctypes.sizeof(lib.RecordStatus))
        try:
            self._call("Quorix_SetDeliveryMode", lib.DELIVERY_EVERY_FRAME)
            self._call("Quorix_Record", _encode_path(path), milliseconds, 0)
            # The recording ends by itself its duration after its first frame, or earlier when
            # the frames or the disk end it; its state says when the file is finished.
            deadline = time.monotonic() + seconds + _RECORD_GRACE_SECONDS
            while True:
                self._call("Quorix_GetRecordStatus", ctypes.byref(status))
                if status.state == lib.RECORD_FINISHED or time.monotonic() > deadline:
                    break
                time.sleep(_RECORD_LOOK_SECONDS)
        finally:
            self._lib.Quorix_StopPreview(self._handle)
            self._lib.Quorix_SetWaitTime(self._handle, wait)
        if status.state != lib.RECORD_FINISHED:
            raise QuorixError(8, f"record: not finished {_RECORD_GRACE_SECONDS} s after its time")
        if status.endReason in _RECORD_END_FAILURES:
            codes = self._posted_codes()
            raise QuorixError(codes[-1] if codes else _RECORD_END_FAILURES[status.endReason],
                              f"record: ended after {status.framesWritten} frames")
        return RecordResult(status.framesWritten, status.framesDropped, status.fileBytes,
                            status.width, status.height, status.rate / 100.0)


def _make_property(name, value_id, doc):
    def get(camera):
        return camera._get_value(value_id)

    def set(camera, value):
        camera._set_value(name, value_id, value)

    return property(get, set, doc=doc)


for _name, (_id, _low, _high, _what) in FILTERS.items():
    setattr(Camera, _name, _make_property(_name, _id, f"{_what}; {_low}..{_high}"))
for _name, (_id, _low, _high, _what) in CAMERA_VALUES.items():
    setattr(Camera, _name, _make_property(_name, _id, f"{_what}; the camera's range, see range()"))


def open(index=None):  # noqa: A001 - the package's documented name
    """Opens a camera and returns a Camera.

    index: the camera's device index (see cameras()); None for the first camera listed, which
    is the one camera attached when there is only one.
    """
    return Camera(index)
