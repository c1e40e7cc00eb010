#!/bin/sh
# Draws the README's chart pictures: every chart type of the sample's budget, through
# kelpcli chart, at the phone's 240x320.
#   sh docs/chart-pictures.sh [path/to/kelpcli]
set -e
kelpcli=${1:-build/test/cli/kelpcli}
chart() {
  name=$1
  shift
  "$kelpcli" chart examples/sample.kp "$@" --size 240x320 -o "docs/chart-$name.png"
}
chart bar A3:D9 Legend "Title:Household budget"
chart line A3:D9 Line Legend "Title:Household budget"
chart line-markers A3:D9 LineMarkers Legend Series:Columns "Title:Month by month"
chart pie A3:B9 Pie Series:Columns Legend "Title:January"
chart xy B3:D9 XY Series:Columns Legend Xgrid "Title:Feb and Mar against Jan" XTitle:Jan
chart xy-lines B3:D9 XYLines Series:Columns Legend "Title:Feb and Mar against Jan"
chart xy-lines-markers B3:D9 XYLinesMarkers Series:Columns Legend AutoScale:No "Title:From zero"
