// Cursor themes made by the tests. libXcursor reads XCURSOR_PATH once per process, so before
// main() runs it is pointed at a private directory, and at nothing else: the machine's themes,
// its "default" theme among them (which libXcursor asks whenever the chosen theme lacks a name),
// would otherwise answer for names that a test theme leaves out. Each theme is a directory in it
// holding one small cursor file per name, written with libXcursor itself.
#pragma once

#include <string>
#include <vector>

namespace testing_x {

// Creates (or replaces) a theme that has exactly these cursor names. Select it on a connection
// with XcursorSetTheme(display, theme).
void makeCursorTheme(const std::string& theme, const std::vector<std::string>& names);

}  // namespace testing_x
