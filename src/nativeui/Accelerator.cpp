#include "Accelerator.h"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace NativeUI {

namespace {

struct Name {
  const char* name;
  unsigned long value;
};

// On Linux the "Command" of an accelerator written for every platform means Control where it
// says "OrControl", and the Super key alone otherwise.
constexpr Name kModifiers[] = {
    {"control", ControlMask},   {"ctrl", ControlMask}, {"commandorcontrol", ControlMask},
    {"cmdorctrl", ControlMask}, {"command", Mod4Mask}, {"cmd", Mod4Mask},
    {"super", Mod4Mask},        {"meta", Mod4Mask},    {"alt", Mod1Mask},
    {"option", Mod1Mask},       {"altgr", Mod5Mask},   {"shift", ShiftMask},
};

constexpr Name kKeys[] = {
    {"plus", XK_plus},
    {"space", XK_space},
    {"tab", XK_Tab},
    {"return", XK_Return},
    {"enter", XK_Return},
    {"escape", XK_Escape},
    {"esc", XK_Escape},
    {"backspace", XK_BackSpace},
    {"delete", XK_Delete},
    {"insert", XK_Insert},
    {"home", XK_Home},
    {"end", XK_End},
    {"pageup", XK_Page_Up},
    {"pagedown", XK_Page_Down},
    {"up", XK_Up},
    {"down", XK_Down},
    {"left", XK_Left},
    {"right", XK_Right},
    {"capslock", XK_Caps_Lock},
    {"numlock", XK_Num_Lock},
    {"scrolllock", XK_Scroll_Lock},
    {"printscreen", XK_Print},
    {"numdec", XK_KP_Decimal},
    {"numadd", XK_KP_Add},
    {"numsub", XK_KP_Subtract},
    {"nummult", XK_KP_Multiply},
    {"numdiv", XK_KP_Divide},
    {"volumeup", XF86XK_AudioRaiseVolume},
    {"volumedown", XF86XK_AudioLowerVolume},
    {"volumemute", XF86XK_AudioMute},
    {"medianexttrack", XF86XK_AudioNext},
    {"mediaprevioustrack", XF86XK_AudioPrev},
    {"mediastop", XF86XK_AudioStop},
    {"mediaplaypause", XF86XK_AudioPlay},
};

// The printable ASCII punctuation, each its own keysym (XK_exclam is '!', and so on).
constexpr const char* kPunctuation = "!\"#$%&'()*,-./:;<=>?@[\\]^_`{|}~";

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::optional<unsigned long> lookUp(const Name* begin, const Name* end, const std::string& name) {
  const auto found =
      std::find_if(begin, end, [&](const Name& entry) { return name == entry.name; });
  if (found == end) return std::nullopt;
  return found->value;
}

// "f1" to "f24", without leading zeros.
std::optional<KeySym> functionKey(const std::string& name) {
  if (name.size() < 2 || name.size() > 3 || name[0] != 'f' || name[1] == '0') return std::nullopt;
  int number = 0;
  for (size_t i = 1; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return std::nullopt;
    number = number * 10 + (name[i] - '0');
  }
  if (number < 1 || number > 24) return std::nullopt;
  return XK_F1 + (number - 1);
}

std::optional<KeySym> keyOf(const std::string& part) {
  const std::string name = lower(part);
  if (name.size() == 1) {
    const unsigned char c = static_cast<unsigned char>(name[0]);
    // Letters, digits and punctuation have the keysym of their Latin-1 code.
    if (std::isalnum(c) || std::strchr(kPunctuation, c) != nullptr) return KeySym{c};
    return std::nullopt;
  }
  // "num0" to "num9": the keypad's digits.
  if (name.size() == 4 && name.compare(0, 3, "num") == 0 &&
      std::isdigit(static_cast<unsigned char>(name[3]))) {
    return XK_KP_0 + (name[3] - '0');
  }
  if (const auto key = functionKey(name)) return key;
  if (const auto key = lookUp(std::begin(kKeys), std::end(kKeys), name)) return KeySym{*key};
  return std::nullopt;
}

}  // namespace

std::optional<Accelerator> parseAccelerator(const std::string& text) {
  Accelerator result;
  bool haveKey = false;
  size_t start = 0;
  for (;;) {
    const size_t plus = text.find('+', start);
    const std::string part = text.substr(start, plus == std::string::npos ? plus : plus - start);
    if (part.empty()) return std::nullopt;
    const auto modifier = lookUp(std::begin(kModifiers), std::end(kModifiers), lower(part));
    if (modifier && !haveKey) {
      if ((result.modifiers & *modifier) != 0) return std::nullopt;  // named twice
      result.modifiers |= static_cast<unsigned int>(*modifier);
    } else {
      const auto key = keyOf(part);
      if (!key || haveKey) return std::nullopt;
      result.keysym = *key;
      haveKey = true;
    }
    if (plus == std::string::npos) break;
    start = plus + 1;
  }
  if (!haveKey) return std::nullopt;
  return result;
}

}  // namespace NativeUI
