#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "platform/core/vcText.h"
#include "platform/core/vcTimer.h"

namespace {

TEST(Text, NumbersAndFlags) {
  EXPECT_EQ(vfStr(true), "true");
  EXPECT_EQ(vfStr(false), "false");
  EXPECT_EQ(vfStr(-42L), "-42");
  EXPECT_EQ(vfStr(4294967295UL), "4294967295");
  EXPECT_EQ(vfStr(3u), "3");
  EXPECT_EQ(vfStr(0.1), "0.1");
  EXPECT_EQ(vfStr(-3.0), "-3");
  EXPECT_EQ(vfStr(0.25f), "0.25");
  // Shortest form reads back exactly.
  const double v = 1.0 / 3.0;
  EXPECT_EQ(std::stod(vfStr(v)), v);
  EXPECT_EQ(vfDbl(2.5, 2, false), "2.50");
  EXPECT_EQ(vfDbl(0.125, 2, false), "0.12");  // round half to even on the exact binary value
  EXPECT_EQ(vfDbl(-0.004, 2, false), "-0.00");
  EXPECT_EQ(vfDbl(1234.5, 1, true), "1.2e+03");
  EXPECT_EQ(vfDbl(7.0, 0, false), "7");
  EXPECT_EQ(vfDbl(1.0, -3, false), "1");
  EXPECT_EQ(vfDbl(std::numeric_limits<double>::quiet_NaN(), 2, false), "nan");
  EXPECT_EQ(vfDbl(-std::numeric_limits<double>::infinity(), 2, false), "-inf");
  EXPECT_EQ(vfDbl(1e308, 30, false).size(), 309u + 1 + 30);
}

TEST(Timer, AccumulatesOnlyWhileRunning) {
  vcTimer idle;
  EXPECT_FALSE(idle.isRunning());
  EXPECT_EQ(idle.sec(), 0.0);
  vcTimer t(true);
  EXPECT_TRUE(t.isRunning());
  volatile double sink = 0;
  for (int i = 0; i < 200000; ++i) sink = sink + std::sqrt(static_cast<double>(i));
  t.stop();
  const double a = t.sec();
  EXPECT_GT(a, 0.0);
  for (int i = 0; i < 200000; ++i) sink = sink + std::sqrt(static_cast<double>(i));
  EXPECT_EQ(t.sec(), a);  // stopped: frozen
  t.start();
  EXPECT_GE(t.sec(), a);  // restarted: continues from the accumulated time
  t.stop();
  t.reset();
  EXPECT_EQ(t.sec(), 0.0);
  EXPECT_NEAR(t.msec(), 1000.0 * t.sec(), 1e-9);
}

}  // namespace
