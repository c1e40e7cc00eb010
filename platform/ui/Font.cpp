// Font files, FreeType faces, vertical metrics and the glyph cache.
#include "platform/ui/Font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/Text.h"

namespace kelp {

namespace {

bool isFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string fcMatch(const std::string& pattern) {
#ifdef __EMSCRIPTEN__
  // A page has only the fonts it brought, at their usual paths, and no fc-match to ask.
  (void)pattern;
  return "";
#endif
  std::string command = "fc-match -f '%{file}' '" + pattern + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return "";
  std::string out;
  char buf[512];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, got);
  pclose(pipe);
  return isFile(out) ? out : "";
}

// One face of a family in one of its four files, with the styles FreeType must add
// because the family has no file for them.
struct Slot {
  std::string family;  // "DejaVu Sans" or "Liberation Sans"
  bool bold = false;
  bool italic = false;
  FT_Face face = nullptr;
  bool synthBold = false;
  bool synthItalic = false;
  int currentHeight = 0;
};

struct GlyphEntry {
  GlyphBitmap bitmap;
  std::vector<uint8_t> pixels;
};

struct FontSystem {
  FT_Library library = nullptr;
  std::unordered_map<std::string, FT_Face> faces;  // by file
  std::vector<Slot> slots;
  std::unordered_map<uint64_t, GlyphEntry> glyphs;
  std::unordered_map<uint64_t, FontMetrics> metrics;
  // The last resolution, since consecutive calls nearly always ask for the same font.
  FontSpec lastFont;
  ResolvedFont lastResolved;
  bool haveLast = false;

  FontSystem() {
    if (FT_Init_FreeType(&library) != 0) library = nullptr;
  }
  ~FontSystem() {
    for (auto& [file, face] : faces) FT_Done_Face(face);
    if (library) FT_Done_FreeType(library);
  }
};

FontSystem& fonts() {
  static FontSystem system;
  return system;
}

FT_Face openFace(const std::string& file) {
  FontSystem& fs = fonts();
  auto it = fs.faces.find(file);
  if (it != fs.faces.end()) return it->second;
  FT_Face face = nullptr;
  if (!fs.library || FT_New_Face(fs.library, file.c_str(), 0, &face) != 0) return nullptr;
  fs.faces[file] = face;
  return face;
}

std::string styledFile(const std::string& family, bool bold, bool italic) {
  if (family == "Liberation Sans") {
    const char* style = bold && italic ? "BoldItalic" : bold ? "Bold" : italic ? "Italic" : "Regular";
    for (const char* dir : {"/usr/share/fonts/truetype/liberation2/", "/usr/share/fonts/truetype/liberation/"}) {
      std::string path = std::string(dir) + "LiberationSans-" + style + ".ttf";
      if (isFile(path)) return path;
    }
  } else {
    const char* style = bold && italic ? "-BoldOblique" : bold ? "-Bold" : italic ? "-Oblique" : "";
    std::string path = std::string("/usr/share/fonts/truetype/dejavu/DejaVuSans") + style + ".ttf";
    if (isFile(path)) return path;
  }
  std::string pattern = family;
  if (bold) pattern += ":bold";
  if (italic) pattern += ":italic";
  std::string found = fcMatch(pattern);
  // fc-match answers with some font for any request; only a file of the family will do.
  std::string squeezed;
  for (char c : family)
    if (c != ' ') squeezed += c;
  return found.find(squeezed) != std::string::npos ? found : "";
}

std::string familyFor(std::u16string_view face) {
  return equalsIgnoreCase(face, u"Arial") ? "Liberation Sans" : "DejaVu Sans";
}

int slotFor(const std::string& family, bool bold, bool italic) {
  FontSystem& fs = fonts();
  for (size_t i = 0; i < fs.slots.size(); ++i) {
    const Slot& s = fs.slots[i];
    if (s.family == family && s.bold == bold && s.italic == italic) return s.face ? static_cast<int>(i) : -1;
  }
  Slot slot;
  slot.family = family;
  slot.bold = bold;
  slot.italic = italic;
  // The family's own file for the style, else its regular file with the style added;
  // a family that is not installed at all draws with DejaVu Sans.
  std::string file;
  for (const std::string& candidate : {family, std::string("DejaVu Sans")}) {
    file = styledFile(candidate, bold, italic);
    slot.synthBold = slot.synthItalic = false;
    if (file.empty() && (bold || italic)) {
      file = styledFile(candidate, false, false);
      slot.synthBold = bold;
      slot.synthItalic = italic;
    }
    if (!file.empty()) break;
  }
  if (!file.empty()) slot.face = openFace(file);
  fs.slots.push_back(slot);
  return slot.face ? static_cast<int>(fs.slots.size() - 1) : -1;
}

bool setSize(Slot& slot, int height) {
  if (slot.currentHeight == height) return true;
  // Slots of one family can share a face, so the size is set again whenever it differs.
  if (FT_Set_Pixel_Sizes(slot.face, 0, static_cast<FT_UInt>(height)) != 0) return false;
  for (Slot& other : fonts().slots) {
    if (other.face == slot.face) other.currentHeight = height;
  }
  return true;
}

int roundedPixels(FT_Pos value) { return static_cast<int>((value + 32) >> 6); }

}  // namespace

std::string fontFileFor(std::u16string_view face, bool bold, bool italic) {
  std::string file = styledFile(familyFor(face), bold, italic);
  if (file.empty()) file = styledFile("DejaVu Sans", bold, italic);
  return file;
}

