#include <QGuiApplication>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

int main(int argc, char **argv) {
  orvan::test::SetTestEnvironment();
  QGuiApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
