#!/usr/bin/env python3
"""Reads Nimbrel's description for XScreenSaver's settings dialog (resources/nimbrel.xml), checks
its structure, and prints every command-line addition that one of its controls can make, one per
line: the control's id, a tab, then the words as the dialog adds them (a number control's value
put in place of its "%").

Usage: xscreensaver_controls.py XML [--store STORE_FILE] [--sheet PREFS_UI] [--all-changed]

Every control, one at a time and all at once, must survive the dialog's round trip: the
`programs:` line written from the controls, read back into them when the entry's settings are
reopened (one option and its value at a time, as the dialog reads it), and written again,
unchanged.

--store: a store of the default settings (nimbrel-describe store's output); every number control's
default must be the stored default, so that leaving it alone and passing nothing agree.
--sheet: the options sheet, whose colour menu names the themes; each theme option must name
the same theme.
--all-changed: print one more line, "all", with every control away from its default at once.
Problems go to stderr, one a line, and end the program with status 1.
"""

import configparser
import re
import sys
import xml.etree.ElementTree as ET

# The ten settings: what the store calls each, and how the command line sets it.
RANGES = {"--petals": (2, 16), "--interval": (1, 10000), "--speed": (10, 60)}
STORE_KEYS = {"--petals": "petalCount", "--interval": "randomizeInterval", "--speed": "speed"}
SWITCHES = ["mirror", "outline", "stars", "hue-shift", "random-settings"]
THEMES = range(1, 9)

problems = []


def problem(text):
    problems.append(text)


def integer(node, name):
    text = node.get(name)
    if text is None or not re.fullmatch(r"-?[0-9]+", text):
        problem(f"<{node.tag} id={node.get('id')}>: {name}={text!r} is not an integer")
        return None
    return int(text)


