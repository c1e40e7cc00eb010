# CMake generated Testfile for 
# Source directory: /work/main
# Build directory: /work/main/build/dev
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
subdirs("platform")
subdirs("model")
subdirs("formula")
subdirs("functions")
subdirs("format")
subdirs("files")
subdirs("chart")
subdirs("tasks")
subdirs("shell")
subdirs("cli")
subdirs("app")
subdirs("tests")
