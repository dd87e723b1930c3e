#include "byteorder.h"

#include <gtest/gtest.h>

#include <array>

using namespace mono;

TEST(ByteOrder, WordsReadAndWriteMostSignificantByteFirst) {
  const std::array<uint8_t, 6> bytes = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  EXPECT_EQ(load_be32(bytes.data()), 0x12345678u);
  EXPECT_EQ(load_be32(bytes.data() + 1), 0x3456789Au);  // unaligned
  EXPECT_EQ(load_be16(bytes.data() + 3), 0x789Au);
  EXPECT_EQ(load_be64(std::array<uint8_t, 9>{0, 1, 2, 3, 4, 5, 6, 7, 8}.data() + 1), 0x0102030405060708ull);
  EXPECT_EQ(load_le32(bytes.data()), 0x78563412u);
  EXPECT_EQ(load_le16(bytes.data() + 4), 0xBC9Au);

  std::array<uint8_t, 5> out{};
  store_be32(out.data() + 1, 0xA1B2C3D4u);
  EXPECT_EQ(out, (std::array<uint8_t, 5>{0, 0xA1, 0xB2, 0xC3, 0xD4}));
  store_be16(out.data(), 0x0102);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], 2);
  std::array<uint8_t, 8> wide{};
  store_be64(wide.data(), 0x1122334455667788ull);
  EXPECT_EQ(wide, (std::array<uint8_t, 8>{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
  store_le32(out.data(), 0x01020304u);
  EXPECT_EQ(out[0], 4);
  EXPECT_EQ(out[3], 1);
  store_le16(out.data(), 0xAABB);
  EXPECT_EQ(out[0], 0xBB);
}

TEST(ByteOrder, PixelZeroIsTheMostSignificantBitOfTheWord) {
  std::array<uint8_t, 4> row{};
  set_bit(row.data(), 0, 1);
  set_bit(row.data(), 31, 1);
  EXPECT_EQ(load_be32(row.data()), 0x80000001u);
  EXPECT_EQ(row[0], 0x80);
  EXPECT_EQ(get_bit(row.data(), 0), 1);
  EXPECT_EQ(get_bit(row.data(), 1), 0);
  set_bit(row.data(), 0, 0);
  EXPECT_EQ(row[0], 0x00);
}

TEST(ByteOrder, MasksAtTheLimits) {
  EXPECT_EQ(left_mask32(0), 0u);
  EXPECT_EQ(left_mask32(1), 0x80000000u);
  EXPECT_EQ(left_mask32(31), 0xFFFFFFFEu);
  EXPECT_EQ(left_mask32(32), 0xFFFFFFFFu);
  EXPECT_EQ(right_mask32(0), 0u);
  EXPECT_EQ(right_mask32(1), 1u);
  EXPECT_EQ(right_mask32(32), 0xFFFFFFFFu);
}

TEST(ByteOrder, PixelsOfEveryDepthRoundTripWithoutTouchingNeighbours) {
  for (unsigned depth : {1u, 2u, 4u, 8u, 16u}) {
    std::array<uint8_t, 16> row;
    row.fill(0xA5);
    const std::array<uint8_t, 16> before = row;
    const uint32_t maxv = depth == 16 ? 0xFFFFu : (1u << depth) - 1u;
    set_pixel(row.data(), 3, depth, maxv);
    EXPECT_EQ(get_pixel(row.data(), 3, depth), maxv) << depth;
    set_pixel(row.data(), 3, depth, get_pixel(before.data(), 3, depth));
    EXPECT_EQ(row, before) << "depth " << depth;
  }
  std::array<uint8_t, 2> r2 = {0x00, 0x00};
  set_pixel(r2.data(), 1, 4, 0xF);  // second nibble of the first byte
  EXPECT_EQ(r2[0], 0x0F);
  EXPECT_EQ(packed_row_bytes(9, 1), 2u);
  EXPECT_EQ(packed_row_bytes(3, 16), 6u);
}
