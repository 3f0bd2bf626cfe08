#include <QGuiApplication>
#include <QScreen>
#include <gtest/gtest.h>

// Widget tests rely on one fixed screen; make sure the test environment gives it.
TEST(TestEnvironment, OffscreenScreenIs1280x1024) {
  ASSERT_NE(QGuiApplication::primaryScreen(), nullptr);
  EXPECT_EQ(QGuiApplication::primaryScreen()->geometry(), QRect(0, 0, 1280, 1024));
}
