// Proves which kind of machine the suite runs on: the cross build must really be the device's
// 32-bit big-endian ABI under emulation, not a host build that happens to pass.

#include <gtest/gtest.h>

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
