#!/usr/bin/env python3
"""Draws the application icon at the hicolor theme's sizes for the installed desktop entry.

The drawing is app.png's (make_icons.py), scaled from its 32-unit grid, so every size is drawn
rather than resampled. Writes res/icons/hicolor/<N>x<N>/apps/vx418.png.

Run from anywhere: python3 res/make_hicolor_icons.py
"""
from pathlib import Path

from make_icons import app_icon, write_png

SIZES = (16, 32, 48, 128, 256)

if __name__ == '__main__':
    root = Path(__file__).resolve().parent / 'icons' / 'hicolor'
    for size in SIZES:
        folder = root / f'{size}x{size}' / 'apps'
        folder.mkdir(parents=True, exist_ok=True)
        scale = 32.0 / size
        write_png(folder / 'vx418.png', size, lambda x, y, s=scale: app_icon(x * s, y * s))
