#!/bin/sh
# Draws the README's pictures of the window's dialogs: one headless session over the
# sample workbook for each, its key script ending with the png line.
#   sh docs/dialog-pictures.sh [path/to/kelp]
set -e
kelp=${1:-build/test/app/kelp}
here=$(mktemp -d)
trap 'rm -rf "$here"' EXIT

shot() {
  name=$1
  shift
  printf '%s\n' "$@" "png docs/$name.png" > "$here/keys.txt"
  # A home of its own, so that what one session leaves unsaved is not offered to the next.
  home=$(mktemp -d -p "$here")
  HOME=$home XDG_CONFIG_HOME=$home XDG_STATE_HOME=$home \
    "$kelp" --headless --new-instance --keys "$here/keys.txt" examples/sample.kp
}

shot menus "key Down Right" "soft2" "text 2"
shot sheets "menu Select > Sheets..." "key Down"
shot go-to "menu Data > Go to ..." "text Income!B3"
shot find "menu Data > Find..." "text Rent"
shot find-next "menu Data > Find..." "text Rent" "soft1"
shot replace "menu Data > Replace..." "text 1" "key Down" "text 2"
shot replace-next "menu Data > Replace..." "text 1" "key Down" "text 2" "soft1"
shot zoom "menu Zoom > Custom..."
shot column-width "menu Format > Column > Width..."
shot row-height "menu Format > Row > Height..."
shot insert-cells "menu Edit > Insert Cells"
shot delete-cells "menu Edit > Delete Cells"
shot series "menu Edit > Fill > Series..."
shot group "menu Tools > Outline > Group..."
shot about "menu Task > About..."
shot goal-seek "key Down Down Down Down Down Down Down Down Down Right" "menu Tools > Goal Seek..." "key Down" "text 2000" "key Down" "text B4"
shot paste-special "menu Edit > Copy" "key Right" "menu Edit > Paste Special..."
shot sort "key Down Down Down" "menu Data > Sort..." "key Down Down Down Down Down Down" "key Enter" "key Up Up Up Up Up Up"
shot filter "key Down Down Down" "menu Data > Filter" "key Up" "key Enter" "key Right Right Right Right" "key Down" "key Right Right Right Right Right Right" "key Down" "text R"
shot insert-function "menu Data > Go to ..." "text B12" "soft1" "key Enter" "menu Menu > Insert Function..." "key Right Right Right" "key Down"
shot define-name "menu Data > Go to ..." "text B12" "soft1" "key Enter" "menu Menu > Define name..." "key Down" "text Rent"
shot validation-criteria "menu Data > Go to ..." "text B5" "soft1" "menu Data > Data Validation..." "key Down" "key Right" "key Down Down" "text 1" "key Down" "text 10"
shot validation-alert "menu Data > Go to ..." "text B5" "soft1" "menu Data > Data Validation..." "key Right" "key Down" "text Too big" "key Down" "text From 1 to 10."
shot validation-input "menu Data > Go to ..." "text B5" "soft1" "menu Data > Data Validation..." "key Right Right" "key Down" "text Amount" "key Down" "text Whole units, 1 to 10."
shot input-help "menu Data > Go to ..." "text B5" "soft1" "menu Data > Data Validation..." "key Down" "key Right" "key Down Down" "text 1" "key Down" "text 10" "key Up Up Up Up" "key Left" "key Down" "text Amount" "key Down" "text Whole units, 1 to 10." "soft1"
shot insert-char "menu Data > Go to ..." "text B12" "soft1" "key Enter" "menu Menu > Insert Char..." "key Down Down Down"
shot insert-name "menu Data > Go to ..." "text B12" "soft1" "key Enter" "text =" "menu Menu > Insert Name..."
shot validation-list "menu Data > Go to ..." "text B14" "soft1" "menu Data > Data Validation..." "key Down" "key Right Right Right" "key Down" "text yes,no,maybe" "soft1" "key Enter"
shot format-cells-format "menu Format > Cells..."
shot format-cells-align "menu Format > Cells..." "key Right" "key Down"
shot format-cells-font "menu Format > Cells..." "key Right Right" "key Down"
shot format-cells-border "menu Format > Cells..." "key Right Right Right" "key Down"
shot format-cells-protect "menu Format > Cells..." "key Right Right Right Right" "key Down"
shot number-format "menu Format > Cells..." "key Up" "key Enter"
shot date-format "menu Format > Cells..." "key Down" "key Right" "key Up Up" "key Enter"
shot options-view "menu Tools > Options..."
shot options-general "menu Tools > Options..." "key Right"
shot options-lists "menu Tools > Options..." "key Right Right" "key Down"
shot no-gridlines "menu Tools > Options..." "key Down Down Down" "key Enter" "soft1"
shot chart-dialog "menu Data > Go to ..." "text A3:D9" "soft1" "menu Tools > Chart..." "key Right"
shot chart-window "menu Data > Go to ..." "text A3:D9" "soft1" "menu Tools > Chart..." "key Right" "soft1" "key Right" "key Right"
shot chart-zoom "menu Data > Go to ..." "text A3:D9" "soft1" "menu Tools > Chart..." "key Right" "soft1" "menu Options > Zoom Picture..." "text 200"
shot chart-zoomed "menu Data > Go to ..." "text A3:D9" "soft1" "menu Tools > Chart..." "soft1" "menu Options > Zoom Picture..." "text 150" "soft1" "key Right Right"
shot workbook-task "menu Task > Workbook Task..." "menu New..." "text Notes" "key Down" "text RunApp(\"mousepad\", \"notes.txt\")" "key Down Down" "key Right" "key Down" "text Notes" "soft1"
shot define-task "menu Task > Workbook Task..." "menu New..." "text Total" "key Down" "text MsgBox(Sum(B2:B5))" "key Down Down" "key Right Right" "key Down" "text B2:B5"
shot cell-task "menu Task > Cell Task..." "text Total" "key Down" "text MsgBox(Sum(B2:B9))" "key Down" "key Right Right Right"
shot insert-hyperlink "menu Task > Insert Hyperlink..." "text Expenses" "key Down" "key Down" "text B12"
shot run-app "menu Task > Workbook Task..." "menu New..." "text Notes" "key Down" "text RunApp(\"mousepad\", \"notes.txt\")" "key Down Down" "key Right" "key Down" "text Notes" "soft1" "soft1" "menu Task > Notes" "soft1"
