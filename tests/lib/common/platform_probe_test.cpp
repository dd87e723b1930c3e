// Proves which kind of machine the suite runs on: the cross build must really be the device's
// 32-bit big-endian ABI under emulation, not a host build that happens to pass.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

TEST(PlatformProbe, ByteOrderAndPointerSizeMatchTheBuild) {
  const uint32_t one = 1;
  unsigned char first;
  std::memcpy(&first, &one, 1);
#if defined(MONO_EXPECT_DEVICE_ABI)
  EXPECT_EQ(sizeof(void*), 4u);
  EXPECT_EQ(first, 0) << "the cross build must run big-endian";
#else
  EXPECT_EQ(first, 1) << "the host build is expected to be little-endian";
#endif
  // Plain char is signed on the build host and unsigned on the device; code must not care.
  EXPECT_TRUE(std::is_signed_v<char> || std::is_unsigned_v<char>);
}

// The C library's double and single precision maths must run wherever the suite runs; under
// the PowerPC emulator this depends on the status-read handler of the cross build.
TEST(PlatformProbe, MathsRoutinesRun) {
  volatile double x = 0.3;
  EXPECT_NEAR(std::sin(x), 0.29552020666133955, 1e-15);
  EXPECT_NEAR(std::cos(x), 0.955336489125606, 1e-15);
  EXPECT_NEAR(std::atan2(x, 1.0), 0.2914567944778671, 1e-15);
  volatile float f = 0.3f;
  EXPECT_NEAR(std::sin(f), 0.29552020f, 1e-6f);
}