def number_values(node):
    """The values a number control offers worth running: its ends, its default, the middle."""
    arg = node.get("arg", "")
    switch = arg.split()[0] if arg else ""
    if arg.count("%") != 1 or arg.split() != [switch, "%"]:
        problem(f"number {node.get('id')}: arg {arg!r} is not 'SWITCH %'")
        return switch, []
    low, high, default = (integer(node, n) for n in ("low", "high", "default"))
    if None in (low, high, default):
        return switch, []
    if not low <= default <= high:
        problem(f"number {node.get('id')}: default {default} outside {low}..{high}")
    if switch in RANGES and (low, high) != RANGES[switch]:
        problem(f"number {node.get('id')}: {low}..{high}, the option takes {RANGES[switch]}")
    if node.get("type") not in ("slider", "spinbutton"):
        problem(f"number {node.get('id')}: type {node.get('type')!r}")
    values = sorted({low, high, default, (low + high) // 2})
    return switch, [arg.replace("%", str(v)) for v in values]


# --- the dialog's reading and writing of an entry's command line ---------------------------------
# A control: (kind, node). Its state: a number's value, a boolean's on, a select's item index.


def compare_opts(option, value, template):
    """Whether `option` with `value` (or none) is what `template` ("--x %", "--x v", "--x") adds."""
    # -x and --x are the same.
    option = option[1:] if option.startswith("--") else option
    template = template[1:] if template.startswith("--") else template
    if not template.startswith(option):
        return False
    rest = template[len(option):]
    if rest[:1] != (" " if value is not None else ""):
        return False
    if "%" in template:
        return True
    return rest == "" if value is None else rest[1:] == value


def default_state(controls):
    state = []
    for kind, node in controls:
        if kind == "number":
            state.append(int(node.get("default")))
        elif kind == "boolean":
            state.append(not node.get("arg-set"))
        elif kind == "select":
            options = node.findall("option")
            state.append(next((i for i, o in enumerate(options) if not o.get("arg-set")), 0))
        else:
            state.append(None)
    return state


def command_line(controls, state):
    words = []
    for (kind, node), value in zip(controls, state):
        if kind == "command":
            words.append(node.get("arg"))
        elif kind == "number" and value != int(node.get("default")):
            words.append(node.get("arg").replace("%", str(value)))
        elif kind == "boolean":
            words.append(node.get("arg-set" if value else "arg-unset"))
        elif kind == "select":
            words.append(node.findall("option")[value].get("arg-set"))
    return " ".join(w for w in words if w)


def read_back(controls, line):
    """The controls' state after the dialog reads `line`: defaults, then one option at a time."""
    state = default_state(controls)
    tokens = line.split()
    i = 0
    while i < len(tokens):
        option, value = tokens[i], None
        # The next word is the option's value unless it looks like "-x" or "--x".
        following = tokens[i + 1] if i + 1 < len(tokens) else None
        if following is not None and not (following[:1] == "-" and
                                           (following[1:2] == "-" or following[1:2].isalpha())):
            value = tokens[i + 1]
            i += 1
        i += 1
        for n, (kind, node) in enumerate(controls):
            if kind == "select":
                options = node.findall("option")
                hit = next((k for k, o in enumerate(options)
                            if o.get("arg-set") and compare_opts(option, value, o.get("arg-set"))),
                           None)
                if hit is not None:
                    state[n] = hit
                    break
            elif node.get("arg"):
                if compare_opts(option, value, node.get("arg")):
                    if kind == "number" and value is not None:
                        state[n] = int(float(value))
                    break
            elif node.get("arg-set"):
                if compare_opts(option, value, node.get("arg-set")):
                    state[n] = True
                    break
            elif node.get("arg-unset"):
                if compare_opts(option, value, node.get("arg-unset")):
                    state[n] = False
                    break
    return state


def check_round_trips(controls, states):
    for state in states:
        line = command_line(controls, state)
        back = read_back(controls, line)
        if back != state or command_line(controls, back) != line:
            problem(f"{line!r} reads back as {command_line(controls, back)!r}")



def main(argv):
    xml_path = argv[1]
    store_path = sheet_path = None
    all_changed = "--all-changed" in argv
    if "--store" in argv:
        store_path = argv[argv.index("--store") + 1]
    if "--sheet" in argv:
        sheet_path = argv[argv.index("--sheet") + 1]

    root = ET.parse(xml_path).getroot()
    if root.tag != "screensaver" or root.get("name") != "nimbrel" or not root.get("_label"):
        problem("the root is not <screensaver name=\"nimbrel\" _label=...>")
    commands = [c.get("arg") for c in root.iter("command")]
    if commands != ["--root"]:
        problem(f"command args {commands}, expected just --root")
    description = root.find("_description")
    if description is None or len((description.text or "").split()) < 20:
        problem("no description of a few sentences")

    controls = [("command", c) for c in root.iter("command")] + [
        (n.tag, n) for n in root.iter() if n.tag in ("number", "select", "boolean")]
    controls.sort(key=lambda c: list(root.iter()).index(c[1]))
    lines = []  # (control id, words)
    changed = []  # one addition per control, away from its default
    ids = set()
    seen_switches = set()
    defaults = {}
    for node in root.iter():
        if node.tag in ("number", "select", "boolean"):
            cid = node.get("id")
            if not cid or cid in ids:
                problem(f"<{node.tag}> without an id of its own: {cid!r}")
            ids.add(cid)
        if node.tag == "number":
            switch, values = number_values(node)
            seen_switches.add(switch)
            defaults[switch] = node.get("default")
            lines += [(node.get("id"), v) for v in values]
            default_arg = node.get("arg", "").replace("%", str(node.get("default")))
            changed.append(next((v for v in reversed(values) if v != default_arg), ""))
        elif node.tag == "select":
            options = node.findall("option")
            silent = [o for o in options if o.get("arg-set") is None]
            if len(silent) != 1 or options[0] is not silent[0]:
                problem(f"select {node.get('id')}: the first option, and only it, must add nothing")
            for option in options:
                if not option.get("_label") or not option.get("id"):
                    problem(f"select {node.get('id')}: an option without id or label")
                if option.get("arg-unset") is not None:
                    problem(f"select {node.get('id')}: arg-unset in an option")
                if option.get("arg-set"):
                    lines.append((option.get("id"), option.get("arg-set")))
                    seen_switches.update(w for w in option.get("arg-set").split() if w[0] == "-")
            if options and options[-1].get("arg-set"):
                changed.append(options[-1].get("arg-set"))
        elif node.tag == "boolean":
            for attr in ("arg-set", "arg-unset"):
                if node.get(attr):
                    lines.append((node.get("id"), node.get(attr)))
            # Setting and unsetting both add something only when neither state is the default.
            if node.get("arg-set") and node.get("arg-unset"):
                problem(f"boolean {node.get('id')}: both arg-set and arg-unset")
            if not node.get("arg-set") and not node.get("arg-unset"):
                problem(f"boolean {node.get('id')}: adds nothing either way")
            changed.append(node.get("arg-set") or node.get("arg-unset"))

    # Every setting can be set either way from the dialog.
    wanted = set(RANGES) | {f"--{s}" for s in SWITCHES} | {f"--no-{s}" for s in SWITCHES}
    wanted.add("--colours")
    for switch in sorted(wanted - seen_switches):
        problem(f"no control adds {switch}")
    for choice in ["random", *map(str, THEMES)]:
        if not any(words.split() == ["--colours", choice] for _, words in lines):
            problem(f"no control chooses --colours {choice}")

    # Each control away from its default, one at a time, and all of them at once.
    base = default_state(controls)
    away = []  # per control: the states it can take other than its default
    for n, (kind, node) in enumerate(controls):
        values = []
        if kind == "number":
            values = [int(w.split()[-1]) for cid, w in lines if cid == node.get("id")]
        elif kind == "boolean":
            values = [not base[n]]
        elif kind == "select":
            values = range(len(node.findall("option")))
        away.append([v for v in values if v != base[n]])
    states = [base[:n] + [v] + base[n + 1:] for n, values in enumerate(away) for v in values]
    states.append([values[-1] if values else base[n] for n, values in enumerate(away)])
    check_round_trips(controls, states)

    if store_path:
        store = configparser.ConfigParser(interpolation=None)
        store.optionxform = str
        store.read(store_path)
        stored = {k: v for section in store.sections() for k, v in store[section].items()}
        for switch, key in STORE_KEYS.items():
            if switch in defaults and defaults[switch] != stored.get(key):
                problem(f"{switch}: the dialog's default {defaults[switch]} is not the stored "
                        f"default {key}={stored.get(key)}")
    if sheet_path:
        menu = ET.parse(sheet_path).getroot().find(".//object[@id='colorThemePopUpButton']")
        names = [i.text for i in menu.iter("item")] if menu is not None else []
        if len(names) != 9:
            problem(f"the sheet's colour menu has {len(names)} entries, not 9")
        for cid, words in lines:
            w = words.split()
            if w[:1] == ["--colours"] and w[1].isdigit() and len(names) == 9:
                label = root.find(f".//option[@id='{cid}']").get("_label")
                name = names[int(w[1])]
                if not label.lower().startswith(name.lower().split()[0]):
                    problem(f"{cid}: label {label!r} for theme {w[1]}, the sheet's {name!r}")

    if problems:
        for text in problems:
            print(f"{xml_path}: {text}", file=sys.stderr)
        return 1
    for cid, words in lines:
        print(f"{cid}\t{words}")
    if all_changed:
        print("all\t" + " ".join(c for c in changed if c))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
