#!/usr/bin/python3
"""Draws the editor artwork of KV23-T ZuDiz into 101.png ... 104.png beside this file, and
the same design at twice the pixels into 1101.png ... 1104.png for dense screens.

Debian 12 packages needed to run it (the build does not run it, it uses the committed PNGs):
    python3-cairo python3-numpy python3-pil (built with libimagequant) fonts-liberation2

    /usr/bin/python3 resources/draw_artwork.py [--preview composite.png]

  101  240 x 400   8-bit palette, opaque      the faceplate with its labels and scales
  102  80 x 7760   8-bit palette + tRNS       97 knob images, pointer from 225 deg to -45 deg
  103  40 x 60     RGBA                       switch: off (dim amber) above, on (bright amber) below
  104  28 x 56     RGBA                       LED: unlit above, lit below

1101 ... 1104 hold the same images at 2 pixels a unit (480 x 800, 160 x 15520, 80 x 120,
56 x 112), drawn from the same shapes, not enlarged from the 1x pixels.

101 and 102 (and 1101, 1102) are written with stored (uncompressed) rows by png_stored.py, so that the editor
decodes them at memory speed when it first opens.

Shapes are drawn at SS times the size and box-filtered down (premultiplied, so edges keep
their alpha right); text is drawn afterwards at 1:1 with hinting so that 8 to 10 px type
stays crisp. Angles are in degrees, counter-clockwise from the positive x axis, with the
screen's y axis pointing down, which is how the knob's value maps to its pointer.
"""

import argparse
import math
import os

import cairo
import numpy as np
from PIL import Image

import artwork_canvas
from artwork_canvas import (FONT, SILK, SS, big_surface, cap_height, composite, downsample,
                            paint_array, premul, rounded, save_palette, save_rgba,
                            straight_rgba, text, text_context, to_surface)

HERE = os.path.dirname(os.path.abspath(__file__))
SILK_DIM = (0.58, 0.59, 0.58)
AMBER = (1.0, 0.69, 0.16)

# Panel geometry (pixels). These follow the editor's control rectangles.
PANEL_W, PANEL_H = 240, 400
PAD1 = (55, 24, 95, 54)
PAD2 = (137, 24, 177, 54)
DRIVE_CENTRE = (120, 130)
VOLUME_CENTRE = (120, 270)
GAIN_FIELD = (30, 174, 60, 188)
VOLUME_FIELD = (30, 314, 60, 328)
LED = (180, 307, 208, 335)

KNOB_SIZE, KNOB_FRAMES = 80, 97
SWITCH_W, SWITCH_H = 40, 30
LED_SIZE = 28


def pointer_angle(v):
    """Pointer angle of the normalised value v: lower left at 0, top at 0.5, lower right at 1."""
    return 225.0 - 270.0 * v


def polar(cx, cy, r, deg):
    a = math.radians(deg)
    return cx + r * math.cos(a), cy - r * math.sin(a)


# ---------------------------------------------------------------- small shared parts


def spun_metal(radius_px, base, depth, seed):
    """A disc of spun (concentrically brushed) metal, premultiplied RGBA, radius in pixels.

    The lighting does not turn with the knob: concentric brushing looks the same at every
    angle, only the pointer and the knurl turn.
    """
    n = int(math.ceil(radius_px * 2))
    yy, xx = np.mgrid[0:n, 0:n] + 0.5 - n / 2.0
    r = np.hypot(xx, yy)
    phi = np.arctan2(-yy, xx)
    rng = np.random.default_rng(seed)
    rings = rng.normal(0.0, 1.0, int(radius_px) + 2)
    rings = np.convolve(rings, [0.25, 0.5, 0.25], mode="same")
    ring = np.interp(r, np.arange(rings.size), rings)
    # Two bright sheens facing the light (upper left) and its opposite, as on a lathe finish.
    sheen = np.cos(2.0 * (phi - math.radians(135.0)))
    v = base + depth * sheen + 0.025 * ring - 0.10 * (r / radius_px) ** 2
    v = np.clip(v, 0, 1)
    cover = np.clip(radius_px - r + 0.5, 0, 1)
    rgb = np.stack([v * 0.98, v * 0.99, v * 1.02], axis=2).clip(0, 1)
    return np.concatenate([rgb * cover[..., None], cover[..., None]], axis=2)


