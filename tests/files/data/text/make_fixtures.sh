#!/bin/sh
# Remakes every CSV, tab-text and dBase fixture in this folder from its hand-written source, then the .json oracles.
#
# Not run by CI: the fixtures and .json files are committed. Needs the Debian packages libreoffice-calc,
# libreoffice-base-drivers (Calc's dBase export goes through its dBase driver), gnumeric (ssconvert),
# iconv (libc-bin) and python3-dbfread. Conversions run one at a time.
# Usage: sh tests/files/data/text/make_fixtures.sh
set -eu
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# LibreOffice's text export. The options are: field separator, text delimiter, character set
# (76 UTF-8, 1 Windows-1252, 4 IBM 850), first line 1, no column formats, language 0, quoted
# field as text false, detect special numbers true, save cell contents as shown true, export
# formulas false, remove spaces false.
lo_text() {
    libreoffice -env:UserInstallation="file://$work/profile" --headless \
        --convert-to "$3:Text - txt - csv (StarCalc):$4,34,$5,1,,0,false,true,true,false,false" \
        --outdir "$work" "$1.fods"
    mv "$work/$1.$3" "$2"
}

# LibreOffice's dBase III export; the option is the character set number as above. The header
# row of the sheet names each field with its type and size.
lo_dbf() {
    libreoffice -env:UserInstallation="file://$work/profile" --headless \
        --convert-to "dbf:dBase:$3" --outdir "$work" "$1.fods"
    mv "$work/$1.dbf" "$2"
}

# Gnumeric's configurable text export.
gnm_text() {
    ssconvert -T Gnumeric_stf:stf_assistant -O "$3" "$1.gnumeric" "$2"
}

lo_text lo_text lo_text_utf8.csv csv 44 76
lo_text lo_text lo_text_utf8.txt txt 9 76
lo_text lo_latin lo_latin_cp1252.csv csv 44 1
lo_text lo_latin lo_latin_cp850.csv csv 44 4

gnm_text gnm_text gnm_text_utf8_raw.csv 'separator=, format=raw charset=UTF-8'
gnm_text gnm_text gnm_text_utf8_shown.csv 'separator=, format=automatic charset=UTF-8'
gnm_text gnm_text gnm_text_utf8_raw.txt "separator='	' format=raw charset=UTF-8"
gnm_text gnm_latin gnm_latin_cp1252.csv 'separator=, format=raw charset=WINDOWS-1252'
gnm_text gnm_latin gnm_latin_cp850.csv 'separator=, format=raw charset=CP850'
# Gnumeric's plain CSV export with no options, as most people would make one.
ssconvert -T Gnumeric_stf:stf_csv gnm_text.gnumeric gnm_text_default.csv

# UTF-16LE with a byte order mark and CR LF line ends, from LibreOffice's tab text. Every LF
# gains a CR, the one inside the quoted "two/lines" field too.
printf '\377\376' > lo_text_utf16.txt
sed 's/$/\r/' lo_text_utf8.txt | iconv -f UTF-8 -t UTF-16LE >> lo_text_utf16.txt

lo_dbf lo_dbase lo_dbase_cp1252.dbf 1
lo_dbf lo_dbase lo_dbase_cp850.dbf 4
# Record 3 ("Deleted Row") flagged deleted; LibreOffice itself never writes one.
/usr/bin/python3 dbf_delete.py lo_dbase_cp1252.dbf 3 lo_dbase_deleted.dbf

for file in lo_text_utf8.csv lo_text_utf8.txt gnm_text_utf8_raw.csv gnm_text_utf8_shown.csv \
            gnm_text_utf8_raw.txt gnm_text_default.csv; do
    case "$file" in
        *.txt) delimiter=tab ;;
        *) delimiter=, ;;
    esac
    /usr/bin/python3 csv_dump.py "$file" utf-8 "$delimiter"
done
/usr/bin/python3 csv_dump.py lo_latin_cp1252.csv cp1252 ,
/usr/bin/python3 csv_dump.py gnm_latin_cp1252.csv cp1252 ,
/usr/bin/python3 csv_dump.py lo_latin_cp850.csv cp850 ,
/usr/bin/python3 csv_dump.py gnm_latin_cp850.csv cp850 ,
/usr/bin/python3 csv_dump.py lo_text_utf16.txt utf-16 tab
/usr/bin/python3 dbf_dump.py lo_dbase_cp1252.dbf cp1252
/usr/bin/python3 dbf_dump.py lo_dbase_cp850.dbf cp850
/usr/bin/python3 dbf_dump.py lo_dbase_deleted.dbf cp1252
