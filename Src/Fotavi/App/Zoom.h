// The zoom steps of the live and still-image views, the two rules that walk
// them, and the zoom's text in window captions.
#pragma once

#include <string>

// 1/16 to 16; 0.667 exactly as the decimal number.
constexpr double ZOOM_STEPS[] = {1.0 / 16, 1.0 / 8, 1.0 / 4, 1.0 / 2, 0.667, 1.0, 1.5, 2.0, 3.0, 4.0, 8.0, 16.0};

// Live monitor: the next larger / smaller step, staying at the ends; a zoom
// that is not one of the steps becomes 1.
double ZoomIn(double zoom);
double ZoomOut(double zoom);
// Still pictures: the first step above / the last step below any zoom
// (a best-fit zoom lies between steps), staying at the ends.
double ZoomStepAbove(double zoom);
double ZoomStepBelow(double zoom);

// "100%", "66.7%", "6.25%": the zoom in percent with up to two decimals,
// from the zoom in hundredths of a percent, rounded (0.667 is 66.7%, and a
// best-fit zoom of 0.57 is 57%, not 56.99%).
std::string FormatZoomPercent(double zoom);