def screw(ctx, cx, cy, slot_deg):
    r = 4.6
    g = cairo.RadialGradient(cx - 1.2, cy - 1.4, 0.5, cx, cy, r)
    g.add_color_stop_rgb(0, 0.78, 0.78, 0.80)
    g.add_color_stop_rgb(0.7, 0.45, 0.45, 0.48)
    g.add_color_stop_rgb(1, 0.25, 0.25, 0.27)
    ctx.arc(cx, cy + 0.6, r + 0.6, 0, 2 * math.pi)
    ctx.set_source_rgba(0, 0, 0, 0.55)
    ctx.fill()
    ctx.arc(cx, cy, r, 0, 2 * math.pi)
    ctx.set_source(g)
    ctx.fill()
    x0, y0 = polar(cx, cy, r - 1.0, slot_deg)
    x1, y1 = polar(cx, cy, r - 1.0, slot_deg + 180)
    ctx.move_to(x0, y0)
    ctx.line_to(x1, y1)
    ctx.set_line_width(1.3)
    ctx.set_source_rgb(0.12, 0.12, 0.13)
    ctx.stroke()


def recess(ctx, x0, y0, x1, y1, radius, fill):
    """A flat recessed area: darker fill, shadowed upper edge, lit lower edge."""
    rounded(ctx, x0, y0 + 0.6, x1, y1 + 0.6, radius)
    ctx.set_source_rgba(1, 1, 1, 0.07)
    ctx.fill()
    rounded(ctx, x0, y0 - 0.5, x1, y1 - 0.5, radius)
    ctx.set_source_rgba(0, 0, 0, 0.6)
    ctx.fill()
    rounded(ctx, x0, y0, x1, y1, radius)
    ctx.set_source_rgb(*fill)
    ctx.fill()


# ---------------------------------------------------------------- 101: the panel


def faceplate(ctx):
    """Dark anodised aluminium: a soft vertical gradient with fine horizontal brushing."""
    g = cairo.LinearGradient(0, 0, 0, PANEL_H)
    g.add_color_stop_rgb(0.0, 0.205, 0.212, 0.228)
    g.add_color_stop_rgb(0.45, 0.165, 0.170, 0.184)
    g.add_color_stop_rgb(1.0, 0.125, 0.128, 0.138)
    ctx.rectangle(0, 0, PANEL_W, PANEL_H)
    ctx.set_source(g)
    ctx.fill()
    # A faint sheen across the upper part, as light falls on a satin finish.
    g = cairo.RadialGradient(70, -40, 10, 70, -40, 260)
    g.add_color_stop_rgba(0, 1, 1, 1, 0.07)
    g.add_color_stop_rgba(1, 1, 1, 1, 0.0)
    ctx.rectangle(0, 0, PANEL_W, PANEL_H)
    ctx.set_source(g)
    ctx.fill()


