"""quorix: the Quorix 252 camera from Python, frames as numpy arrays.

    import quorix
    print(quorix.cameras())                 # [CameraEntry(index=0, name='Quorix252DIV-USB3-R5_01')]
    with quorix.open(index=0) as cam:
        cam.exposure = 100                  # [100 us]: 10 ms
        image = cam.snap(bits=24)           # H x W x 3 uint8, B G R, top row first
        cam.save("picture.png")
        for frame in cam.stream(bits=8, seconds=2):
            print(frame.number, frame.timestamp, frame.image.mean())

The package calls the SDK's C library (libquorix.so) through ctypes; see quorix.camera for the
image layouts and python/README.md for the whole interface. Every failure raises QuorixError
with the SDK's error code (error.code) and its meaning (error.meaning).
"""

from ._errors import ERROR_MEANINGS, QuorixError
from ._library import load as _load
from .camera import (
    CAMERA_VALUES,
    FILTERS,
    Camera,
    CameraEntry,
    Frame,
    RecordResult,
    cameras,
    open,
)

__all__ = [
    "CAMERA_VALUES",
    "ERROR_MEANINGS",
    "FILTERS",
    "Camera",
    "CameraEntry",
    "Frame",
    "QuorixError",
    "RecordResult",
    "cameras",
    "open",
    "sdk_version",
]


def sdk_version():
    """The loaded library's version as a text, e.g. "2.11.5.33"."""
    version = _load().Quorix_GetDllVersion()
    return ".".join(str((version >> shift) & 0xFF) for shift in (24, 16, 8, 0))
