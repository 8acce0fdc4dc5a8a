"""The quorix package against an emulated camera (quorix-camsim, see conftest.py).

Expected pixels come from the emulated camera's scene (sim/scene.h) at the default exposure and
gain, where a sample is the scene's nominal 12-bit value: value >> 4 at 8 bits, value << 4 at 16
bits. Scene, row 0 at the top: rows 0..767 hold 3 x 8 colour patches of 256 x 256 pixels, rows
768..1023 a horizontal gray ramp (2 x column), rows 1024..1279 a vertical gray ramp
(16 x (row - 1024)); rows 1408..1535 carry the frame's number as 32 cells of 64 x 64 pixels at
rows 1440..1503, bit k in columns 64 k..64 k + 63, bright when set. Colour filter: G R on even
rows, B G on odd rows.
"""

import ctypes
import os
import subprocess
import sys
import time

import numpy as np
import pytest

import quorix
from quorix import _library
from conftest import FRAMES_PER_SECOND, Daemon

# Patch colours (red, green, blue), 12 bits, patch (i, j) at index 8 i + j.
PATCH_RED = 5  # (3200, 400, 400)
PATCH_MIXED = 16  # (2000, 1200, 400): every channel different
PATCH_COLOURS = {PATCH_RED: (3200, 400, 400), PATCH_MIXED: (2000, 1200, 400)}


