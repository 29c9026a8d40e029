#!/usr/bin/env python3
"""The setup of one edition (TolvaneSetup.exe, or TolvaneSetup-x64.exe in a win64 prefix)
and its uninstaller as users meet them, in a fresh Wine prefix of their own: silent
install, the program and the console scanner from the install, an upgrade over a running
program with changed settings and a quarantined file, an install into a folder whose name
has spaces, the silent uninstall (also while the program runs), and setups that must fail:
an unwritable target and an engine that cannot register.

Run by CTest with TOLVANE_EDITION (32 or 64), TOLVANE_BUILD, TOLVANE_SOURCE and DISPLAY set;
exits 1 when a check failed, printing each check as it goes."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

BUILD = os.environ["TOLVANE_BUILD"]
SOURCE = os.environ["TOLVANE_SOURCE"]
EDITION = os.environ.get("TOLVANE_EDITION", "32")
if EDITION not in ("32", "64"):
    sys.exit(f"TOLVANE_EDITION is '{EDITION}': it must be 32 or 64")
PREFIX = os.path.join(BUILD, "setup-test-prefix")
SETUP_NAME = "TolvaneSetup-x64.exe" if EDITION == "64" else "TolvaneSetup.exe"
SETUP = os.path.join(BUILD, "bin", SETUP_NAME)
# The PE machine of every program the setup brings, the setup and its uninstaller included.
MACHINE = 0x8664 if EDITION == "64" else 0x014C
WINE_RUN = os.path.join(SOURCE, "scripts", "wine-run")
WINE_PREFIX = os.path.join(SOURCE, "scripts", "wine-prefix")
ENV = dict(os.environ, TOLVANE_PREFIX=PREFIX, TOLVANE_EDITION=EDITION)
# The 64-bit edition lives in the 64-bit registry view. Every query names its view, so that
# a setup that wrote into the WOW64 view is not found where the program and COM look; a win32
# prefix has only one view.
REG_VIEW = ["/reg:64"] if EDITION == "64" else []
SCRATCH = tempfile.mkdtemp(prefix="tolvane-setup-test-")

DEFAULT_DIR = "C:\\Program Files\\Tolvane"
SPACED_DIR = "C:\\Security Tools\\Tolvane Scan"
PRODUCT_KEY = "HKLM\\SOFTWARE\\Ostrimark\\Tolvane"
UNINSTALL_KEY = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tolvane"
CLASSES = {
    "{A942BD41-3FCB-11D2-96E1-444553540000}": "kwreng32.dll",  # ScanEngine
    "{8BB78481-9927-11D2-8CE4-9B8C82045D4B}": "kwreng32.dll",  # Email
    "{00520B23-8942-11D3-8CE4-0080C6F9B0FF}": "hyseng32.dll",  # PrivacyEngine
}
PROGIDS = ["ScanEngine.ScanEngine", "ScanEngine.ScanEngine.1", "TolvaneScanEngine.Email",
           "TolvaneScanEngine.Email.1"]
TYPELIBS = ["{80951144-3F67-11D2-96E1-444553540000}", "{20FD62C1-8942-11D3-8CE4-0080C6F9B0FF}"]
INTERFACES = {
    "{A942BD40-3FCB-11D2-96E1-444553540000}": "IScanEngine",
    "{FAF9DBE1-D1DE-11D3-8CE8-0080C6F9B0FF}": "IScanEngineShellExtHelper",
    "{8BB78480-9927-11D2-8CE4-9B8C82045D4B}": "IEmail",
    "{00520B22-8942-11D3-8CE4-0080C6F9B0FF}": "IPrivacyEngine",
}
PROGRAM_FILES = {"Tolvane.exe", "tolvane-scan.exe", "tsigs.kws", "psigs.kws", "uninstall.exe",
                 "Plugins/kwreng32.dll", "Plugins/hyseng32.dll"}
START_MENU = os.path.join("ProgramData", "Microsoft", "Windows", "Start Menu", "Programs", "Tolvane")
START_MENU_LINKS = {"Tolvane.lnk", "Tolvane Log.lnk", "Uninstall Tolvane.lnk"}

failures = []


def check(condition, what, detail=""):
    print(("ok      " if condition else "FAILED  ") + what + ("" if condition or not detail else f"\n        {detail}"),
          flush=True)
    if not condition:
        failures.append(what)
    return condition


def unix_path(windows_path):
    drive, rest = windows_path[0].lower(), windows_path[3:]
    return os.path.join(PREFIX, f"drive_{drive}", *rest.split("\\")) if rest else os.path.join(PREFIX, f"drive_{drive}")


def wine(*args, cwd=None, timeout=120):
    """Runs a program in the test prefix; returns (exit status, output). Output goes
    through a file: a pipe would wait for every process the program leaves behind."""
    out_path = os.path.join(SCRATCH, "wine-output.txt")
    with open(out_path, "wb") as out:
        try:
            status = subprocess.run([WINE_RUN, *args], cwd=cwd, env=ENV, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.STDOUT, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            status = -1
    with open(out_path, "rb") as f:
        return status, f.read().decode("latin-1").replace("\r", "")


def reg(*args, view=None):
    """reg.exe in the edition's registry view (or the one named: ["/reg:32"])."""
    return wine("reg", *args, *(REG_VIEW if view is None else view))


