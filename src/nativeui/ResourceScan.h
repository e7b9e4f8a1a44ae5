// Reading the server's resource database (RESOURCE_MANAGER) without Xlib's parser, which takes
// about a second per megabyte of some texts and more than linearly longer for bigger ones: the
// text is whatever other clients put on the root. The dpi is found by dpiFromResources
// (DisplayScale.h); the rest is here. Free functions, any thread.
#pragma once

#include <X11/Xlib.h>

#include <string>

#include "XHandles.h"

namespace NativeUI {

// The lines of a resource database text that XGetDefault(display, "Xft" or "Xcursor", option)
// could match, for any option, in their order and as written; comments, lines without a colon
// and entries for other programs are left out. A database of them answers those queries exactly
// as the whole text would.
std::string libraryResourceLines(const char* resources);

// Before anything on `display` asks XGetDefault (Xft at every font it opens, Xcursor for its
// theme): where the connection's copy of RESOURCE_MANAGER is larger than any desktop writes,
// gives the connection the database that Xlib would build, but of the lines for Xft and Xcursor
// only, with the user's resource files merged as Xlib merges them, and returns it: Xlib never
// frees a database given to it, so the caller does, once the connection is closed. A usual
// database is left for Xlib to parse as always (null). Owner of `display` only.
XrmDatabasePtr bindLibraryResources(Display* display);

}  // namespace NativeUI