def patch_centre(patch):
    return 256 * (patch // 8) + 128, 256 * (patch % 8) + 128


def scale(value, bits):
    """A 12-bit scene value as a sample of an output with 8- or 16-bit samples."""
    return value >> 4 if bits in (8, 24, 32) else value << 4


def tolerance(bits):
    """Rounding only: two steps of the 8-bit scale, or two converter steps at 16 bits."""
    return 2 if bits in (8, 24, 32) else 2 << 4


def frame_code(image):
    """The frame number the emulated camera drew into an 8-bit raw frame, full or sub-sampled
    (half the scene's coordinates)."""
    half = 2 if image.shape == (768, 1024) else 1
    cells = image[(1440 + 32) // half, 32 // half :: 64 // half][:32]
    return sum(1 << k for k, cell in enumerate(cells) if cell > 128)


@pytest.mark.parametrize("bits", [8, 16, 24, 32, 48, 64])
def test_snap_shape_dtype_and_upright_scene(cam, bits):
    """Catches a wrong shape, sample type, channel order or row order for each output format."""
    image = cam.snap(bits=bits)
    channels = {8: None, 16: None, 24: 3, 32: 4, 48: 3, 64: 4}[bits]
    dtype = np.uint8 if bits in (8, 24, 32) else np.uint16
    assert image.dtype == dtype
    assert image.shape == ((1536, 2048) if channels is None else (1536, 2048, channels))
    near = tolerance(bits)
    for patch, (red, green, blue) in PATCH_COLOURS.items():
        row, column = patch_centre(patch)
        if channels is None:
            # Raw mosaic: even rows G R, odd rows B G.
            assert abs(int(image[row, column + 1]) - scale(red, bits)) <= near
            assert abs(int(image[row, column]) - scale(green, bits)) <= near
            assert abs(int(image[row + 1, column]) - scale(blue, bits)) <= near
        else:
            expected = [scale(blue, bits), scale(green, bits), scale(red, bits)]
            assert np.all(np.abs(image[row, column, :3].astype(int) - expected) <= near), patch
    # Row order: the vertical ramp grows downwards (row 1100: 16 x 76 = 1216); the demosaic may
    # take a neighbouring row's value.
    ramp = image[1100, 1024] if channels is None else image[1100, 1024, 1]
    assert abs(int(ramp) - scale(1216, bits)) <= near + scale(16, bits)


@pytest.mark.parametrize("bits", [8, 24, 48])
def test_snap_equals_c_api_frame(cam, bits):
    """Catches pixels that the package moves, drops or changes on the way from the SDK: the C
    API's own snapshot of the same settings, bottom row first, turned upright here."""
    cam.window = (256, 128, 1024, 768)
    cam.mirror_h = True
    image = cam.snap(bits=bits)
    library = _library.load()
    stride = (1024 * bits // 8 + 3) & ~3
    buffer = (ctypes.c_uint8 * (768 * stride))()
    assert library.Quorix_SnapShot(cam._handle, buffer, len(buffer), 0) == 1
    rows = np.frombuffer(buffer, np.uint8).reshape(768, stride)[::-1, : 1024 * bits // 8]
    expected = rows.view(image.dtype).reshape(image.shape)
    # The window holds only the still part of the scene, the same in every frame.
    np.testing.assert_array_equal(image, expected)


def test_stream_yields_every_frame_in_order(cam):
    """Catches lost, repeated or mislabelled frames (also a frame yielded again when a late copy
    took it before its message came), frames overwritten after they were yielded,
    time stamps on another clock or scale, and a camera left running: at the emulator's rate
    every frame the camera made reaches the caller, with consecutive camera frame numbers, and
    each picture shows the number its frame carries."""
    cam.subsample = 1  # a quarter of the bytes to copy
    copy = cam._copy_frame

    def first_copy_late(info):
        # The next frame is processed before this copy, which takes it; that frame's own message
        # then finds it again as the newest frame, and it must not be yielded twice.
        cam._copy_frame = copy
        time.sleep(1.5 / FRAMES_PER_SECOND)
        return copy(info)

    cam._copy_frame = first_copy_late
    started = time.monotonic()
    frames = list(cam.stream(bits=8, count=25))
    ended = time.monotonic()
    numbers = [frame.number for frame in frames]
    assert numbers == list(range(numbers[0], numbers[0] + 25))
    assert [frame_code(frame.image) for frame in frames] == numbers
    stamps = [frame.timestamp for frame in frames]
    assert started <= stamps[0] and stamps == sorted(set(stamps)) and stamps[-1] <= ended
    # The loop's end stopped the camera: a snapshot is refused with code 1 while it runs.
    assert cam.snap(bits=8).shape == (768, 1024)


def test_stream_follows_a_live_change(cam):
    """Catches a stream that ends, or yields a frame cut to the wrong size, when the sub-sampling
    changes while the camera runs: every frame yielded shows its own picture whole."""
    cam.subsample = 1
    shapes, codes = [], []
    for frame in cam.stream(bits=8, seconds=30):
        shapes.append(frame.image.shape)
        codes.append(frame_code(frame.image))
        if len(shapes) == 3:
            # A frame of the old size is delivered meanwhile and waits for the loop.
            time.sleep(3 / FRAMES_PER_SECOND)
            cam.subsample = 0
        if shapes.count((1536, 2048)) == 3:
            break
    assert shapes == [(768, 1024)] * (len(shapes) - 3) + [(1536, 2048)] * 3
    assert codes == sorted(codes) and len(set(codes)) == len(codes)


def test_properties_round_trip_and_refuse_out_of_range(cam):
    """Catches a property that writes or reads another SDK value, and a refused value that does
    not raise code 9 or changes the setting."""
    # The camera values are read from the camera, which takes them when acquisition starts.
    camera_values = {"exposure": 50, "gain": 100}
    for name, value in camera_values.items():
        setattr(cam, name, value)
    cam.snap(bits=8)
    for name, value in camera_values.items():
        assert getattr(cam, name) == value, name
    for name in list(quorix.FILTERS) + list(quorix.CAMERA_VALUES) + ["auto_iris"]:
        low, high = cam.range(name)
        for value in (high, low):
            setattr(cam, name, value)
            if name not in quorix.CAMERA_VALUES:
                assert getattr(cam, name) == value, name
        if name == "bayer_gain_auto":
            continue  # a switch: the SDK takes any value, non-zero as on
        for value in (low - 1, high + 1):
            with pytest.raises(quorix.QuorixError) as refused:
                setattr(cam, name, value)
            assert refused.value.code == 9, name
            if name not in quorix.CAMERA_VALUES:
                assert getattr(cam, name) == low, name
    for name in ("mirror_h", "mirror_v"):
        setattr(cam, name, True)
        assert getattr(cam, name) is True
    cam.subsample = 1
    assert cam.subsample == 1 and cam.size == (1024, 768)
    with pytest.raises(quorix.QuorixError) as refused:
        cam.subsample = 2
    assert refused.value.code == 9
    cam.window = (512, 256, 1024, 512)
    assert cam.window == (512, 256, 1024, 512) and cam.size == (512, 256)
    with pytest.raises(quorix.QuorixError) as refused:
        cam.window = (2, 0, 2048, 1536)  # beyond the sensor's right edge
    assert refused.value.code == 7
    assert cam.window == (512, 256, 1024, 512)
    assert cam.snap(bits=8).shape == (256, 512)


@pytest.mark.parametrize("argument, call", [
    ("index", lambda cam, folder: quorix.open(2**40)),  # would open camera 0
    ("x", lambda cam, folder: setattr(cam, "window", (2**33, 0, 64, 64))),  # x 0
    ("height", lambda cam, folder: setattr(cam, "window", (0, 0, 64, 2**32 + 64))),  # 64
    ("seconds", lambda cam, folder: cam.record(folder / "long.avi", 4294967.297)),  # 1 ms
    ("gain", lambda cam, folder: setattr(cam, "gain", 2**32 + 100)),  # gain 100
    ("brightness", lambda cam, folder: setattr(cam, "brightness", -(2**32) + 5)),  # 5
    ("bits", lambda cam, folder: setattr(cam, "bits", 2**32 + 8)),  # 8 bits
    ("auto_iris", lambda cam, folder: setattr(cam, "auto_iris", 2**32 + 1)),  # on
])
def test_integers_beyond_the_c_width_are_refused(cam, tmp_path, argument, call):
    """Catches an integer that reaches C cut to its low 32 bits, which turns it into another
    valid value the caller never asked for (in the comments): it must raise OverflowError
    naming the argument, and change nothing."""
    folder = tmp_path / "files"
    folder.mkdir()
    window = cam.window
    with pytest.raises(OverflowError, match=argument):
        call(cam, folder)
    assert cam.window == window
    assert list(folder.iterdir()) == []


@pytest.mark.parametrize("operation", ["save", "record"])
def test_file_names_with_a_nul_are_refused(cam, tmp_path, operation):
    """Catches a file name cut at its NUL: "a\\0b.png" would write the file "a"."""
    folder = tmp_path / "files"
    folder.mkdir()
    cam.snap(bits=8)
    with pytest.raises(ValueError, match="embedded null byte"):
        if operation == "save":
            cam.save(folder / "a\0b.png")
        else:
            cam.record(folder / "a\0b.avi", 0.2)
    assert list(folder.iterdir()) == []


def test_unplugged_camera_raises_13_and_opens_again(tmp_path, monkeypatch):
    """Catches a stream that hangs or ends quietly when the camera goes away, and a camera that
    cannot be opened again afterwards (a context or device index left behind)."""
    directory = tmp_path / "unplug"
    monkeypatch.setenv("QUORIX_SIM_DIR", str(directory))
    daemon = Daemon(directory)
    try:
        with quorix.open() as camera:
            with pytest.raises(quorix.QuorixError) as stopped:
                for seen, _ in enumerate(camera.stream(bits=8, seconds=30)):
                    if seen == 2:
                        daemon.stop()
            assert stopped.value.code == 13
        daemon = Daemon(directory)
        with quorix.open() as camera:
            assert camera.snap(bits=8).shape == (1536, 2048)
    finally:
        daemon.stop()


def test_save_and_record(cam, tmp_path):
    """Catches files that are not written whole and a recording that reports what it did not
    write."""
    cam.snap(bits=24)
    picture = tmp_path / "picture.png"
    cam.save(picture)
    header = picture.read_bytes()[:24]
    assert header[:8] == b"\x89PNG\r\n\x1a\n"
    size = int.from_bytes(header[16:20], "big"), int.from_bytes(header[20:24], "big")
    assert size == (2048, 1536)
    with pytest.raises(quorix.QuorixError) as refused:
        cam.save(tmp_path / "picture.gif")
    assert refused.value.code == 9

    movie = tmp_path / "movie.avi"
    cam.subsample = 1  # a quarter of the bytes
    result = cam.record(movie, 0.5, bits=24)
    assert result.frames_written > 0 and (result.width, result.height) == (1024, 768)
    assert movie.stat().st_size == result.file_bytes
    assert movie.read_bytes()[:4] == b"RIFF"


def test_command_line(daemon, tmp_path):
    """Catches a command line that fails or lists what the package does not."""
    environment = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(quorix.__file__)))
    listed = subprocess.run([sys.executable, "-m", "quorix", "list"], env=environment,
                            capture_output=True, text=True, check=True)
    name = quorix.cameras()[0].name
    assert listed.stdout.strip() == f"{int(name[-2:]) - 1}: {name}"
    shot = tmp_path / "cli.bmp"
    subprocess.run([sys.executable, "-m", "quorix", "snap", "--bits", "8", "-o", str(shot)],
                   env=environment, capture_output=True, check=True)
    assert shot.read_bytes()[:2] == b"BM"


def test_library_named_by_quorix_library_is_the_one_loaded(tmp_path):
    """Catches QUORIX_LIBRARY being passed over for another copy of the library (the build tree's
    or an installed one)."""
    missing = str(tmp_path / "libquorix-missing.so")
    environment = dict(os.environ, QUORIX_LIBRARY=missing,
                       PYTHONPATH=os.path.dirname(os.path.dirname(quorix.__file__)))
    run = subprocess.run([sys.executable, "-c", "import quorix; quorix.cameras()"],
                         env=environment, capture_output=True, text=True)
    assert run.returncode != 0 and missing in run.stderr
