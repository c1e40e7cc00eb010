// A chart drawn off screen into a PNG file, for the command line and the README pictures.
#pragma once

#include <string>

#include "chart/ChartOptions.h"

namespace kelp {

class Workbook;

/// Draws the chart of the options' range, `width` by `height` pixels, and writes it as
/// a PNG; false with error 14 when the file cannot be written.
bool writeChartPng(const Workbook& book, const ChartOptions& options, int width, int height, const std::string& path);

}  // namespace kelp
