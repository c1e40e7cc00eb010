// The native format's older style layout, written and read in one place.
#include "files/NativeRecords.h"

namespace kelp::native {

void writeOldStyle(RecordOut& out, const StyleRecord& s, uint32_t font, uint32_t format) {
  out.u16(font);
  out.u16(format);
  out.u16(s.protection & 3);
  out.u16(static_cast<uint32_t>(s.horizontalAlignment() | (s.wrapText() ? 8 : 0) | (s.verticalAlignment() << 4)));
  out.u32(static_cast<uint32_t>(s.fillForeground() | s.fillBackground() << 7 | (s.fillPattern() & 0x3F) << 16 |
                                (s.borderStyle(Edge::Bottom) & 7) << 22 | s.borderColor(Edge::Bottom) << 25));
  out.u32(static_cast<uint32_t>((s.borderStyle(Edge::Top) & 7) | (s.borderStyle(Edge::Left) & 7) << 3 |
                                (s.borderStyle(Edge::Right) & 7) << 6 | s.borderColor(Edge::Top) << 9 |
                                s.borderColor(Edge::Left) << 16 | s.borderColor(Edge::Right) << 23));
}

StyleRecord readOldStyle(RecordIn& in) {
  StyleRecord s = newStyleRecord();
  s.font = in.u16();
  s.numberFormat = in.u16();
  s.protection = in.u16() & 3;
  uint16_t align = in.u16();
  s.setHorizontalAlignment(align & 7);
  s.setWrapText(align & 8);
  s.setVerticalAlignment((align >> 4) & 7);
  uint32_t fill = in.u32();
  uint32_t lines = in.u32();
  s.setFillForeground(fill & 0x7F);
  s.setFillBackground((fill >> 7) & 0x7F);
  s.setFillPattern((fill >> 16) & 0x3F);
  s.setBorderStyle(Edge::Bottom, (fill >> 22) & 7);
  s.setBorderColor(Edge::Bottom, (fill >> 25) & 0x7F);
  s.setBorderStyle(Edge::Top, lines & 7);
  s.setBorderStyle(Edge::Left, (lines >> 3) & 7);
  s.setBorderStyle(Edge::Right, (lines >> 6) & 7);
  s.setBorderColor(Edge::Top, (lines >> 9) & 0x7F);
  s.setBorderColor(Edge::Left, (lines >> 16) & 0x7F);
  s.setBorderColor(Edge::Right, (lines >> 23) & 0x7F);
  return s;
}

}  // namespace kelp::native
