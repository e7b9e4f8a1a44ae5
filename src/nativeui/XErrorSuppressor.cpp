#include <cstdio>

#include "NativeUIController.h"

namespace NativeUI {

namespace {

// The errors of every request sent so far have been read and handed to the handler in force
// once the server has answered, or sent an event after, the last request: errors come in order
// with replies and events.
void awaitErrorsOfSentRequests(Display* display) {
  if (LastKnownRequestProcessed(display) == NextRequest(display) - 1) return;
  XSync(display, False);
}

}  // namespace

XErrorSuppressor::XErrorSuppressor(Display* display) : _display(display) {
  awaitErrorsOfSentRequests(_display);  // those of earlier requests go to the earlier handler
  _previousHandler = XSetErrorHandler(&XErrorSuppressor::ErrorHandler);
}

XErrorSuppressor::~XErrorSuppressor() {
  awaitErrorsOfSentRequests(_display);  // errors of the requests above must reach us first
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
