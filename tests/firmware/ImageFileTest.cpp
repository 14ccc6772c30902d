#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "base/LittleEndian.h"
#include "firmware/ImageFile.h"
#include "tests/support/TempDir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SumImageRegion, SumsWholeLittleEndianWordsOfTheStretchOrSaysWhyNot) {
  testing_support::CTempDir dir;
  const Bytes bytes = {0xAA, 0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x09, 0x08, 0x07};
  const auto path = dir.WriteFile("sum.bin", bytes);

  auto whole = firmware::SumImageRegion(path, 1, 8);
  ASSERT_TRUE(whole.ok());
  EXPECT_EQ(whole->sum, 0x00000001u + 0xFFFFFFFFu);
  EXPECT_EQ(whole->length, 8u);

  // 11 bytes: two words summed, the last three bytes read but left out.
  auto ragged = firmware::SumImageRegion(path, 1, 11);
  ASSERT_TRUE(ragged.ok());
  EXPECT_EQ(ragged->sum, 0u);
  EXPECT_EQ(ragged->length, 11u);

  auto past = firmware::SumImageRegion(path, 1, 12);
  ASSERT_FALSE(past.ok());
  EXPECT_EQ(past.error().kind, base::ErrorKind::kInvalidData);
  auto missing = firmware::SumImageRegion((dir.Path() / "nope").string(), 0, 4);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().kind, base::ErrorKind::kNotFound);
}

TEST(SumImageRegion, LargeStretchesAcrossReadSlicesGiveTheSameSum) {
  testing_support::CTempDir dir;
  Bytes bytes(200003);
  std::uint32_t expected = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(i * 13 + 5);
  }
  for (std::size_t i = 3; i + 4 <= 3 + 200000; i += 4) {
    expected += base::LoadU32(&bytes[i]);
  }
  const auto path = dir.WriteFile("big.bin", bytes);
  auto sum = firmware::SumImageRegion(path, 3, 200000);
  ASSERT_TRUE(sum.ok());
  EXPECT_EQ(sum->sum, expected);
}

TEST(ImageFile, ReadAtTellsAShortReadFromAFailedOne) {
  testing_support::CTempDir dir;
  const auto path = dir.WriteFile("ten.bin", Bytes(10, 3));
  firmware::CImageFile file;
  ASSERT_TRUE(file.Open(path).ok());
  std::uint8_t buffer[46];
  auto tail = file.ReadAt(6, buffer, 46);
  ASSERT_TRUE(tail.ok());
  EXPECT_EQ(tail.value(), 4u);
  auto beyond = file.ReadAt(1000, buffer, 46);
  ASSERT_TRUE(beyond.ok());
  EXPECT_EQ(beyond.value(), 0u);
  file.Close();
  EXPECT_FALSE(file.ReadAt(0, buffer, 1).ok());
}

}  // namespace
