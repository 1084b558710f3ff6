#!/usr/bin/env python3
"""nimbrel-settings as a screen reader sees it: its windows and controls found in the
accessibility tree by role and name, pressed through their actions, read back through their
texts and states. Names are looked up in the catalogue under $NIMBREL_LOCALEDIR (none: English),
so the same checks hold in every language. Every wait is bounded by a minute, which only a hang
reaches.

  dump                       the tree of every window: role, name, relations
  names WINDOW               the window's controls are exactly those of its table
  wait WINDOW | gone WINDOW  until the window is shown, or no longer
  shown WINDOW               whether the window is shown now
  list WINDOW                until an item of a list (a pop-up's) in the window has the keyboard
  press WINDOW NAME [TIED]   the action of the control named NAME (tied to the one named TIED)
  focus WINDOW NAME          until the control named NAME, or one inside it, has the keyboard
  text WINDOW NAME VALUE     until the field named NAME shows VALUE
  checked WINDOW NAME 0|1    until the check box named NAME is off (0) or on (1)
  about VERSION              the About window shows VERSION, the licence and the homepage
  about_shown                whether the About window is shown now
  extents WINDOW NAME        where the control is in its window, as WxH+X+Y
  tr TEXT                    TEXT as the user reads it

WINDOW and NAME are English texts, access-key underscores included, as in the interface files.
"""
import gettext
import os
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

APP = "nimbrel-settings"
LOCALEDIR = os.environ.get("NIMBREL_LOCALEDIR")
CATALOGUE = gettext.translation("nimbrel", LOCALEDIR, fallback=True) if LOCALEDIR else None
GTK = gettext.translation("gtk40", fallback=True) if LOCALEDIR else None


def tr(text):
    """What a user reads for `text`: translated, without its access-key underscore."""
    catalogue = GTK if text.startswith("gtk:") else CATALOGUE
    text = text.removeprefix("gtk:")
    return (catalogue.gettext(text) if catalogue else text).replace("_", "")


# Every control of each window, (role, name, what it is tied to), in tree order. Names starting
# "gtk:" are GTK's own words, in GTK's catalogue.
TABLES = {
    "Nimbrel Settings": [
        ("image", "Preview", ""),
        ("push button", "_Try Full Screen", "labelled-by _Try Full Screen"),
        ("push button", "_Options…", "labelled-by _Options…"),
        ("push button", "Main Menu", "controller-for GtkPopoverMenu"),
        ("push button", "Main Menu", "labelled-by Main Menu"),
        ("push button", "gtk:Minimize", ""),
        ("push button", "gtk:Close", ""),
    ],
    "Nimbrel Options": [
        ("text", "_Petals", "labelled-by _Petals"),
        ("push button", "Decrease", "controller-for _Petals"),
        ("push button", "Increase", "controller-for _Petals"),
        ("check box", "_Mirror petals", ""),
        ("check box", "O_utline petals", ""),
        ("combo box", "Co_lours", "labelled-by Co_lours"),
        ("push button", "Co_lours", "labelled-by Co_lours"),
        ("check box", "Shift _hues on alternate frames", ""),
        ("check box", "S_tars", ""),
        ("text", "_Speed", "labelled-by _Speed"),
        ("push button", "Decrease", "controller-for _Speed"),
        ("push button", "Increase", "controller-for _Speed"),
        ("check box", "Change settings at _random", ""),
        ("text", "_Every", "labelled-by _Every"),
        ("push button", "Decrease", "controller-for _Every"),
        ("push button", "Increase", "controller-for _Every"),
        ("push button", "_Cancel", "labelled-by _Cancel"),
        ("push button", "_OK", "labelled-by _OK"),
    ],
}
CONTROL_ROLES = {"push button", "toggle button", "check box", "combo box", "text", "image",
                 "menu item", "spin button", "slider", "radio button", "link"}


def app():
    """The running nimbrel-settings: the newest that answers (one that ended, such as a second
    start, stays listed a while)."""
    desktop = Atspi.get_desktop(0)
    for i in reversed(range(desktop.get_child_count())):
        child = desktop.get_child_at_index(i)
        if child is None or child.get_name() != APP:
            continue
        # What the library keeps of states and children would go stale: no main loop runs here
        # to take the application's events.
        child.clear_cache()
        try:
            child.get_child_count()
            return child
        except gi.repository.GLib.Error:
            continue
    return None


def walk(node, depth=0):
    yield node, depth
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            yield from walk(child, depth + 1)


def showing(node):
    """A window is shown; GTK tells only whether a control is visible within it."""
    state = Atspi.StateType.SHOWING if node.get_role_name() == "frame" else Atspi.StateType.VISIBLE
    return node.get_state_set().contains(state)


def window(title):
    """The shown window titled `title` (English), or None."""
    a = app()
    for i in range(a.get_child_count() if a else 0):
        w = a.get_child_at_index(i)
        if w is not None and w.get_name() == tr(title) and showing(w):
            return w
    return None


def ties(node):
    out = []
    for relation in node.get_relation_set() or []:
        kind = relation.get_relation_type().value_nick
        if kind in ("labelled-by", "controller-for"):
            for j in range(relation.get_n_targets()):
                out.append(f"{kind} {relation.get_target(j).get_name()}")
    return ", ".join(out)


def controls(w):
    return [(n.get_role_name(), n.get_name(), ties(n)) for n, _ in walk(w)
            if n.get_role_name() in CONTROL_ROLES and showing(n)]


