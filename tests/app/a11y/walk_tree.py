#!/usr/bin/python3
# The main window and the share panel as a screen reader meets them: the
# AT-SPI tree read with pyatspi, keys sent to the X server with xdotool.
# Runs under its own Xvfb and D-Bus session (see CMakeLists.txt).
import contextlib, json, os, pathlib, subprocess, sys, tempfile, time, uuid
import pyatspi as S

failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what, flush=True)
    if not ok:
        failures.append(what)


def attempt(probe):
    try:
        return probe()
    except Exception:  # objects vanish while the views change
        return None


def poll(probe, timeout=20):
    """probe() until it returns something true, or None after timeout s."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = attempt(probe)
        if value:
            return value
        time.sleep(0.1)
    return None


def walk(node):
    yield node
    for child in attempt(lambda: list(node)) or []:
        if child is not None:
            yield from walk(child)


def nodes(root, wanted):
    """Nodes under root for which wanted(node) holds; vanished ones are skipped."""
    return [n for n in walk(root) if attempt(lambda: wanted(n))]


def has(node, state):
    return node.getState().contains(state)


def controls(root):
    """Focusable controls a reader can reach now; scroll bars are no Tab stops."""
    return nodes(root, lambda n: has(n, S.STATE_FOCUSABLE) and has(n, S.STATE_SHOWING)
                 and n.getRole() != S.ROLE_SCROLL_BAR)


def find(root, role, name):
    return next(iter(nodes(root, lambda n: n.getRole() == role and n.name == name and has(n, S.STATE_SHOWING))), None)


def focused(root):
    """The deepest focused node: focus scopes on the way to it say focused too."""
    chain = nodes(root, lambda n: has(n, S.STATE_FOCUSED)
                  and n.getRole() not in (S.ROLE_FRAME, S.ROLE_DIALOG, S.ROLE_WINDOW))
    return chain[-1] if chain else None


def key(*keys):
    subprocess.run(["xdotool", "key", "--clearmodifiers", *keys], check=True, timeout=10)


def tab_stops(root, count):
    stops = []
    for _ in range(count):
        key("Tab")
        stops.append(poll(lambda: focused(root), 3))
    return stops


def tab_to(root, wanted, limit=16):
    """Presses Tab until the focused control is `wanted`; returns it or None."""
    for _ in range(limit):
        now = poll(lambda: focused(root), 3)
        if now is not None and wanted(now):
            return now
        key("Tab")
    return None


def check_names(root, where):
    # In one pass; a node gone mid-pass (a page still leaving): read them again.
    found = poll(lambda: [(n.getRoleName(), n.getRole(), n.name, n.description, n.parent)
                          for n in controls(root)], 5) or []
    seen = set()
    for role_name, role, name, description, parent in found:
        label = f"{where}: {role_name} '{name}'"
        # Qt 6.4 drops the name of a password field; its description carries it.
        shown = name or (description if role == S.ROLE_PASSWORD_TEXT else "")
        if role in (S.ROLE_UNKNOWN, S.ROLE_FILLER) or not shown.strip():
            check(False, label + " has a role and a name")
        if (parent, role, name) in seen:
            check(False, label + " is unique among its siblings")
        seen.add((parent, role, name))
    check(len(found) > 0, f"{where}: {len(found)} controls named")


def check_password(root, where):
    field = tab_to(root, lambda n: n.getRole() == S.ROLE_PASSWORD_TEXT)
    check(field is not None and bool(field.name or field.description), f"{where}: Tab reaches a named password field")
    if field is None:
        return
    subprocess.run(["xdotool", "type", "--delay", "20", "himitsu42"], check=True, timeout=20)
    text = field.queryText()
    check(poll(lambda: text.characterCount >= 9, 5) is not None, f"{where}: the typed password arrives")
    check("himitsu" not in text.getText(0, -1), f"{where}: the password text is not readable")


@contextlib.contextmanager
def window_of(args, env):
    """The process's first shown window; the process is killed afterwards."""
    with subprocess.Popen(args, env=env) as process:
        try:
            app = poll(lambda: next(a for a in S.Registry.getDesktop(0) if a is not None
                                    and a.get_process_id() == process.pid and a.childCount), 40)
            if app is None:
                sys.exit(f"{args[0]} never appeared on the accessibility bus")
            yield poll(lambda: next(w for w in app if has(w, S.STATE_SHOWING)), 20)
        finally:
            process.kill()


