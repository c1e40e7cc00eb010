# CMake generated Testfile for 
# Source directory: /work/main/tests
# Build directory: /work/main/build/dev/tests
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
add_test([=[cli.help]=] "/work/main/build/dev/cli/kelpcli" "--help")
set_tests_properties([=[cli.help]=] PROPERTIES  PASS_REGULAR_EXPRESSION "Usage: kelpcli" _BACKTRACE_TRIPLES "/work/main/tests/CMakeLists.txt;23;add_test;/work/main/tests/CMakeLists.txt;0;")
add_test([=[cli.version]=] "/work/main/build/dev/cli/kelpcli" "--version")
set_tests_properties([=[cli.version]=] PROPERTIES  PASS_REGULAR_EXPRESSION "kelpcli [0-9]+\\.[0-9]+" _BACKTRACE_TRIPLES "/work/main/tests/CMakeLists.txt;25;add_test;/work/main/tests/CMakeLists.txt;0;")
add_test([=[cli.unknown]=] "/work/main/build/dev/cli/kelpcli" "--bogus")
set_tests_properties([=[cli.unknown]=] PROPERTIES  WILL_FAIL "TRUE" _BACKTRACE_TRIPLES "/work/main/tests/CMakeLists.txt;27;add_test;/work/main/tests/CMakeLists.txt;0;")
