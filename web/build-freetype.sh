#!/bin/sh
# Builds FreeType for the page from Debian's own source package, with Debian's patches, so
# that glyphs come out as the native library draws them. The source comes through a
# private deb-src list; the system's apt configuration is left alone.
# Usage: web/build-freetype.sh OUT_DIR   (leaves OUT_DIR/lib/libfreetype.a, the single-threaded
# page's OUT_DIR/lib/libfreetype-st.a and OUT_DIR/include)
set -eu
out=$(realpath -m "$1")
[ -f "$out/lib/libfreetype.a" ] && [ -f "$out/lib/libfreetype-st.a" ] && exit 0
work="$out/src"
mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$out/lib"
cd "$work"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" > sources.list
apt_opts="-o Dir::Etc::SourceList=$work/sources.list -o Dir::Etc::SourceParts=/nonexistent \
  -o Dir::State::Lists=$work/lists -o Dir::Cache=$work/cache -o APT::Sandbox::User=root"
if ! ls freetype_*.orig.tar.xz >/dev/null 2>&1; then
  apt-get $apt_opts update
  apt-get $apt_opts source --download-only freetype
fi
rm -rf tree && mkdir tree && cd tree
tar xf ../freetype_*+dfsg.orig.tar.xz
tar xf ../freetype_*.debian.tar.xz
src=$(ls -d freetype-2.*)
# Only the library's own patches: the others are for the demos and the documentation.
while read -r p; do
  case "$p" in ''|'#'*) continue ;; esac
  if ! grep -q '^+++ b/\(ft2demos\|ft2docs\)/' "debian/patches/$p"; then
    patch -d "$src" -p1 -s < "debian/patches/$p"
  fi
done < debian/patches/series
cd "$src"
# The five modules Kelp's fonts need.
cat > ftmodule.h <<'MOD'
FT_USE_MODULE( FT_Module_Class, autofit_module_class )
FT_USE_MODULE( FT_Driver_ClassRec, tt_driver_class )
FT_USE_MODULE( FT_Module_Class, psnames_module_class )
FT_USE_MODULE( FT_Module_Class, sfnt_module_class )
FT_USE_MODULE( FT_Renderer_Class, ft_smooth_renderer_class )
MOD
files="base/ftsystem.c base/ftinit.c base/ftdebug.c base/ftbase.c base/ftbbox.c base/ftglyph.c \
  base/ftbitmap.c base/ftsynth.c autofit/autofit.c truetype/truetype.c psnames/psnames.c sfnt/sfnt.c \
  smooth/smooth.c gzip/ftgzip.c"
# Threaded code cannot link into the page without shared memory, so each build has its own.
for variant in "" -st; do
  threads=-pthread; [ -n "$variant" ] && threads=""
  objs=""
  for f in $files; do
    o="$work/$(echo "$f" | tr / _)$variant.o"
    emcc -O2 $threads -DFT2_BUILD_LIBRARY -DFT_CONFIG_MODULES_H='"ftmodule.h"' -I. -Iinclude -c "src/$f" -o "$o"
    objs="$objs $o"
  done
  rm -f "$out/lib/libfreetype$variant.a" && emar rcs "$out/lib/libfreetype$variant.a" $objs
done
rm -rf "$out/include" && cp -r include "$out/include" && cp ftmodule.h "$out/include/"
echo "FreeType built in $out"