def main_window(binary, home):
    entries = [{"id": str(uuid.uuid4()), "timestamp": "2026-12-01T09:30:00Z", "fileNames": [f"report-{i}.pdf"],
                "url": f"http://127.0.0.1:9/d/{i}", "success": True, "message": ""} for i in range(2)]
    store = pathlib.Path(home, "config", "Pelkin", "Pelkin Drop.ini")
    store.parent.mkdir(parents=True)
    store.write_text('[General]\npelkin.history.items="%s"\n' % json.dumps(entries).replace('"', '\\"'))
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"),
               XDG_DATA_HOME=os.path.join(home, "data"))
    args = [binary, "http://127.0.0.1:9/api/upload.php", "pelkin-a11y-" + uuid.uuid4().hex]
    with window_of(args, env) as win:
        tabs = {t.name: t for t in walk(win) if t.getRole() == S.ROLE_PAGE_TAB}
        check(sorted(tabs) == sorted(["アップロード", "履歴", "設定"]), f"main: the three tabs ({sorted(tabs)})")
        check_names(win, "main/home")
        # Qt 6.4 reports a disabled Quick item as enabled: the keyboard shows it.
        stops = [s and (s.getRoleName(), s.name) for s in tab_stops(win, 4)]
        check(stops[0] == stops[3] and ("push button", "アップロード") not in stops,
              f"main: Tab cycles and skips the disabled アップロード ({stops})")
        check_password(win, "main")

        def selected():
            return [t.name for t in nodes(win, lambda t: t.getRole() == S.ROLE_PAGE_TAB and has(t, S.STATE_SELECTED))]
        for keys, tab in ((["ctrl+2"], "履歴"), (["ctrl+3"], "設定"), (["ctrl+1"], "アップロード")):
            key(*keys)
            check(poll(lambda: selected() == [tab], 5) is not None, f"main: {'+'.join(keys)} selects {tab}")

        check(tab_to(win, lambda n: n.getRole() == S.ROLE_PAGE_TAB) is not None, "main: Tab reaches the tab list")
        for tab in ("履歴", "設定"):
            key("Down")
            check(poll(lambda: selected() == [tab], 5) is not None, f"main: Down selects {tab}")
        check(poll(lambda: not find(win, S.ROLE_PUSH_BUTTON, "アップロード"), 5) is not None,
              "main: the hidden Home form is not exposed on 設定")
        def switch_list():
            return [n for n in controls(win) if n.getRole() in (S.ROLE_TOGGLE_BUTTON, S.ROLE_CHECK_BOX)]
        switches = poll(lambda: len(switch_list()) == 2 and switch_list(), 5) or []
        check(len(switches) == 2, "main: both switches are exposed")
        check_names(win, "main/settings")
        for switch in switches:
            was = has(switch, S.STATE_CHECKED)
            check(tab_to(win, lambda n: n.name == switch.name) is not None, f"main: Tab reaches '{switch.name}'")
            key("space")
            check(poll(lambda: has(switch, S.STATE_CHECKED) != was, 5) is not None, f"main: Space flips '{switch.name}'")
        check(tab_to(win, lambda n: n.getRole() == S.ROLE_PAGE_TAB) is not None, "main: Tab comes round to the tab list")
        key("Up")
        check(poll(lambda: selected() == ["履歴"], 5) is not None, "main: Up selects 履歴")

        def rows():
            return nodes(win, lambda n: n.getRole() == S.ROLE_LIST_ITEM and has(n, S.STATE_SHOWING))
        check(poll(lambda: len(rows()) == 2, 5) is not None, f"main: two history rows ({len(rows())})")
        check_names(win, "main/history")
        check(tab_to(win, lambda n: n.getRole() == S.ROLE_LIST_ITEM) is not None, "main: Tab reaches a history row")
        key("Delete")
        check(poll(lambda: find(win, S.ROLE_MENU_ITEM, "削除"), 5) is not None, "main: Delete offers 削除")
        key("Return")
        check(poll(lambda: len(rows()) == 1, 5) is not None, "main: Return on 削除 deletes one entry")


def share_panel(binary, temp):
    shared = os.path.join(temp, "memo.txt")
    pathlib.Path(shared).write_text("hello\n")
    env = dict(os.environ, PELKIN_TEST_UPLOAD_ENDPOINT="http://127.0.0.1:9/api/upload.php", TMPDIR=temp)
    with window_of([binary, shared], env) as win:
        check(win.getRole() == S.ROLE_DIALOG and bool(win.name), f"share: a named dialog ({win.getRoleName()} '{win.name}')")
        check_names(win, "share")
        check(any(n.getRole() == S.ROLE_STATUS_BAR for n in walk(win)), "share: a status bar")
        box = tab_to(win, lambda n: n.getRole() == S.ROLE_CHECK_BOX)
        check(box is not None and not has(box, S.STATE_CHECKED), "share: Tab reaches the unchecked password check box")
        key("space")
        check(poll(lambda: has(box, S.STATE_CHECKED), 5) is not None, "share: Space checks it")
        check_password(win, "share")
        order = [s and s.name for s in tab_stops(win, 4)]
        check(order == ["キャンセル", "アップロード", box.name, "パスワード"], f"share: Tab in on-screen order ({order})")


with tempfile.TemporaryDirectory() as temp:
    main_window(sys.argv[1], temp)
    share_panel(sys.argv[2], temp)
sys.exit(f"{len(failures)} failure(s)" if failures else 0)
