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
  HOME=$here XDG_CONFIG_HOME=$here XDG_STATE_HOME=$here \
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
shot options-view "menu Tools > Options..."
shot options-general "menu Tools > Options..." "key Right"
shot options-lists "menu Tools > Options..." "key Right Right" "key Down"
shot no-gridlines "menu Tools > Options..." "key Down Down Down" "key Enter" "soft1"
