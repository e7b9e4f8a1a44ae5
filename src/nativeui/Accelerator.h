// Keyboard shortcuts written as accelerators ("Control+Alt+Shift+S", "CommandOrControl+F12"): the
// text an application hands over, turned into the keysym and the X modifier mask of a key grab.
// Pure: no connection, no state; any thread.
#pragma once

#include <X11/X.h>

#include <optional>
#include <string>

namespace NativeUI {

struct Accelerator {
  KeySym keysym = 0;  // of the unshifted key where the name is of a letter ("S": XK_s)
  unsigned int modifiers =
      0;  // ShiftMask, ControlMask, Mod1Mask (Alt), Mod4Mask (Super), Mod5Mask (AltGr)
};

// The modifiers, then exactly one key, joined by '+', without spaces; names are case-insensitive.
// Modifiers: Control (Ctrl), CommandOrControl (CmdOrCtrl), Command (Cmd), Super (Meta), Alt,
// Option, AltGr, Shift. Keys: A-Z, 0-9, F1-F24, the punctuation characters themselves and Plus,
// Space, Tab, Return (Enter), Escape (Esc), Backspace, Delete, Insert, Home, End, PageUp,
// PageDown, Up, Down, Left, Right, the keypad's num0-num9, numdec, numadd, numsub, nummult,
// numdiv, PrintScreen, and the media keys. nullopt: anything else, among them an empty text, a
// missing or second key, an empty part ("Control++": the key is called Plus) and a modifier
// named twice.
std::optional<Accelerator> parseAccelerator(const std::string& text);

}  // namespace NativeUI
