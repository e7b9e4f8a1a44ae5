// The embedded icons by file name, and their decoding.
#include <lodepng.h>

#include <cstring>

#include "X11Utils.h"
#include "icons/Icons.h"

namespace NativeUI {

namespace {

struct EmbeddedIcon {
  const char* name;
  unsigned char* bytes;
  const unsigned int* length;
};

const EmbeddedIcon kIcons[] = {
    {"ic_drag.png", ic_drag_png, &ic_drag_png_len},
    {"ic_drag_1x.png", ic_drag_1x_png, &ic_drag_1x_png_len},
    {"ic_stop_2x.png", ic_stop_2x_png, &ic_stop_2x_png_len},
};

}  // namespace

unsigned char* getPngImageFileData(const std::string& name, unsigned long& length) {
  for (const EmbeddedIcon& icon : kIcons) {
    if (name == icon.name) {
      length = *icon.length;
      return icon.bytes;
    }
  }
  length = 0;
  return nullptr;
}

unsigned int loadPng(const unsigned char* data, unsigned long length, unsigned char** pixels,
                     unsigned int* width, unsigned int* height) {
  return lodepng_decode32(pixels, width, height, data, length);
}

}  // namespace NativeUI
