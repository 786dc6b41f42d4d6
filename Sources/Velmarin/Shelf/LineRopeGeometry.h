#pragma once

#include <QPainterPath>
#include <QRectF>

namespace tolvex {

// The rope's curve across a strip of width w: a parabola hung 20 points
// beyond each edge, 24 below the top at its ends and sagging at most 30 in
// the middle. The rope, its red stretch, the settings button and the cards'
// pegs all read it from here, so they meet on the same line.
namespace LineRopeGeometry {

inline constexpr double endHeight = 24;
inline constexpr double overhang = 20;

// How far the middle hangs below the ends: min(0.018·w, 30).
double sag(double width);
// The rope's height at x.
double y(double x, double width);
// A path along the rope from x = a to x = b: one quadratic through the
// rope's point at the middle of the two.
QPainterPath path(double width, double from, double to);
// Where a card centred at x hangs: measured across the strip alone.
double pegY(double x, double width);

} // namespace LineRopeGeometry

// Where the red stretch of rope (the note and settings button) sits.
namespace LineInputLayout {

inline constexpr double goldenSection = 0.6180339887498949;
inline constexpr double regionHalfWidth = 34;
inline constexpr double stretchHalfLength = 17;

QRectF settingsRegion(double width);

} // namespace LineInputLayout

} // namespace tolvex
