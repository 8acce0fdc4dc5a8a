"""python3 -m quorix list | snap: lists the cameras, or takes a picture and saves it."""

import argparse
import sys

from . import QuorixError, cameras, open


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m quorix", description=__doc__)
    commands = parser.add_subparsers(dest="command", required=True)
    commands.add_parser("list", help="list the cameras that are present")
    snap = commands.add_parser("snap", help="take a picture and save it")
    snap.add_argument("-o", "--output", default="quorix-snap.png",
                      help="image file; its extension names the format (default %(default)s)")
    snap.add_argument("--bits", type=int, default=24, choices=(8, 16, 24, 32, 48, 64),
                      help="bits per pixel: 8/16 raw mosaic, 24..64 colour (default 24)")
    snap.add_argument("--camera", type=int, default=None,
                      help="device index (default: the first camera listed)")
    arguments = parser.parse_args(argv)
    try:
        if arguments.command == "list":
            entries = cameras()
            if not entries:
                print("no camera is attached")
            for entry in entries:
                print(f"{entry.index}: {entry.name}")
            return 0
        with open(arguments.camera) as camera:
            image = camera.snap(bits=arguments.bits)
            camera.save(arguments.output)
        print(f"{arguments.output}: {image.shape[1]} x {image.shape[0]}, {arguments.bits} bits")
        return 0
    except QuorixError as error:
        print(f"quorix: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
