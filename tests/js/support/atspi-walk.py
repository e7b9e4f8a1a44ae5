# The indicator as a screen reader sees it, as one JSON line: the application named with the
# notice, its window, label and push button (names, extents in screen coordinates, the button's
# actions, interfaces and focus); "press" also calls the button's first action.
import json
import sys

import pyatspi

notice, mode = sys.argv[1], sys.argv[2]
apps = [app for app in pyatspi.Registry.getDesktop(0) if app is not None and app.name == notice]
out = {"apps": len(apps)}


def extents(accessible):
    box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return [box.x, box.y, box.width, box.height]


if apps:
    app = apps[0]
    window = app.getChildAtIndex(0)
    label = pyatspi.findDescendant(app, lambda o: o.getRole() == pyatspi.ROLE_LABEL)
    button = pyatspi.findDescendant(app, lambda o: o.getRole() == pyatspi.ROLE_PUSH_BUTTON)
    action = button.queryAction()
    out.update(
        role=int(app.getRole()),
        window=[window.name, extents(window)],
        label=[label.name, extents(label)],
        button=[button.name, extents(button)],
        actions=[action.getName(i) for i in range(action.nActions)],
        interfaces=sorted(pyatspi.listInterfaces(button)),
        focused=button.getState().contains(pyatspi.STATE_FOCUSED),
    )
    if mode == "press":
        out["pressed"] = action.doAction(0)
print(json.dumps(out))
