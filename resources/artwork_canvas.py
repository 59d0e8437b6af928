"""Drawing helpers for draw_artwork.py: supersampled cairo surfaces, premultiplied pixel
arrays, crisp 1:1 text, and writing the PNG files in the formats the editor expects.

Pixel arrays are numpy float arrays (height, width, 4) of premultiplied red, green, blue
and alpha in 0..1. Debian 12: python3-cairo python3-numpy python3-pil fonts-liberation2.
"""

import math

import cairo
import numpy as np
from PIL import Image

import png_stored

SS = 4  # supersampling factor for shapes
# Pixels per panel unit of the images being drawn: 1 for the panel's own set, 2 for the set
# drawn for dense screens. Everything is described in panel units; only the pixels change.
D = 1


def set_density(density):
    global D
    D = density
FONT = "Liberation Sans"
SILK = (0.86, 0.86, 0.83)  # silkscreen print


# ---------------------------------------------------------------- surfaces and pixels


def big_surface(w, h):
    """A supersampled ARGB surface of w x h units with a context that draws in units."""
    surf = cairo.ImageSurface(cairo.FORMAT_ARGB32, w * SS * D, h * SS * D)
    ctx = cairo.Context(surf)
    ctx.scale(SS * D, SS * D)
    return surf, ctx


def premul(surf):
    """Premultiplied RGBA floats 0..1 of a cairo ARGB32 surface (BGRA bytes in memory)."""
    surf.flush()
    h, w, stride = surf.get_height(), surf.get_width(), surf.get_stride()
    buf = np.frombuffer(surf.get_data(), np.uint8).reshape(h, stride // 4, 4)[:, :w]
    return buf[..., [2, 1, 0, 3]].astype(np.float64) / 255.0


def downsample(arr, f=SS):
    h, w = arr.shape[0] // f, arr.shape[1] // f
    return arr.reshape(h, f, w, f, arr.shape[2]).mean(axis=(1, 3))


def to_surface(arr):
    """A 1:1 cairo surface holding the premultiplied RGBA floats."""
    h, w = arr.shape[:2]
    surf = cairo.ImageSurface(cairo.FORMAT_ARGB32, w, h)
    stride = surf.get_stride()
    data = np.ndarray((h, stride // 4, 4), np.uint8, surf.get_data())
    data[:, :w] = np.clip(arr[..., [2, 1, 0, 3]] * 255.0 + 0.5, 0, 255).astype(np.uint8)
    surf.mark_dirty()
    return surf


def straight_rgba(arr):
    """Premultiplied floats to straight (non-premultiplied) 8-bit RGBA."""
    a = arr[..., 3:4]
    rgb = np.where(a > 0, arr[..., :3] / np.maximum(a, 1e-9), 0.0)
    out = np.concatenate([rgb, a], axis=2)
    return np.clip(out * 255.0 + 0.5, 0, 255).astype(np.uint8)


def paint_array(ctx, arr, x, y):
    """Composites premultiplied floats (at supersampled resolution) at (x, y) in units."""
    src = to_surface(arr)
    ctx.save()
    ctx.translate(x, y)
    ctx.scale(1.0 / (SS * D), 1.0 / (SS * D))
    ctx.set_source_surface(src, 0, 0)
    ctx.paint()
    ctx.restore()


def rounded(ctx, x0, y0, x1, y1, r):
    ctx.new_sub_path()
    ctx.arc(x1 - r, y0 + r, r, -math.pi / 2, 0)
    ctx.arc(x1 - r, y1 - r, r, 0, math.pi / 2)
    ctx.arc(x0 + r, y1 - r, r, math.pi / 2, math.pi)
    ctx.arc(x0 + r, y0 + r, r, math.pi, 1.5 * math.pi)
    ctx.close_path()


# ---------------------------------------------------------------- text at the final pixels


def text_context(surf):
    """Draws in units on a surface of final pixels, hinted at the pixels' own size."""
    ctx = cairo.Context(surf)
    ctx.scale(D, D)
    opts = cairo.FontOptions()
    opts.set_antialias(cairo.ANTIALIAS_GRAY)
    opts.set_hint_style(cairo.HINT_STYLE_SLIGHT)
    opts.set_hint_metrics(cairo.HINT_METRICS_ON)
    ctx.set_font_options(opts)
    return ctx


def text_width(ctx, s, spacing):
    return sum(ctx.text_extents(ch).x_advance for ch in s) + spacing * (len(s) - 1)


def text(ctx, s, x, baseline, size, colour=SILK, anchor="c", bold=True, italic=False,
         spacing=0.0):
    """Draws s with its baseline on a whole pixel row; anchor l / c / r on x."""
    ctx.select_font_face(FONT, cairo.FONT_SLANT_ITALIC if italic else cairo.FONT_SLANT_NORMAL,
                         cairo.FONT_WEIGHT_BOLD if bold else cairo.FONT_WEIGHT_NORMAL)
    ctx.set_font_size(size)
    w = text_width(ctx, s, spacing)
    left = {"l": x, "c": x - w / 2.0, "r": x - w}[anchor]
    left = round(left)
    ctx.set_source_rgb(*colour)
    for ch in s:
        ctx.move_to(left, baseline)
        ctx.show_text(ch)
        left += ctx.text_extents(ch).x_advance + spacing
    return w


def cap_height(ctx, size, bold=True):
    ctx.select_font_face(FONT, cairo.FONT_SLANT_NORMAL,
                         cairo.FONT_WEIGHT_BOLD if bold else cairo.FONT_WEIGHT_NORMAL)
    ctx.set_font_size(size)
    return -ctx.text_extents("0").y_bearing


# ---------------------------------------------------------------- files


def save_palette(arr, path, alpha):
    """Quantises to 256 colours and writes an 8-bit palette PNG (tRNS only with alpha)."""
    rgba = straight_rgba(arr)
    if alpha:
        img = Image.fromarray(rgba, "RGBA")
    else:
        img = Image.fromarray(rgba[..., :3].copy(), "RGB")
    pal = img.quantize(colors=256, method=Image.Quantize.LIBIMAGEQUANT,
                       dither=Image.Dither.FLOYDSTEINBERG)
    pal.save(path, optimize=True)
    # Stored rows decode at memory speed when the editor first opens.
    png_stored.store(path)
    return pal


def save_rgba(arr, path):
    Image.fromarray(straight_rgba(arr), "RGBA").save(path, optimize=True)


def composite(base, top, x, y):
    """Premultiplied source-over of top onto base at (x, y)."""
    h, w = top.shape[:2]
    region = base[y:y + h, x:x + w]
    region[:] = top + region * (1.0 - top[..., 3:4])
