#!/usr/bin/env python3
"""Renders the same 1920 x 1080 wallpaper with kvrender and with ImageMagick,
alternating, and prints both medians and their ratio.

The wallpaper: the sample picture "Aurora" (1280 x 720) stretched without
smoothing, a two-line quote at 40 px in Liberation Sans (what "Arial" finds),
written as a 24-bit BMP. Both run as whole processes, as a user or the
service would start them; each run writes a fresh file.

    python3 bench/kvrender_vs_imagemagick.py [--runs N] [--build build]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

QUOTE = "Measure twice, cut once, and write down what you measured, so that the next cut is a better one."


def timed(command, env):
    start = time.perf_counter()
    result = subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    took = time.perf_counter() - start
    if result.returncode != 0:
        sys.exit(f"{command[0]} failed ({result.returncode}): {result.stderr.decode(errors='replace')}")
    return took * 1000.0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=40)
    parser.add_argument("--build", default=str(Path(__file__).resolve().parent.parent / "build"))
    args = parser.parse_args()

    bin_dir = Path(args.build) / "bin"
    kvrender = bin_dir / "kvrender"
    picture = bin_dir / "Backgrounds" / "Aurora.bmp"
    convert = shutil.which("convert-im6.q16") or shutil.which("convert")
    font = "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf"
    for needed in (kvrender, picture, Path(font)):
        if not needed.exists():
            sys.exit(f"missing {needed}: build first, and install fonts-liberation")
    if not convert:
        sys.exit("ImageMagick's convert is not installed (apt-get install imagemagick)")

    home = Path(tempfile.mkdtemp(prefix="kvbench-"))
    try:
        env = dict(os.environ, HOME=str(home), XDG_CONFIG_HOME=str(home / "config"),
                   XDG_DATA_HOME=str(home / "data"), KVILLO_SCREEN="1920x1080")
        env.pop("DISPLAY", None)
        env.pop("XDG_CURRENT_DESKTOP", None)
        ours = [str(kvrender), "--background", "Aurora", "--background-color", "0", "--mode", "1",
                "--font", "Arial", "--size", "40", "--font-color", "16777215", "--quote", QUOTE,
                "--output", str(home / "kvrender.bmp"), "--top", "10", "--bottom", "10", "--left", "10",
                "--right", "10", "--halign", "2", "--valign", "2", "--allow-violation", "1"]
        # ImageMagick needs the line break given; kvrender finds it itself.
        words = QUOTE.split(" ")
        two_lines = " ".join(words[:9]) + "\n" + " ".join(words[9:])
        theirs = [convert, str(picture), "-filter", "point", "-resize", "1920x1080!", "-font", font,
                  "-pointsize", "40", "-fill", "white", "-gravity", "center", "-annotate", "+0+0", two_lines,
                  "-type", "truecolor", "BMP3:" + str(home / "imagemagick.bmp")]

        # One warm-up each: the font cache and the page cache are warm for both.
        timed(ours, env)
        timed(theirs, env)
        kv, im = [], []
        for _ in range(args.runs):
            kv.append(timed(ours, env))
            im.append(timed(theirs, env))
        kv_median, im_median = statistics.median(kv), statistics.median(im)
        print(f"runs: {args.runs} each, alternating, 1920x1080 stretched 1280x720 picture, 40 px two-line quote")
        print(f"kvrender     median {kv_median:7.1f} ms  (min {min(kv):.1f}, max {max(kv):.1f})")
        print(f"ImageMagick  median {im_median:7.1f} ms  (min {min(im):.1f}, max {max(im):.1f})")
        print(f"ratio        ImageMagick / kvrender = {im_median / kv_median:.1f}x")
    finally:
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
