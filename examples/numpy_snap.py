"""numpy_snap.py - takes a picture as a numpy array and saves it.

usage: PYTHONPATH=python python3 examples/numpy_snap.py [FILE.png]
"""

import sys

import quorix

with quorix.open() as cam:  # the first camera listed
    image = cam.snap(bits=24)  # H x W x 3, uint8, B G R, top row first
    cam.save(sys.argv[1] if len(sys.argv) > 1 else "numpy_snap.png")

blue, green, red = image.mean(axis=(0, 1))
print(f"{image.shape[1]} x {image.shape[0]}, mean R G B {red:.1f} {green:.1f} {blue:.1f}")
