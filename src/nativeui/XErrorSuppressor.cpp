#include <cstdio>

#include "NativeUIController.h"

namespace NativeUI {

XErrorSuppressor::XErrorSuppressor(Display* display) : _display(display) {
  XFlush(_display);
  XSync(_display, False);
  _previousHandler = XSetErrorHandler(&XErrorSuppressor::ErrorHandler);
}

XErrorSuppressor::~XErrorSuppressor() {
  XFlush(_display);
  XSync(_display, False);  // errors of the requests above must reach us before we step aside
  XSetErrorHandler(_previousHandler);
}

int XErrorSuppressor::ErrorHandler(Display* display, XErrorEvent* event) {
  char text[256] = {0};
  XGetErrorText(display, event->error_code, text, sizeof(text));
  printf("Received X11 error \"%s\" for request code %d, error code %d, resource id: 0x%08lX\n",
         text, event->request_code, event->error_code, event->resourceid);
  fflush(stdout);
  return 0;
}

}  // namespace NativeUI
