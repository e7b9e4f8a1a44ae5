// The embedded icons: found by their exact file names, byte for byte the PNG files the bar was
// drawn with, decoded to the pictures they are, and generated files that match their script.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "X11Utils.h"
#include "XHandles.h"

namespace {

struct Icon {
  const char* name;
  const char* hex;
  unsigned int width, height;
  unsigned char alpha;  // every pixel is white with this alpha
};

// The icons' bytes, kept here independently of the generator's copy.
const Icon kIcons[] = {
    {"ic_drag.png",
     "89504e470d0a1a0a0000000d49484452000000020000000e08060000000574cd5f000000017352474200aece1ce9"
     "0000001649444154081d63fcffff7f03031030810810a0270300b6fd0399ff7a54900000000049454e44ae426082",
     2, 14, 0x80},
    {"ic_drag_1x.png",
     "89504e470d0a1a0a0000000d4948445200000001000000070806000000c94c2794000000017352474200aece1ce9"
     "0000001249444154081d63f8ffff7f03130310e024007312038ad3cc186b0000000049454e44ae426082",
     1, 7, 0x80},
    {"ic_stop_2x.png",
     "89504e470d0a1a0a0000000d4948445200000006000000060806000000e0ccef48000000017352474200aece1ce9"
     "0000001549444154081d63fc0f040c5800131631b0103d24004fea0408605fb15f0000000049454e44ae426082",
     6, 6, 0xFF},
};

std::vector<unsigned char> fromHex(const std::string& hex) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

TEST(Icons, KnownNamesGiveTheIconsBytes) {
  const unsigned long lengths[] = {92, 88, 91};
  for (size_t i = 0; i < 3; ++i) {
    unsigned long length = 0;
    const unsigned char* bytes = NativeUI::getPngImageFileData(kIcons[i].name, length);
    ASSERT_NE(bytes, nullptr) << kIcons[i].name;
    EXPECT_EQ(length, lengths[i]) << kIcons[i].name;
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + length), fromHex(kIcons[i].hex))
        << kIcons[i].name;
  }
}

TEST(Icons, OtherNamesGiveNothing) {
  for (const char* name : {"IC_DRAG.PNG", "ic_drag", "", "ic_drag.png ", "ic_stop.png"}) {
    unsigned long length = 123;
    EXPECT_EQ(NativeUI::getPngImageFileData(name, length), nullptr) << name;
    EXPECT_EQ(length, 0u) << name;
  }
}

TEST(Icons, DecodeToTheirWhitePictures) {
  for (const Icon& icon : kIcons) {
    unsigned long length = 0;
    const unsigned char* bytes = NativeUI::getPngImageFileData(icon.name, length);
    unsigned char* raw = nullptr;
    unsigned int width = 0;
    unsigned int height = 0;
    ASSERT_EQ(NativeUI::loadPng(bytes, length, &raw, &width, &height), 0u) << icon.name;
    const NativeUI::MallocPtr<unsigned char> pixels(raw);
    EXPECT_EQ(width, icon.width) << icon.name;
    EXPECT_EQ(height, icon.height) << icon.name;
    std::vector<unsigned char> expected;
    for (unsigned int i = 0; i < icon.width * icon.height; ++i) {
      expected.insert(expected.end(), {0xFF, 0xFF, 0xFF, icon.alpha});
    }
    EXPECT_EQ(std::vector<unsigned char>(raw, raw + 4 * width * height), expected) << icon.name;
  }
}

TEST(Icons, StopIconIs144BytesOfFF) {
  unsigned long length = 0;
  const unsigned char* bytes = NativeUI::getPngImageFileData("ic_stop_2x.png", length);
  unsigned char* raw = nullptr;
  unsigned int width = 0;
  unsigned int height = 0;
  ASSERT_EQ(NativeUI::loadPng(bytes, length, &raw, &width, &height), 0u);
  const NativeUI::MallocPtr<unsigned char> pixels(raw);
  ASSERT_EQ(width * height * 4, 144u);
  EXPECT_EQ(std::vector<unsigned char>(raw, raw + 144), std::vector<unsigned char>(144, 0xFF));
}

TEST(Icons, NoBytesDecodeToAnErrorAndNoPixels) {
  unsigned char* raw = nullptr;
  unsigned int width = 7;
  unsigned int height = 7;
  EXPECT_NE(NativeUI::loadPng(nullptr, 0, &raw, &width, &height), 0u);
  EXPECT_EQ(raw, nullptr);
  const unsigned char garbage[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_NE(NativeUI::loadPng(garbage, sizeof(garbage), &raw, &width, &height), 0u);
  EXPECT_EQ(raw, nullptr);
}

// The arrays in src/nativeui/icons are what scripts/gen-icons.py makes of its bytes.
TEST(Icons, GeneratedFilesMatchTheirScript) {
  const std::string script = std::string(RIG_DIR) + "/../../scripts/gen-icons.py";
  EXPECT_EQ(std::system(("python3 " + script + " --check").c_str()), 0);
}

}  // namespace
