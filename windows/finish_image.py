#!/usr/bin/env python3
"""Last step of linking tvtuner.sys: refuse global constructors, then write
the PE checksum. On failure the image is removed so that no unchecked image
is left behind."""
import argparse
import os
import sys

import pe_image


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--image", required=True)
    parser.add_argument("--map", required=True)
    args = parser.parse_args()
    try:
        with open(args.map, encoding="utf-8", errors="replace") as f:
            constructors = pe_image.constructor_sections(f.read())
        if constructors:
            raise pe_image.ImageError(
                "global constructors or destructors would never run in the kernel:\n  "
                + "\n  ".join(constructors))
        with open(args.image, "r+b") as f:
            data = bytearray(f.read())
            pe_image.write_checksum(data)
            f.seek(0)
            f.write(data)
    except (pe_image.ImageError, OSError) as error:
        print(f"{args.image}: {error}", file=sys.stderr)
        if os.path.exists(args.image):
            os.remove(args.image)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