def reg_values(key, view=None):
    """The values of a registry key as {name: (type, data)}, or None when it is missing.
    A query that failed otherwise (reg refused its arguments) is a failed check, never a
    missing key: "is gone" must not pass because the question was not understood."""
    status, out = reg("query", key, view=view)
    # Now and then, on a loaded machine, Wine's reg.exe ends with status 1 and says
    # nothing at all; asked again it answers. Only such a silent failure is asked again:
    # a missing key says so and is taken at its word.
    for _ in range(2):
        if status == 0 or out.strip():
            break
        print(f"note    reg query {key} ended with status {status} and no word; asking again", flush=True)
        time.sleep(1)
        status, out = reg("query", key, view=view)
    if status != 0:
        if status != 1 or "unable to find" not in out.lower():
            check(False, f"reg query {key} {' '.join(REG_VIEW if view is None else view)} answers",
                  f"status {status}: {out}")
        return None
    values = {}
    for line in out.splitlines():
        parts = line.strip().split("    ")
        if line.startswith("    ") and len(parts) >= 2:
            values[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
    return values


def reg_value(key, name):
    values = reg_values(key) or {}
    return values.get(name, (None, None))[1]


def raw_tail(text):
    """Arguments as a Windows command line carries them. NSIS reads "/D=" and "_?=" from
    the raw line, unquoted and last; wine would quote an argument that has spaces, so a
    folder name goes as its space-separated pieces, which wine joins with single spaces."""
    return text.split(" ")


def run_setup(*args, setup=SETUP):
    status, _ = wine(setup, "/S", *[piece for arg in args for piece in raw_tail(arg)], timeout=180)
    return status


def uninstall(install_dir):
    """Runs the uninstaller silently the way its own stub does (a copy, told where the
    installation is), so that its exit status can be read."""
    copy = os.path.join(SCRATCH, "uninstall-copy.exe")
    shutil.copyfile(os.path.join(unix_path(install_dir), "uninstall.exe"), copy)
    status, _ = wine(copy, "/S", *raw_tail(f"_?={install_dir}"), timeout=180)
    return status


def pe_machine(path):
    """The Machine field of a PE file's header, or None when it is not one."""
    try:
        with open(path, "rb") as f:
            data = f.read(4096)
        offset = struct.unpack_from("<I", data, 0x3C)[0]
        if data[offset:offset + 4] != b"PE\0\0":
            return None
        return struct.unpack_from("<H", data, offset + 4)[0]
    except (OSError, struct.error):
        return None


def check_architecture(path, what):
    machine = pe_machine(path)
    check(machine == MACHINE, f"{what} is a {EDITION}-bit program",
          f"machine {machine:#06x}" if machine is not None else "not a PE file")


def installed_files(install_dir):
    root = unix_path(install_dir)
    found = set()
    for folder, _, files in os.walk(root):
        for name in files:
            found.add(os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/"))
    return found


def x_windows():
    out = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True, timeout=30).stdout
    return out.splitlines()


def tray_shown():
    """Wine's stand-alone tray maps its window only while some program has an icon in it."""
    for line in x_windows():
        if '"Wine System Tray"' in line:
            window = line.split()[0]
            info = subprocess.run(["xwininfo", "-id", window], capture_output=True, text=True, timeout=30).stdout
            if "IsViewable" in info:
                return True
    return False


def program_running():
    return any('("tolvane.exe"' in line for line in x_windows())


class Program:
    """Tolvane.exe started from its install folder, as its shortcuts start it."""

    def __init__(self, install_dir):
        self.process = subprocess.Popen([WINE_RUN, "Tolvane.exe"], cwd=unix_path(install_dir), env=ENV,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)

    def wait_for_tray(self, seconds=30):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if tray_shown() and program_running():
                return True
            time.sleep(0.5)
        return False

    def ended(self, seconds=30):
        try:
            self.process.wait(seconds)
            return True
        except subprocess.TimeoutExpired:
            return False

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def scan(install_dir, *args):
    return wine("tolvane-scan.exe", *args, cwd=unix_path(install_dir))


def check_installed(install_dir):
    check(installed_files(install_dir) == PROGRAM_FILES, f"exactly the program files in {install_dir}",
          f"found {sorted(installed_files(install_dir))}")
    check(reg_value(PRODUCT_KEY + "\\3.5", "Path") == install_dir + "\\Tolvane.exe", "3.5\\Path names the program",
          reg_value(PRODUCT_KEY + "\\3.5", "Path"))
    check(reg_value(PRODUCT_KEY, "PluginsDir") == install_dir + "\\Plugins", "PluginsDir names the plug-in folder")
    for name in ("Tolvane.exe", "tolvane-scan.exe", "uninstall.exe", "Plugins/kwreng32.dll", "Plugins/hyseng32.dll"):
        check_architecture(os.path.join(unix_path(install_dir), name), f"the installed {name}")
    for clsid, module in CLASSES.items():
        server = reg_value(f"HKCR\\CLSID\\{clsid}\\InprocServer32", "(Default)")
        check(server == f"{install_dir}\\Plugins\\{module}", f"class {clsid} is served by the installed {module}",
              server)
    # What the uninstall must remove, seen here first: its "is gone" checks look in the same view.
    for progid in PROGIDS:
        check(reg_values(f"HKCR\\{progid}") is not None, f"ProgID {progid} is registered")
    for typelib in TYPELIBS:
        check(reg_values(f"HKCR\\TypeLib\\{typelib}\\1.0") is not None, f"type library {typelib} is registered")
    for iid, name in INTERFACES.items():
        check(reg_value(f"HKCR\\Interface\\{iid}", "(Default)") == name, f"interface {name} is registered")
    if EDITION == "64":
        # A 32-bit process (or a setup that forgot its view) would have written here, where the
        # 64-bit program and COM never look.
        for key in (PRODUCT_KEY, UNINSTALL_KEY, *(f"HKCR\\CLSID\\{clsid}" for clsid in CLASSES)):
            check(reg_values(key, view=["/reg:32"]) is None, f"nothing of {key} in the 32-bit registry view")
    uninstall_values = reg_values(UNINSTALL_KEY) or {}
    expected = {"DisplayName": "Tolvane", "Publisher": "Ostrimark", "InstallLocation": install_dir,
                "UninstallString": f'"{install_dir}\\uninstall.exe"', "DisplayVersion": "3.5"}
    for name, value in expected.items():
        check(uninstall_values.get(name, (None, None))[1] == value, f"Uninstall entry {name} = {value}",
              uninstall_values.get(name))
    size = uninstall_values.get("EstimatedSize", ("", "0x0"))
    check(size[0] == "REG_DWORD" and int(size[1], 16) > 100, "Uninstall entry has an estimated size in KB",
          str(size))
    links = set(os.listdir(os.path.join(PREFIX, "drive_c", START_MENU))) \
        if os.path.isdir(os.path.join(PREFIX, "drive_c", START_MENU)) else set()
    check(links == START_MENU_LINKS, "Start-menu shortcuts for the program, the log and the uninstaller",
          str(sorted(links)))


def check_scanner(install_dir):
    status, out = scan(install_dir)
    check(status == 0 and "No trojans found." in out, "the installed console scanner scans the system", out)
    specimen_dir = unix_path("C:\\SetupTestSpecimen")
    os.makedirs(specimen_dir, exist_ok=True)
    shutil.copyfile(os.path.join(BUILD, "bin", "specimens", "netbus_350000.exe"),
                    os.path.join(specimen_dir, "patch.exe"))
    status, out = scan(install_dir, "C:\\SetupTestSpecimen\\patch.exe")
    check(status == 1 and "NetBus" in out, "its signature file recognises a specimen", f"status {status}: {out}")


def check_removed(install_dir, kept):
    check(installed_files(install_dir) == kept, f"only the user's data is left in {install_dir}",
          str(sorted(installed_files(install_dir))))
    check(reg_values(PRODUCT_KEY) is None, "the program's registry key is gone")
    check(reg_values(UNINSTALL_KEY) is None, "the Uninstall entry is gone")
    for clsid in CLASSES:
        check(reg_values(f"HKCR\\CLSID\\{clsid}") is None, f"class {clsid} is no longer registered")
    for progid in PROGIDS:
        check(reg_values(f"HKCR\\{progid}") is None, f"ProgID {progid} is gone")
    for typelib in TYPELIBS:
        check(reg_values(f"HKCR\\TypeLib\\{typelib}") is None, f"type library {typelib} is unregistered")
    for iid, name in INTERFACES.items():
        check(reg_values(f"HKCR\\Interface\\{iid}") is None, f"interface {name} is unregistered")
    check(not os.path.exists(os.path.join(PREFIX, "drive_c", START_MENU)), "the Start-menu folder is gone")
    startup = [p for p in startup_links()]
    check(not startup, "no start-up shortcut Tolvane.lnk is left", str(startup))


def startup_links():
    for folder, _, files in os.walk(os.path.join(PREFIX, "drive_c")):
        if folder.lower().endswith("startup") and "Tolvane.lnk" in files:
            yield os.path.join(folder, "Tolvane.lnk")


def fresh_prefix():
    subprocess.run([WINE_PREFIX, "stop"], env=ENV, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    shutil.rmtree(PREFIX, ignore_errors=True)
    status = subprocess.run([WINE_PREFIX, "setup"], env=ENV, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL).returncode
    if status != 0:
        sys.exit("could not create the test prefix")


def test_registry_views():
    print("-- the prefix keeps the 32-bit registry view apart (control for the view checks)")
    key = "HKLM\\SOFTWARE\\Ostrimark\\SetupTestView"
    reg("add", key, "/v", "Marker", "/t", "REG_SZ", "/d", "32-bit view", "/f", view=["/reg:32"])
    check(reg_values(key) is None, "a key written in the 32-bit view is not seen in the 64-bit one")
    check((reg_values(key, view=["/reg:32"]) or {}).get("Marker", (None, None))[1] == "32-bit view",
          "and is seen in the 32-bit view")
    reg("delete", "HKLM\\SOFTWARE\\Ostrimark", "/f", view=["/reg:32"])


def test_install_upgrade_uninstall():
    print("-- silent install into a fresh prefix")
    check(not tray_shown(), "no tray icon before the program runs (control)")
    check_architecture(SETUP, SETUP_NAME)
    check(run_setup() == 0, f"{SETUP_NAME} /S exits 0")
    check_installed(DEFAULT_DIR)
    check_scanner(DEFAULT_DIR)

    program = Program(DEFAULT_DIR)
    check(program.wait_for_tray(), "the installed program starts and shows its tray icon")

    print("-- upgrade over the running program")
    status = run_setup()
    check(status == 0, "the setup over a running program exits 0", f"status {status}")
    check(program.ended(), "the running program was asked to exit and did")
    program.stop()

    # Settings as the user changes them, a quarantined file and a log, then the program
    # runs again (and saves its settings when the upgrade asks it to exit).
    reg("add", PRODUCT_KEY + "\\AdminAlert", "/v", "MailTo", "/t", "REG_SZ", "/d", "admin@example.test", "/f")
    reg("add", PRODUCT_KEY, "/v", "LoadOnStartup", "/t", "REG_BINARY", "/d", "01000000", "/f")
    root = unix_path(DEFAULT_DIR)
    os.makedirs(os.path.join(root, "Infected Files"), exist_ok=True)
    quarantined = os.path.join(root, "Infected Files", "patch.exe.KWR")
    with open(quarantined, "wb") as f:
        f.write(b"C:\\patch.exe".ljust(260, b"\0") + b"scrambled")
    with open(os.path.join(root, "Tolvane.log"), "ab") as f:
        f.write(b"an earlier scan\r\n")
    log_before = open(os.path.join(root, "Tolvane.log"), "rb").read()
    open(os.path.join(root, "Plugins", "hyseng32.dll"), "wb").write(b"an older module")
    reg("delete", "HKCR\\CLSID\\{00520B23-8942-11D3-8CE4-0080C6F9B0FF}", "/f")
    check(reg_values("HKCR\\CLSID\\{00520B23-8942-11D3-8CE4-0080C6F9B0FF}\\InprocServer32") is None,
          "the privacy engine's class is unregistered before the upgrade (control)")

    program = Program(DEFAULT_DIR)
    check(program.wait_for_tray(), "the program runs again before the upgrade")
    status = run_setup()
    check(status == 0, "the upgrade exits 0", f"status {status}")
    check(program.ended(), "the running program ended before its files were replaced")
    program.stop()
    check(reg_value(PRODUCT_KEY + "\\AdminAlert", "MailTo") == "admin@example.test", "a changed setting is kept")
    check(reg_value(PRODUCT_KEY, "LoadOnStartup") == "01000000", "LoadOnStartup is kept")
    check(os.path.exists(quarantined), "the quarantined file is kept")
    check(open(os.path.join(root, "Tolvane.log"), "rb").read().startswith(log_before), "the log is kept")
    with open(os.path.join(root, "Plugins", "hyseng32.dll"), "rb") as f, \
            open(os.path.join(BUILD, "bin", "hyseng32.dll"), "rb") as g:
        check(f.read() == g.read(), "the engine modules are replaced")
    check(reg_value("HKCR\\CLSID\\{00520B23-8942-11D3-8CE4-0080C6F9B0FF}\\InprocServer32", "(Default)")
          == DEFAULT_DIR + "\\Plugins\\hyseng32.dll", "the engines are registered again")
    check(any(startup_links()), "the program made its start-up shortcut (control for the uninstall)")

    print("-- silent uninstall while the program runs")
    program = Program(DEFAULT_DIR)
    check(program.wait_for_tray(), "the program runs before the uninstall")
    status = uninstall(DEFAULT_DIR)
    check(status == 0, "uninstall /S exits 0", f"status {status}")
    check(program.ended(), "the uninstaller ended the running program first")
    program.stop()
    check_removed(DEFAULT_DIR, {"Infected Files/patch.exe.KWR", "Tolvane.log"})
    shutil.rmtree(root, ignore_errors=True)


def test_folder_with_spaces():
    print("-- install into a folder whose name has spaces")
    check(run_setup(f"/D={SPACED_DIR}") == 0, f"{SETUP_NAME} /S /D={SPACED_DIR} exits 0")
    check_installed(SPACED_DIR)
    check_scanner(SPACED_DIR)
    program = Program(SPACED_DIR)
    check(program.wait_for_tray(), "the program starts from there")
    check(uninstall(SPACED_DIR) == 0, "its uninstall exits 0")
    check(program.ended(), "and ended the program")
    program.stop()
    # The program's start-up scan wrote the log, which the silent uninstall keeps.
    check_removed(SPACED_DIR, {"Tolvane.log"})


def test_failures():
    print("-- setups that must fail")
    # A file where the folder should be: no folder can be made there, whoever runs it.
    with open(unix_path("C:\\Blocked"), "wb") as f:
        f.write(b"not a folder")
    status = run_setup("/D=C:\\Blocked\\Tolvane")
    check(status == 2, "a target that cannot be written fails the setup with status 2", f"status {status}")
    check(reg_values(UNINSTALL_KEY) is None and reg_values(PRODUCT_KEY + "\\3.5") is None,
          "and leaves no Uninstall entry or Path claiming an installation")

    # A build whose privacy engine is not an engine module: it cannot register.
    bindir = os.path.join(SCRATCH, "bin")
    os.makedirs(bindir)
    for name in ("Tolvane.exe", "tolvane-scan.exe", "kwreng32.dll"):
        shutil.copyfile(os.path.join(BUILD, "bin", name), os.path.join(bindir, name))
    shutil.copyfile(os.path.join(BUILD, "bin", "tolvane_test_detach.dll"), os.path.join(bindir, "hyseng32.dll"))
    broken = make_setup("BrokenSetup.exe", bindir)
    if check(broken is not None, "a setup with an unregistrable engine is built"):
        status = run_setup(setup=broken)
        check(status == 2, "an engine that cannot register fails the setup with status 2", f"status {status}")
        check(reg_values(UNINSTALL_KEY) is None, "and no Uninstall entry claims an installation")


def make_setup(name, bindir, *defines):
    """A setup made by the build's own script from other files; None when makensis failed."""
    target = os.path.join(SCRATCH, name)
    made = subprocess.run(["makensis", "-V1", "-NOCD", "-DCOMPRESSOR=zlib", f"-DBINDIR={bindir}",
                           f"-DTSIGS={BUILD}/bin/specimens/tsigs.kws", f"-DPSIGS={BUILD}/bin/signatures/psigs.kws",
                           f"-DOUTFILE={target}", f"-DEDITION={EDITION}", *defines, os.path.join(SOURCE, "installer", "tolvane.nsi")],
                          stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if made.returncode != 0:
        print(made.stdout + made.stderr)
        return None
    return target


def test_update_key():
    print("-- a setup that carries the maker's update key")
    key = os.path.join(SCRATCH, "maker.pub")
    with open(key, "wb") as f:
        f.write(b"the maker's public key\n")
    keyed = make_setup("KeyedSetup.exe", os.path.join(BUILD, "bin"), f"-DUPDATEKEY={key}")
    if not check(keyed is not None, "a setup with an update key is built"):
        return
    check(run_setup("/D=C:\\Keyed", setup=keyed) == 0, "it installs")
    installed = os.path.join(unix_path("C:\\Keyed"), "updates.pub")
    check(os.path.exists(installed) and open(installed, "rb").read() == open(key, "rb").read(),
          "the key lies beside Tolvane.exe as updates.pub")
    check(uninstall("C:\\Keyed") == 0 and not os.path.exists(installed), "and the uninstall removes it")


def main():
    if not os.path.exists(SETUP):
        sys.exit(f"{SETUP} is missing")
    if not os.environ.get("DISPLAY"):
        sys.exit("the program needs a display: run through scripts/test, or set DISPLAY")
    fresh_prefix()
    try:
        if EDITION == "64":
            test_registry_views()
        test_install_upgrade_uninstall()
        test_folder_with_spaces()
        test_update_key()
        test_failures()
    finally:
        subprocess.run([WINE_PREFIX, "stop"], env=ENV, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        shutil.rmtree(SCRATCH, ignore_errors=True)
    print(f"{len(failures)} check(s) failed" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
