// Test main: a QApplication on a fixed 1280x1024 offscreen screen, so widget tests see the same
// screen on every machine, then GoogleTest. A test program built with KESTROM_TEST_SCREENS names
// another screen file of this folder (the display tests' second monitor).
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

extern "C" {
// Leaks inside the toolkit's and the system's own libraries (font caches, X resources) are
// theirs, not ours.
const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n"
         "leak:libQt6\n"
         "leak:libX11\n"
         "leak:libxcb\n"
         "leak:libglib\n"
         "leak:libdbus\n"
         "leak:libfreetype\n";
}
const char* __asan_default_options() { return "detect_leaks=1"; }
const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }
}

#ifndef KESTROM_TEST_SCREENS
#define KESTROM_TEST_SCREENS "offscreen-screen.json"
#endif

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen:configfile=" KESTROM_TEST_SOURCE_DIR "/" KESTROM_TEST_SCREENS, 1);
  setenv("QT_QPA_FONTDIR", "/usr/share/fonts/truetype/dejavu", 0);
  setenv("KESTROM_TEST_FIXTURES", KESTROM_TEST_SOURCE_DIR "/fixtures", 1);
  setenv("KESTROM_BIN_DIR", KESTROM_BIN_DIR, 1);
  // No test reaches the real user's folders or devices unless it says so itself.
  setenv("KESTROM_TEST_RUN", "1", 1);

  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
