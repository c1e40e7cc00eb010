#!/bin/sh
# Remakes every .xls fixture in this folder from its hand-written source, then xlrd's reading of each as .json.
#
# Not run by CI: the .xls and .json files are committed. Needs the Debian packages libreoffice-calc,
# python3-uno, xvfb, xauth, gnumeric (ssconvert), libgsf-bin (gsf) and python3-xlrd. Conversions run one
# at a time. Usage: sh tests/files/data/excel/make_fixtures.sh
set -eu
cd "$(dirname "$0")"
here=$(pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# LibreOffice's own conversion: one .fods to one Excel 97-2003 file.
lo() {
    libreoffice -env:UserInstallation="file://$work/profile" --headless \
        --convert-to 'xls:MS Excel 97' --outdir "$work" "$1.fods"
    mv "$work/$1.xls" "$2"
}

# LibreOffice with a view on a virtual display, for frozen panes, zoom and passwords.
lo_view() {
    xvfb-run -a /usr/bin/python3 lo_convert.py "$@"
}

# Gnumeric: excel_biff8 writes only "Workbook", excel_biff7 only "Book", excel_dsf both.
gnm() {
    ssconvert -T "Gnumeric_Excel:excel_$2" "$1.gnumeric" "$3"
}

lo lo_cells lo_cells_biff8.xls
lo lo_strings lo_strings_biff8.xls
lo lo_formulas lo_formulas_biff8.xls
lo lo_1904 lo_1904_biff8.xls
lo lo_chart lo_chart_biff8.xls
lo_view --freeze=Formats:0:1 --freeze=Layout:1:2 --zoom=150 lo_styles.fods lo_styles_biff8.xls
lo_view --password=kelp lo_cells.fods lo_encrypted_biff8.xls
# Excel opens files encrypted with this password without asking for one.
lo_view --password=VelvetSweatshop lo_cells.fods lo_encrypted_velvet_biff8.xls

for name in gnm_cells gnm_strings gnm_formulas gnm_styles gnm_1904; do
    gnm "$name" biff8 "${name}_biff8.xls"
    gnm "$name" biff7 "${name}_biff5.xls"
done
gnm gnm_chart biff8 gnm_chart_biff8.xls
gnm gnm_sheets biff8 gnm_sheets_biff8.xls
gnm gnm_cells dsf gnm_cells_dual.xls
# The functions desktop workbooks hold, from a CSV of formulas, and the values Gnumeric computes.
ssconvert -T Gnumeric_Excel:excel_biff8 gnm_desktop.csv gnm_desktop_biff8.xls
ssconvert -T Gnumeric_Excel:excel_biff7 gnm_desktop.csv gnm_desktop_biff5.xls
ssconvert --recalc gnm_desktop_biff8.xls gnm_desktop_values.csv
# Array constants in the functions that take ranges, written the same way.
ssconvert -T Gnumeric_Excel:excel_biff8 gnm_arrays.csv gnm_arrays_biff8.xls
ssconvert -T Gnumeric_Excel:excel_biff7 gnm_arrays.csv gnm_arrays_biff5.xls
ssconvert --recalc gnm_arrays_biff8.xls gnm_arrays_values.csv

# A compound file whose two streams disagree: "Workbook" holds lo_cells_biff8.xls, "Book" holds
# gnm_formulas_biff5.xls, so a reader that takes "Book" when "Workbook" exists reads the wrong sheets.
mkdir "$work/mixed"
gsf cat lo_cells_biff8.xls Workbook > "$work/mixed/Workbook"
gsf cat gnm_formulas_biff5.xls Book > "$work/mixed/Book"
(cd "$work/mixed" && gsf createole "$here/mixed_streams.xls" Workbook Book)

# xlrd reads neither encrypted file, so their .json is its reading of the same source saved the same
# way without a password.
for name in lo_encrypted_biff8 lo_encrypted_velvet_biff8; do
    lo_view lo_cells.fods "$work/$name.xls"
    /usr/bin/python3 xlrd_dump.py "$work/$name.xls"
    mv "$work/$name.json" "$name.json"
done

for file in *.xls; do
    case "$file" in
        lo_encrypted* | gnm_desktop* | gnm_arrays*) ;;
        *) /usr/bin/python3 xlrd_dump.py "$file" ;;
    esac
done
