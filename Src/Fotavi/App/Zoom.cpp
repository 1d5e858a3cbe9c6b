#include "App/Zoom.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace {
constexpr int kStepCount = static_cast<int>(std::size(ZOOM_STEPS));
}

double ZoomIn(double zoom) {
  for (int i = 0; i < kStepCount; ++i)
    if (ZOOM_STEPS[i] == zoom) return ZOOM_STEPS[std::min(i + 1, kStepCount - 1)];
  return 1.0;
}

double ZoomOut(double zoom) {
  for (int i = 0; i < kStepCount; ++i)
    if (ZOOM_STEPS[i] == zoom) return ZOOM_STEPS[std::max(i - 1, 0)];
  return 1.0;
}

double ZoomStepAbove(double zoom) {
  for (double step : ZOOM_STEPS)
    if (step > zoom) return step;
  return ZOOM_STEPS[kStepCount - 1];
}

double ZoomStepBelow(double zoom) {
  double result = ZOOM_STEPS[0];
  for (double step : ZOOM_STEPS)
    if (step < zoom) result = step;
  return result;
}

std::string FormatZoomPercent(double zoom) {
  const auto c = static_cast<unsigned long long>(std::llround(zoom * 10000.0));
  const char* format = c % 100 == 0 ? "%0.0lf%%" : (c % 10 == 0 ? "%4.1lf%%" : "%4.2lf%%");
  char text[64];
  std::snprintf(text, sizeof text, format, static_cast<double>(c) / 100.0);
  return text;
}
