#include "support/CursorThemes.h"

#include <X11/Xcursor/Xcursor.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace testing_x {

namespace {

class ThemeDirectory {
 public:
  ThemeDirectory() {
    char pattern[] = "/tmp/nativeui-cursors-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    _path = pattern;
    setenv("XCURSOR_PATH", _path.c_str(), 1);
  }
  ~ThemeDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(_path, ignored);
  }
  const std::string& path() const { return _path; }

 private:
  std::string _path;
};

ThemeDirectory& themeDirectory() {
  static ThemeDirectory directory;
  return directory;
}

// Before main(): no test may ask libXcursor for its path before XCURSOR_PATH is set.
const bool kInstalled = (themeDirectory(), true);

void writeCursor(const std::string& file) {
  XcursorImages* images = XcursorImagesCreate(1);
  XcursorImage* image = XcursorImageCreate(8, 8);
  image->size = 8;
  image->xhot = image->yhot = 0;
  image->delay = 0;
  for (int i = 0; i < 64; ++i) image->pixels[i] = 0xFF000000;
  images->images[0] = image;
  images->nimage = 1;
  const bool saved = XcursorFilenameSaveImages(file.c_str(), images);
  XcursorImagesDestroy(images);
  if (!saved) throw std::runtime_error("cannot write " + file);
}

}  // namespace

void makeCursorTheme(const std::string& theme, const std::vector<std::string>& names) {
  (void)kInstalled;
  const std::filesystem::path dir = std::filesystem::path(themeDirectory().path()) / theme;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "cursors");
  for (const std::string& name : names) writeCursor((dir / "cursors" / name).string());
}

}  // namespace testing_x
