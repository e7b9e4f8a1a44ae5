// The indicator drawn natively on a Wayland compositor that offers the wlr layer shell: the
// frame as four strips and the bar as layer surfaces on the overlay layer of the shown output.
//
// How it fits together: the controller's owner thread asks probe() whether this backend can
// run and monitors() what it would show on; each showing then runs on the controller's UI
// thread inside run(), which opens a connection of its own (WaylandShowing), builds the
// surfaces, and loops on that connection and the showing's exit descriptor until the owner or
// the compositor ends it. Nothing of a showing outlives run(): a compositor that went away is
// simply connected to anew by the next showing. Start reading at WaylandShowing::run().
#pragma once

#include <pango/pangocairo.h>

#include <memory>
#include <string>
#include <vector>

#include "IndicatorBackend.h"

namespace NativeUI {

class WaylandBackend : public IndicatorBackend {
 public:
  WaylandBackend();
  ~WaylandBackend() override;
  WaylandBackend(const WaylandBackend&) = delete;
  WaylandBackend& operator=(const WaylandBackend&) = delete;

  // Any thread, on a connection of its own: whether the compositor that WAYLAND_DISPLAY names
  // answers and offers zwlr_layer_shell_v1. false with `reason` set to one line that says why
  // not ("no Wayland compositor at wayland-1: ...", "the compositor offers no layer shell").
  static bool probe(std::string& reason);

  const char* name() const override { return "wayland"; }
  // One entry per output in the compositor's order: its logical rectangle (rotation 1, normal), its
  // name as the only output, never primary, crtc 0. Read on a short-lived connection.
  std::vector<MonitorDetails> monitors() override;
  bool run(const ShowingPlan& plan, ShowingHost& host) override;

 private:
  // Pango's fonts for every showing of this backend, made by the first one: loading them is the
  // slow part of a build. Used by one UI thread at a time; the controller joins each before it
  // starts the next.
  PangoFontMap* _fontMap = nullptr;
};

}  // namespace NativeUI