std::vector<std::u16string> installedFaces() {
  static const bool arial = !styledFile(familyFor(u"Arial"), false, false).empty();
  if (arial) return {u"Arial", u"Tahoma"};
  return {u"Tahoma"};
}

ResolvedFont resolveFont(const FontSpec& font) {
  FontSystem& fs = fonts();
  int height = font.height < 1 ? 1 : font.height > 1000 ? 1000 : font.height;
  if (fs.haveLast && fs.lastFont.face == font.face && fs.lastFont.bold() == font.bold() &&
      fs.lastFont.italic == font.italic) {
    return {fs.lastResolved.slot, height};
  }
  ResolvedFont resolved{slotFor(familyFor(font.face), font.bold(), font.italic), height};
  fs.lastFont = font;
  fs.lastResolved = resolved;
  fs.haveLast = true;
  return resolved;
}

FontMetrics fontMetrics(ResolvedFont font) {
  FontSystem& fs = fonts();
  if (font.slot < 0) return {font.height, 0, font.height};
  uint64_t key = (static_cast<uint64_t>(font.slot) << 32) | static_cast<uint32_t>(font.height);
  auto it = fs.metrics.find(key);
  if (it != fs.metrics.end()) return it->second;
  Slot& slot = fs.slots[static_cast<size_t>(font.slot)];
  FontMetrics m{font.height, 0, font.height};
  if (setSize(slot, font.height)) {
    const FT_Size_Metrics& sm = slot.face->size->metrics;
    m.ascent = static_cast<int>((sm.ascender + 63) >> 6);
    m.descent = static_cast<int>((-sm.descender + 63) >> 6);
    m.lineHeight = std::max(roundedPixels(sm.height), m.ascent + m.descent);
  }
  fs.metrics[key] = m;
  return m;
}

FontMetrics fontMetrics(const FontSpec& font) { return fontMetrics(resolveFont(font)); }

char32_t nextChar(std::u16string_view text, size_t& index) {
  char32_t c = text[index++];
  if (c >= 0xD800 && c < 0xDC00 && index < text.size() && text[index] >= 0xDC00 && text[index] < 0xE000) {
    c = 0x10000 + ((c - 0xD800) << 10) + (text[index++] - 0xDC00);
  } else if (c >= 0xD800 && c < 0xE000) {
    c = 0xFFFD;  // a lone surrogate, such as a byte of a file name that is no UTF-8
  }
  return c;
}

const GlyphBitmap& glyphFor(ResolvedFont font, char32_t c) {
  static const GlyphBitmap none;
  FontSystem& fs = fonts();
  if (font.slot < 0) return none;
  uint64_t key = (static_cast<uint64_t>(font.slot) << 48) | (static_cast<uint64_t>(font.height) << 24) |
                 (static_cast<uint64_t>(c) & 0xFFFFFF);
  auto it = fs.glyphs.find(key);
  if (it != fs.glyphs.end()) return it->second.bitmap;

  GlyphEntry& entry = fs.glyphs[key];
  Slot& slot = fs.slots[static_cast<size_t>(font.slot)];
  if (!setSize(slot, font.height)) return entry.bitmap;
  FT_Face face = slot.face;
  if (FT_Load_Char(face, c, FT_LOAD_DEFAULT | FT_LOAD_TARGET_LIGHT) != 0) return entry.bitmap;
  FT_GlyphSlot g = face->glyph;
  if (g->format == FT_GLYPH_FORMAT_OUTLINE) {
    if (slot.synthBold) {
      FT_Pos strength = std::max<FT_Pos>(font.height * 4, 32);  // a sixteenth of the size, at least half a pixel
      FT_Outline_Embolden(&g->outline, strength);
      g->advance.x += strength;
    }
    if (slot.synthItalic) {
      FT_Matrix shear{0x10000, 0x3333, 0, 0x10000};  // leans by a fifth
      FT_Outline_Transform(&g->outline, &shear);
    }
  }
  if (FT_Render_Glyph(g, FT_RENDER_MODE_NORMAL) != 0) return entry.bitmap;
  const FT_Bitmap& bm = g->bitmap;
  entry.bitmap.width = static_cast<int>(bm.width);
  entry.bitmap.rows = static_cast<int>(bm.rows);
  entry.bitmap.left = g->bitmap_left;
  entry.bitmap.top = g->bitmap_top;
  entry.bitmap.advance = roundedPixels(g->advance.x);
  if (bm.pixel_mode == FT_PIXEL_MODE_GRAY && bm.width > 0 && bm.rows > 0) {
    entry.pixels.resize(static_cast<size_t>(bm.width) * bm.rows);
    for (unsigned y = 0; y < bm.rows; ++y) {
      const unsigned char* src = bm.buffer + static_cast<std::ptrdiff_t>(y) * bm.pitch;
      std::copy(src, src + bm.width, entry.pixels.data() + static_cast<size_t>(y) * bm.width);
    }
    entry.bitmap.coverage = entry.pixels.data();
  } else {
    entry.bitmap.width = entry.bitmap.rows = 0;
  }
  return entry.bitmap;
}

int charWidth(const FontSpec& font, char32_t c) { return glyphFor(resolveFont(font), c).advance; }

int textWidth(const FontSpec& font, std::u16string_view text) {
  ResolvedFont resolved = resolveFont(font);
  int width = 0;
  for (size_t i = 0; i < text.size();) width += glyphFor(resolved, nextChar(text, i)).advance;
  return width;
}

void clearGlyphCache() { fonts().glyphs.clear(); }
size_t glyphCacheSize() { return fonts().glyphs.size(); }

}  // namespace kelp