def until(what, check):
    """check()'s first true answer, polled every 50 ms for at most a minute."""
    end, error = time.monotonic() + 60, ""
    while True:
        try:
            answer = check()
        except gi.repository.GLib.Error as e:
            answer, error = None, f" ({e})"  # a window going while it was read
        if answer:
            return answer
        if time.monotonic() > end:
            sys.exit(f"atspi_driver: {what}{error}")
        time.sleep(0.05)


def named(title, name, tie=None):
    """The controls named `name` in window `title`, those tied to the control named `tie` if
    given."""
    w = until(f"no window '{tr(title)}'", lambda: window(title))
    return [n for n, _ in walk(w) if n.get_role_name() in CONTROL_ROLES and n.get_name() == tr(name)
            and showing(n) and (tie is None or ties(n).endswith(" " + tr(tie)))]


def control(title, name, tie=None, acts=False):
    """The first control named `name` (with an action, if `acts`), once there is one."""
    return until(f"no control '{tr(name)}' in '{tr(title)}'", lambda: next(
        (n for n in named(title, name, tie)
         if not acts or n.get_action_iface().get_n_actions() > 0), None))


def focused(title, name):
    """Whether the control named `name`, or one of that name inside it, has the keyboard."""
    return any(n.get_state_set().contains(Atspi.StateType.FOCUSED) for n in named(title, name))


def in_list(title):
    """Whether an item of a list (a pop-up's) has the keyboard."""
    return any(n.get_role_name() == "list item"
               and n.get_state_set().contains(Atspi.StateType.FOCUSED)
               for n, _ in walk(window(title)))


def dump():
    a = until("no application", app)
    for i in range(a.get_child_count()):
        for n, depth in walk(a.get_child_at_index(i)):
            tie = ties(n)
            print(f"{'  ' * depth}{n.get_role_name()} '{n.get_name()}'" + (f" [{tie}]" if tie else ""))


def press(title, name, tie=None):
    control(title, name, tie, acts=True).get_action_iface().do_action(0)


def text_of(c):
    text = c.get_text_iface()
    return text.get_text(0, text.get_character_count())  # GTK 4.8 reads an end of -1 as 0


def checked(c):
    return c.get_state_set().contains(Atspi.StateType.CHECKED)


def names(title):
    w = until(f"no window '{tr(title)}'", lambda: window(title))
    tied = lambda tie: f"{tie.split(' ')[0]} {tr(tie.split(' ', 1)[1])}" if tie else ""
    want = [(role, tr(name), tied(tie)) for role, name, tie in TABLES[title]]
    got = controls(w)
    if got != want:
        sys.exit(f"atspi_driver: the controls of '{tr(title)}' are\n  {got}\nnot\n  {want}")


def about_window():
    """The About window: GTK titles it in its own words, around the program's name."""
    a, program = app(), tr("Nimbrel Settings")
    for i in range(a.get_child_count() if a else 0):
        w = a.get_child_at_index(i)
        if w is not None and program in w.get_name() and w.get_name() != program and showing(w):
            return w
    return None


def about(version):
    w = until("no About window", about_window)
    seen = lambda: [text_of(n) for n, _ in walk(w) if "Text" in n.get_interfaces()]
    # The licence is on a page of its own, filled when it is shown.
    tabs = [n for n, _ in walk(w) if n.get_role_name() == "page tab"]
    until(f"no licence page among {[t.get_name() for t in tabs]}", lambda: len(tabs) == 2)
    tabs[1].get_action_iface().do_action(0)
    for want in (version, tr("Rings of translucent petals, built up layer upon layer."),
                 "https://nimbrel.org/",
                 tr("No licence has been granted yet: the copyright holders reserve all rights.")):
        until(f"'{want}' is not in the About window: {seen()}", lambda: want in seen())


def extents(title, name):
    """Where the control is in its window: WxH+X+Y, as ImageMagick crops."""
    box = control(title, name).get_extents(Atspi.CoordType.WINDOW)
    print(f"{box.width}x{box.height}+{box.x}+{box.y}")


def main(argv):
    command, args = (argv[1], argv[2:]) if len(argv) > 1 else ("", [])
    if command == "dump":
        dump()
    elif command == "names":
        names(*args)
    elif command == "wait":
        until(f"no window '{tr(args[0])}'", lambda: window(args[0]))
    elif command == "shown":
        sys.exit(0 if window(args[0]) else 1)
    elif command == "list":
        until("no list has the keyboard", lambda: in_list(args[0]))
    elif command == "gone":
        until(f"'{tr(args[0])}' is still shown", lambda: window(args[0]) is None)
    elif command == "press":
        press(*args)
    elif command == "focus":
        until(f"'{tr(args[1])}' never had the focus", lambda: focused(*args))
    elif command == "text":
        until(f"'{tr(args[1])}' does not show {args[2]}",
              lambda: text_of(control(args[0], args[1])) == args[2])
    elif command == "checked":
        until(f"'{tr(args[1])}' is not {'on' if args[2] == '1' else 'off'}",
              lambda: checked(control(args[0], args[1])) == (args[2] == "1"))
    elif command == "about":
        about(*args)
    elif command == "about_shown":
        sys.exit(0 if about_window() else 1)
    elif command == "extents":
        extents(*args)
    elif command == "tr":
        print(tr(args[0]))
    elif command == "key":
        shown = CATALOGUE.gettext(args[0]) if CATALOGUE else args[0]
        print(shown[shown.index("_") + 1].lower())
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