def brushing(arr, seed=7):
    """Adds fine horizontal brush lines to premultiplied final pixels (opaque).

    The streaks are laid out in units, so both densities show the same brushing.
    """
    d = artwork_canvas.D
    rng = np.random.default_rng(seed)
    h, w = arr.shape[0] // d, arr.shape[1] // d
    streaks = rng.normal(0, 1, (h, w // 4 + 3))
    streaks = np.repeat(streaks, 4, axis=1)[:, :w]
    kernel = np.ones(9) / 9.0
    streaks = np.apply_along_axis(lambda row: np.convolve(row, kernel, mode="same"), 1, streaks)
    if d > 1:
        # Smoothly between the units' values, so that a streak is no staircase of blocks.
        xs = (np.arange(w * d) + 0.5) / d - 0.5
        streaks = np.stack([np.interp(xs, np.arange(w), row) for row in streaks])
        streaks = np.repeat(streaks, d, axis=0)
    arr[..., :3] += 0.012 * streaks[..., None]
    np.clip(arr, 0, 1, out=arr)


def panel_edges(ctx):
    ctx.set_line_width(1.0)
    ctx.rectangle(0.5, 0.5, PANEL_W - 1, PANEL_H - 1)
    ctx.set_source_rgb(0.05, 0.05, 0.055)
    ctx.stroke()
    ctx.move_to(1.5, PANEL_H - 1.5)
    ctx.line_to(1.5, 1.5)
    ctx.line_to(PANEL_W - 1.5, 1.5)
    ctx.set_source_rgba(1, 1, 1, 0.16)
    ctx.stroke()
    ctx.move_to(PANEL_W - 1.5, 1.5)
    ctx.line_to(PANEL_W - 1.5, PANEL_H - 1.5)
    ctx.line_to(1.5, PANEL_H - 1.5)
    ctx.set_source_rgba(0, 0, 0, 0.35)
    ctx.stroke()


def groove(ctx, x0, x1, y):
    """An engraved horizontal line: a dark cut with a lit lower lip."""
    ctx.set_line_width(1.0)
    ctx.move_to(x0, y + 0.5)
    ctx.line_to(x1, y + 0.5)
    ctx.set_source_rgba(0, 0, 0, 0.5)
    ctx.stroke()
    ctx.move_to(x0, y + 1.5)
    ctx.line_to(x1, y + 1.5)
    ctx.set_source_rgba(1, 1, 1, 0.08)
    ctx.stroke()


def knob_well(ctx, cx, cy):
    """The shadowed seat of a knob and its scale arc with tick marks."""
    g = cairo.RadialGradient(cx, cy + 2, 30, cx, cy + 2, 45)
    g.add_color_stop_rgba(0, 0, 0, 0, 0.55)
    g.add_color_stop_rgba(1, 0, 0, 0, 0.0)
    ctx.arc(cx, cy, 45, 0, 2 * math.pi)
    ctx.set_source(g)
    ctx.fill()


def scale_marks(ctx, cx, cy, steps):
    """Major ticks at the step values, minor ticks halfway, joined by a thin arc."""
    ctx.set_line_cap(cairo.LINE_CAP_BUTT)
    ctx.new_path()
    # cairo measures angles clockwise (y down): from the lower left over the top to the lower right.
    ctx.arc(cx, cy, 43.0, math.radians(135), math.radians(405))
    ctx.set_line_width(0.8)
    ctx.set_source_rgb(*SILK_DIM)
    ctx.stroke()
    for i in range(2 * steps + 1):
        v = i / (2.0 * steps)
        a = pointer_angle(v)
        major = i % 2 == 0
        r0, r1 = (43.0, 49.0) if major else (43.0, 46.5)
        ctx.move_to(*polar(cx, cy, r0, a))
        ctx.line_to(*polar(cx, cy, r1, a))
        ctx.set_line_width(1.25 if major else 0.9)
        ctx.set_source_rgb(*(SILK if major else SILK_DIM))
        ctx.stroke()


def scale_numbers(tctx, cx, cy, values, lo, hi):
    """Numbers around a knob, centred on the direction of their value's pointer."""
    size = 8.5
    ch = cap_height(tctx, size)
    for dB in values:
        v = (dB - lo) / float(hi - lo)
        a = pointer_angle(v)
        s = str(dB)
        tctx.select_font_face(FONT, cairo.FONT_SLANT_NORMAL, cairo.FONT_WEIGHT_BOLD)
        tctx.set_font_size(size)
        w = tctx.text_extents(s).x_advance
        # Distance from the centre grows where the label is wide and sideways.
        r = 55.0 + 0.5 * abs(math.cos(math.radians(a))) * (w - 8.0)
        x, y = polar(cx, cy, r, a)
        text(tctx, s, x, round(y + ch / 2.0), size)


def draw_panel():
    surf, ctx = big_surface(PANEL_W, PANEL_H)
    faceplate(ctx)
    arr = downsample(premul(surf))
    brushing(arr)
    surf, ctx = big_surface(PANEL_W, PANEL_H)
    paint_array(ctx, np.repeat(np.repeat(arr, SS, 0), SS, 1), 0, 0)

    panel_edges(ctx)
    for (x, y, slot) in ((11, 11, 30), (229, 11, 115), (11, 389, 70), (229, 389, 160)):
        screw(ctx, x, y, slot)

    # The switch strip along the top.
    recess(ctx, 12, 18, 228, 60, 5, (0.105, 0.108, 0.116))
    groove(ctx, 18, 222, 200)
    groove(ctx, 18, 222, 343)

    for (cx, cy), steps in ((DRIVE_CENTRE, 8), (VOLUME_CENTRE, 8)):
        knob_well(ctx, cx, cy)
        scale_marks(ctx, cx, cy, steps)

    # Value windows behind the text fields: flat and dark so that grey digits read well.
    for (x0, y0, x1, y1) in (GAIN_FIELD, VOLUME_FIELD):
        recess(ctx, x0 - 3, y0 - 1, x1 + 3, y1 + 1, 2, (0.07, 0.072, 0.078))

    # The LED's seat.
    lx, ly = (LED[0] + LED[2]) / 2.0, (LED[1] + LED[3]) / 2.0
    ctx.arc(lx, ly + 0.7, 15.0, 0, 2 * math.pi)
    ctx.set_source_rgba(0, 0, 0, 0.5)
    ctx.fill()

    arr = downsample(premul(surf))
    surf = to_surface(arr)
    t = text_context(surf)

    # Top line: PAD, then each switch with its label to its right.
    row = (PAD1[1] + PAD1[3]) // 2
    base = row + round(cap_height(t, 10) / 2.0)
    text(t, "PAD", 34, base, 10, spacing=1.0)
    text(t, "+10dB", PAD1[2] + 4, base, 10, anchor="l")
    text(t, "-10dB", PAD2[2] + 4, base, 10, anchor="l")

    scale_numbers(t, *DRIVE_CENTRE, range(-8, 25, 4), -8, 24)
    scale_numbers(t, *VOLUME_CENTRE, range(-32, 33, 8), -32, 32)

    for field, label in ((GAIN_FIELD, "DRIVE"), (VOLUME_FIELD, "VOLUME")):
        mid = (field[1] + field[3]) // 2
        b = mid + round(cap_height(t, 10.5) / 2.0)
        text(t, "dB", field[2] + 5, b - 1, 8, colour=SILK_DIM, anchor="l", bold=False)
        text(t, label, 120, b, 10.5, spacing=1.6)
    text(t, "PEAK", lx, LED[1] - 5, 7, colour=SILK_DIM, spacing=0.8)

    # Logo area.
    text(t, "KV23-T", 120 - 4, 371, 19, anchor="r", spacing=0.3)
    text(t, "ZuDiz", 120 + 2, 371, 19, colour=AMBER, anchor="l", italic=True)
    text(t, "Harrow Quill", 120, 388, 9.5, colour=SILK_DIM, bold=False, italic=True, spacing=1.2)
    text(t, "OP-AMP DRIVE", 120, 354, 6.5, colour=SILK_DIM, spacing=2.2)
    return premul(surf)


# ---------------------------------------------------------------- 102: the knob


KNOB_R = 35.5  # outer radius of the knurled skirt; beyond 39.5 everything is transparent
CAP_R = 19.0


def draw_knob(angle, cap):
    surf, ctx = big_surface(KNOB_SIZE, KNOB_SIZE)
    c = KNOB_SIZE / 2.0

    # Soft contact shadow, a little lower than the knob.
    g = cairo.RadialGradient(c, c + 1.5, KNOB_R - 2.0, c, c + 1.5, 39.5)
    g.add_color_stop_rgba(0, 0, 0, 0, 0.6)
    g.add_color_stop_rgba(1, 0, 0, 0, 0.0)
    ctx.arc(c, c, 39.5, 0, 2 * math.pi)
    ctx.set_source(g)
    ctx.fill()

    # Knurled skirt: ridges turn with the knob, their brightness follows the fixed light.
    ctx.arc(c, c, KNOB_R, 0, 2 * math.pi)
    ctx.set_source_rgb(0.055, 0.055, 0.06)
    ctx.fill()
    ridges = 40
    for i in range(ridges):
        a = angle + i * 360.0 / ridges
        lit = 0.5 + 0.5 * math.cos(math.radians(a - 120.0))
        ctx.move_to(*polar(c, c, 30.5, a))
        ctx.line_to(*polar(c, c, KNOB_R - 0.3, a))
        ctx.set_line_width(1.4)
        ctx.set_source_rgb(0.08 + 0.22 * lit, 0.08 + 0.22 * lit, 0.09 + 0.23 * lit)
        ctx.stroke()
    g = cairo.LinearGradient(c - KNOB_R, c - KNOB_R, c + KNOB_R, c + KNOB_R)
    g.add_color_stop_rgba(0, 1, 1, 1, 0.10)
    g.add_color_stop_rgba(1, 0, 0, 0, 0.35)
    ctx.arc(c, c, KNOB_R, 0, 2 * math.pi)
    ctx.set_source(g)
    ctx.fill()

    # The body's flat top with a bevelled rim.
    ctx.arc(c, c, 30.5, 0, 2 * math.pi)
    g = cairo.LinearGradient(c - 30, c - 30, c + 30, c + 30)
    g.add_color_stop_rgb(0, 0.36, 0.37, 0.40)
    g.add_color_stop_rgb(0.5, 0.10, 0.10, 0.11)
    g.add_color_stop_rgb(1, 0.03, 0.03, 0.035)
    ctx.set_source(g)
    ctx.fill()
    ctx.arc(c, c, 29.0, 0, 2 * math.pi)
    g = cairo.LinearGradient(c, c - 29, c, c + 29)
    g.add_color_stop_rgb(0, 0.15, 0.15, 0.165)
    g.add_color_stop_rgb(1, 0.075, 0.075, 0.08)
    ctx.set_source(g)
    ctx.fill()

    # Pointer on the black ring: the bright line that the eye reads the value from.
    ctx.set_line_cap(cairo.LINE_CAP_ROUND)
    ctx.move_to(*polar(c, c, CAP_R + 2.5, angle))
    ctx.line_to(*polar(c, c, 33.5, angle))
    ctx.set_line_width(4.2)
    ctx.set_source_rgba(0, 0, 0, 0.6)
    ctx.stroke()
    ctx.move_to(*polar(c, c, CAP_R + 2.5, angle))
    ctx.line_to(*polar(c, c, 33.0, angle))
    ctx.set_line_width(2.6)
    ctx.set_source_rgb(0.97, 0.97, 0.94)
    ctx.stroke()

    # Metallic cap with a shadowed edge and an engraved index line.
    ctx.arc(c, c + 0.8, CAP_R + 1.0, 0, 2 * math.pi)
    ctx.set_source_rgba(0, 0, 0, 0.7)
    ctx.fill()
    d = artwork_canvas.D
    paint_array(ctx, cap, c - cap.shape[1] / (2.0 * SS * d), c - cap.shape[0] / (2.0 * SS * d))
    ctx.arc(c, c, CAP_R - 0.3, 0, 2 * math.pi)
    ctx.set_line_width(0.6)
    ctx.set_source_rgba(1, 1, 1, 0.25)
    ctx.stroke()
    ctx.set_line_cap(cairo.LINE_CAP_ROUND)
    ctx.move_to(*polar(c, c, 6.0, angle))
    ctx.line_to(*polar(c, c, CAP_R - 3.0, angle))
    ctx.set_line_width(1.6)
    ctx.set_source_rgba(0.08, 0.08, 0.09, 0.9)
    ctx.stroke()

    arr = downsample(premul(surf))
    # Nothing beyond the shadow's edge: the corners are exactly transparent.
    d = artwork_canvas.D
    yy, xx = (np.mgrid[0:KNOB_SIZE * d, 0:KNOB_SIZE * d] + 0.5) / d - c
    arr[np.hypot(xx, yy) > 39.5] = 0.0
    return arr


def draw_knob_strip():
    cap = spun_metal(CAP_R * SS * artwork_canvas.D, 0.62, 0.16, seed=3)
    frames = [draw_knob(pointer_angle(k / 96.0), cap) for k in range(KNOB_FRAMES)]
    return np.concatenate(frames, axis=0)


# ---------------------------------------------------------------- 103: the switch


def draw_switch(on):
    surf, ctx = big_surface(SWITCH_W, SWITCH_H)
    # Bezel: a dark metal frame, lit from above.
    rounded(ctx, 0.5, 0.5, SWITCH_W - 0.5, SWITCH_H - 0.5, 4.5)
    ctx.set_source_rgb(0.03, 0.03, 0.035)
    ctx.fill()
    rounded(ctx, 1.3, 1.3, SWITCH_W - 1.3, SWITCH_H - 1.3, 3.8)
    g = cairo.LinearGradient(0, 1, 0, SWITCH_H - 1)
    g.add_color_stop_rgb(0, 0.55, 0.56, 0.58)
    g.add_color_stop_rgb(0.45, 0.28, 0.285, 0.30)
    g.add_color_stop_rgb(1, 0.13, 0.13, 0.14)
    ctx.set_source(g)
    ctx.fill()
    rounded(ctx, 4.0, 4.0, SWITCH_W - 4.0, SWITCH_H - 4.0, 2.2)
    ctx.set_source_rgb(0.02, 0.02, 0.02)
    ctx.fill()

    x0, y0, x1, y1 = 5.0, 5.0, SWITCH_W - 5.0, SWITCH_H - 5.0
    cx, cy = SWITCH_W / 2.0, SWITCH_H / 2.0
    rounded(ctx, x0, y0, x1, y1, 1.8)
    if on:
        g = cairo.RadialGradient(cx, cy, 1.0, cx, cy, 17.0)
        g.add_color_stop_rgb(0, 1.0, 0.93, 0.62)
        g.add_color_stop_rgb(0.35, 1.0, 0.74, 0.20)
        g.add_color_stop_rgb(1, 0.86, 0.44, 0.02)
    else:
        g = cairo.RadialGradient(cx, cy, 1.0, cx, cy, 17.0)
        g.add_color_stop_rgb(0, 0.50, 0.31, 0.06)
        g.add_color_stop_rgb(0.6, 0.36, 0.21, 0.03)
        g.add_color_stop_rgb(1, 0.24, 0.13, 0.02)
    ctx.set_source(g)
    ctx.fill()
    # Fresnel ribs of the lens.
    for i in range(1, 8):
        x = x0 + i * (x1 - x0) / 8.0
        ctx.move_to(x, y0 + 0.8)
        ctx.line_to(x, y1 - 0.8)
        ctx.set_line_width(0.6)
        ctx.set_source_rgba(1, 1, 1, 0.10 if on else 0.035)
        ctx.stroke()
    # Specular reflection across the upper half of the lens.
    rounded(ctx, x0 + 1.0, y0 + 0.8, x1 - 1.0, cy - 0.5, 1.5)
    g = cairo.LinearGradient(0, y0, 0, cy)
    g.add_color_stop_rgba(0, 1, 1, 1, 0.55 if on else 0.22)
    g.add_color_stop_rgba(1, 1, 1, 1, 0.0)
    ctx.set_source(g)
    ctx.fill()
    return downsample(premul(surf))


# ---------------------------------------------------------------- 104: the LED


def draw_led(lit):
    surf, ctx = big_surface(LED_SIZE, LED_SIZE)
    c = LED_SIZE / 2.0
    # Chrome bezel.
    ctx.arc(c, c, 13.6, 0, 2 * math.pi)
    ctx.set_source_rgb(0.04, 0.04, 0.045)
    ctx.fill()
    ctx.arc(c, c, 12.9, 0, 2 * math.pi)
    g = cairo.LinearGradient(c - 12, c - 12, c + 12, c + 12)
    g.add_color_stop_rgb(0, 0.95, 0.95, 0.97)
    g.add_color_stop_rgb(0.35, 0.62, 0.63, 0.66)
    g.add_color_stop_rgb(0.6, 0.30, 0.30, 0.32)
    g.add_color_stop_rgb(1, 0.72, 0.72, 0.75)
    ctx.set_source(g)
    ctx.fill()
    ctx.arc(c, c, 9.9, 0, 2 * math.pi)
    g = cairo.LinearGradient(c - 9, c - 9, c + 9, c + 9)
    g.add_color_stop_rgb(0, 0.18, 0.18, 0.19)
    g.add_color_stop_rgb(1, 0.80, 0.80, 0.83)
    ctx.set_source(g)
    ctx.fill()
    # The lamp.
    ctx.arc(c, c, 8.6, 0, 2 * math.pi)
    g = cairo.RadialGradient(c - 1.5, c - 1.5, 0.5, c, c, 8.6)
    if lit:
        g.add_color_stop_rgb(0, 1.0, 0.86, 0.80)
        g.add_color_stop_rgb(0.3, 1.0, 0.25, 0.14)
        g.add_color_stop_rgb(0.8, 0.84, 0.04, 0.02)
        g.add_color_stop_rgb(1, 0.55, 0.0, 0.0)
    else:
        g.add_color_stop_rgb(0, 0.16, 0.06, 0.06)
        g.add_color_stop_rgb(0.6, 0.07, 0.02, 0.02)
        g.add_color_stop_rgb(1, 0.02, 0.01, 0.01)
    ctx.set_source(g)
    ctx.fill()
    if lit:
        # Glow spilling onto the inner bezel.
        g = cairo.RadialGradient(c, c, 7.0, c, c, 13.0)
        g.add_color_stop_rgba(0, 1.0, 0.1, 0.05, 0.55)
        g.add_color_stop_rgba(1, 1.0, 0.1, 0.05, 0.0)
        ctx.arc(c, c, 13.0, 0, 2 * math.pi)
        ctx.set_source(g)
        ctx.fill()
    # Dome highlight.
    ctx.save()
    ctx.translate(c - 2.6, c - 3.4)
    ctx.scale(3.6, 2.2)
    ctx.arc(0, 0, 1.0, 0, 2 * math.pi)
    ctx.restore()
    ctx.set_source_rgba(1, 1, 1, 0.65 if lit else 0.30)
    ctx.fill()
    return downsample(premul(surf))


# ---------------------------------------------------------------- preview and main


def preview(path, folder=HERE):
    """The panel with knobs, switches and the LED in place, from the written PNGs."""

    def load(n):
        rgba = np.asarray(Image.open(os.path.join(folder, f"{n}.png")).convert("RGBA"), np.float64)
        rgba /= 255.0
        rgba[..., :3] *= rgba[..., 3:4]
        return rgba

    panel, knob, switch, led = load(101), load(102), load(103), load(104)
    composite(panel, switch[0:30], PAD1[0], PAD1[1])
    composite(panel, switch[30:60], PAD2[0], PAD2[1])
    composite(panel, knob[48 * 80:49 * 80], 80, 90)
    composite(panel, knob[71 * 80:72 * 80], 80, 230)
    composite(panel, led[28:56], LED[0], LED[1])
    img = Image.fromarray(straight_rgba(panel)[..., :3].copy(), "RGB")
    img.resize((PANEL_W * 2, PANEL_H * 2), Image.NEAREST).save(path)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--preview", help="also write a composite picture (2x) to this path")
    ap.add_argument("--out", default=HERE, help="folder for 101.png ... 104.png")
    ap.add_argument("--density", type=int, choices=(1, 2), action="append",
                    help="draw only this set (1: 101 ... 104, 2: 1101 ... 1104); default both")
    args = ap.parse_args()
    for density in args.density or (1, 2):
        # The dense set takes the numbers 1000 above the panel's own.
        first = 101 if density == 1 else 1101
        artwork_canvas.set_density(density)

        def path(n):
            return os.path.join(args.out, f"{first + n}.png")

        save_palette(draw_panel(), path(0), alpha=False)
        save_palette(draw_knob_strip(), path(1), alpha=True)
        save_rgba(np.concatenate([draw_switch(False), draw_switch(True)]), path(2))
        save_rgba(np.concatenate([draw_led(False), draw_led(True)]), path(3))
    artwork_canvas.set_density(1)
    if args.preview:
        preview(args.preview, args.out)


if __name__ == "__main__":
    main()
