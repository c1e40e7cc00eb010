// Charts drawn into a frame buffer and saved as PNG: the window's drawing, off screen.
#include "chart/ChartPicture.h"

#include "chart/ChartData.h"
#include "chart/ChartDrawing.h"
#include "platform/ui/FrameBuffer.h"

namespace kelp {

bool writeChartPng(const Workbook& book, const ChartOptions& options, int width, int height, const std::string& path) {
  FrameBuffer image(width, height);
  Canvas canvas(image);
  const ChartData data = chartDataFromSheet(book, options);
  (void)drawChart(canvas, image.bounds(), options, data);
  return writePng(image, path);
}

}  // namespace kelp
