// Fonts: a face, size and style, measured and rasterised through FreeType with a glyph cache.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Geometry.h"

namespace kelp {

struct FontSpec {
  std::u16string face = u"Tahoma";
  int height = 12;  // pixels from the top of the tallest accent to the lowest descender (em size)
  int weight = 400;  // 700 and above draw bold
  bool italic = false;
  bool underline = false;
  Color color = Colors::Black;

  bool bold() const { return weight >= 600; }
  bool operator==(const FontSpec&) const = default;
};

/// Pixels of a size given in twips (1/1440 inch) on a 96 dots-per-inch screen, rounded.
inline int pixelsFromTwips(int twips) { return (twips * 96 + 720) / 1440; }

/// Vertical metrics of a font at its size, in whole pixels.
struct FontMetrics {
  int ascent = 0;      // baseline below the line top
  int descent = 0;     // below the baseline
  int lineHeight = 0;  // distance from one line to the next
};

FontMetrics fontMetrics(const FontSpec& font);
/// Advance width of `text` in pixels; line breaks are not interpreted.
int textWidth(const FontSpec& font, std::u16string_view text);
/// The advance of one character, used by layout to break long words.
int charWidth(const FontSpec& font, char32_t c);

/// The font file a face maps to: "Tahoma" and unknown faces to DejaVu Sans, "Arial" to
/// Liberation Sans (DejaVu Sans when Liberation is not installed). Empty when no file is found.
std::string fontFileFor(std::u16string_view face, bool bold, bool italic);

/// The faces cells can be given that draw with a font of their own: "Arial" when its
/// Liberation Sans file is installed, and "Tahoma" (DejaVu Sans), which always draws.
std::vector<std::u16string> installedFaces();

/// A rasterised character, kept in the glyph cache until the cache is cleared.
struct GlyphBitmap {
  int width = 0;
  int rows = 0;
  int left = 0;  // from the pen position to the first column
  int top = 0;   // from the baseline up to the first row
  int advance = 0;
  const uint8_t* coverage = nullptr;  // rows × width, 0..255
};

/// A font looked up once for drawing or measuring many characters.
struct ResolvedFont {
  int slot = -1;  // the face and synthesised style; -1 when no font file exists
  int height = 0;
};
ResolvedFont resolveFont(const FontSpec& font);
FontMetrics fontMetrics(ResolvedFont font);

/// The cached bitmap of `c`; a character the face lacks gives its missing-glyph box.
/// The reference stays valid until clearGlyphCache().
const GlyphBitmap& glyphFor(ResolvedFont font, char32_t c);

/// The next character of UTF-16 `text` at `index`, joining surrogate pairs; advances `index`.
char32_t nextChar(std::u16string_view text, size_t& index);

/// Empties the glyph cache (tests use it to compare cold and warm drawing).
void clearGlyphCache();
size_t glyphCacheSize();

}  // namespace kelp
