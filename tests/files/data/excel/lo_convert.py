#!/usr/bin/python3
"""Saves spreadsheets as Excel 97-2003 .xls through LibreOffice, shown on a virtual display and driven over UNO."""

# Usage: xvfb-run -a lo_convert.py [--password=SECRET] [--freeze=SHEET:COLS:ROWS]... [--zoom=PERCENT]
#                                    SOURCE OUTPUT.xls
# Needs python3-uno (so Debian's /usr/bin/python3), LibreOffice and an X display such as xvfb-run's.
# `soffice --headless --convert-to` has no view, so frozen panes and zoom never reach the .xls, and it
# cannot set a password. A document shown in a window on a virtual display has a view: panes are
# frozen and zoom set through it (the view settings inside a .fods are not applied on load here),
# and storeAsURL writes them out, with the password if one is given. LibreOffice keeps one zoom
# for all sheets of a view, so the zoom applies to every sheet.

import os
import subprocess
import sys
import tempfile
import time

import uno
from com.sun.star.beans import PropertyValue
from com.sun.star.connection import NoConnectException


def props(**values):
    out = []
    for key, value in values.items():
        prop = PropertyValue()
        prop.Name = key
        prop.Value = value
        out.append(prop)
    return tuple(out)


def connect(pipe):
    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
    for _ in range(150):
        try:
            return resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
        except NoConnectException:
            time.sleep(0.2)
    raise SystemExit("LibreOffice did not answer on pipe " + pipe)


def main(argv):
    password = None
    freezes = []
    zoom = None
    args = []
    for arg in argv:
        if arg.startswith("--password="):
            password = arg[len("--password="):]
        elif arg.startswith("--freeze="):
            sheet, cols, rows = arg[len("--freeze="):].rsplit(":", 2)
            freezes.append((sheet, int(cols), int(rows)))
        elif arg.startswith("--zoom="):
            zoom = int(arg[len("--zoom="):])
        else:
            args.append(arg)
    if len(args) != 2 or "DISPLAY" not in os.environ:
        raise SystemExit(__doc__ + "usage: xvfb-run -a lo_convert.py [options] SOURCE OUTPUT.xls")
    source, output = (os.path.abspath(a) for a in args)

    profile = tempfile.mkdtemp(prefix="lo_convert_profile_")
    pipe = "lo_convert_%d" % os.getpid()
    office = subprocess.Popen(["soffice", "--invisible", "--norestore", "--nologo",
                               "-env:UserInstallation=file://" + profile,
                               "--accept=pipe,name=%s;urp;" % pipe],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        context = connect(pipe)
        desktop = context.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", context)
        doc = desktop.loadComponentFromURL(uno.systemPathToFileUrl(source), "_blank", 0, props(Hidden=False))
        doc.calculateAll()
        view = doc.getCurrentController()
        first = doc.Sheets.getByIndex(0)
        for sheet, cols, rows in freezes:
            view.setActiveSheet(doc.Sheets.getByName(sheet))
            view.freezeAtPosition(cols, rows)
        view.setActiveSheet(first)
        if zoom is not None:
            view.ZoomValue = zoom
        store = {"FilterName": "MS Excel 97", "Overwrite": True}
        if password is not None:
            store["Password"] = password
        doc.storeAsURL(uno.systemPathToFileUrl(output), props(**store))
        doc.close(True)
        try:
            desktop.terminate()
        except Exception:
            pass  # the bridge drops as the office quits
    finally:
        try:
            office.wait(timeout=30)
        except subprocess.TimeoutExpired:
            office.kill()
            office.wait()
        subprocess.run(["rm", "-rf", profile])


if __name__ == "__main__":
    main(sys.argv[1:])
