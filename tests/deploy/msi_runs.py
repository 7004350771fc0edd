#!/usr/bin/env python3
"""The agent's Windows Installer package as an administrator's tools use it.

  tables   the package's tables read back with msidump (x64, and an x86
           package made from the same binaries): the service as -install
           creates it, its start and stop, its event sources, the policy
           values and their conditions, the failure actions, the upgrade
           and the removal of the agent's own files
  wine     Wine's msiexec against the reference server of ctest's fixture
           (KX_REFSERVER, KX_REFSERVER_CONTROL): a silent install with
           KFSSERVER and KFSPORT, the service registered and running and a
           cache file left in the folder delivered; a major upgrade to a
           newer package that keeps the settings and an undelivered cache
           file; removal that keeps it and the definitions copy; removal with
           REMOVECACHEFILES=1 that takes them

What Wine's msiexec does not do is tested in the tables only: its
MsiConfigureServices is a stub (and Wine's service manager keeps no failure
actions at all); its StopServices sends the stop without waiting for it
(ServiceControl's Wait), so that the removal can meet the executable still
running and leave it behind: the runs here stop the service first; its RemoveFiles takes a RemoveFile name such as "KX_*.tmp"
literally instead of as a pattern; and its InstallServices writes the image
path unquoted, where Windows Installer quotes it.
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time
import urllib.request

SERVICE_KEY = r"HKLM\System\CurrentControlSet\Services\KXWkstnSvc"
POLICY_KEY = r"HKLM\SOFTWARE\Policies\Talmor Software\Korvex\Settings"
APPLICATION_KEY = r"HKLM\System\CurrentControlSet\Services\EventLog\Application"
FOLDER = r"C:\Program Files\Korvex\Workstation Agent"
GOLDEN_CODES = ["KX4720", "KX1102", "KX5136", "KX4740", "KX4740", "KX4740"]


def check(condition, what):
    if not condition:
        raise SystemExit("FAILED: " + what)


def dump(msi):
    """Every table of the package: name -> list of rows (dicts by column)."""
    folder = tempfile.mkdtemp(prefix="kx-msi-")
    subprocess.run(["msidump", "-d", folder, msi], check=True, stdout=subprocess.DEVNULL)
    tables = {}
    for name in os.listdir(folder):
        if not name.endswith(".idt"):
            continue
        with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as f:
            lines = f.read().split("\n")
        columns = lines[0].split("\t")
        tables[name[:-4]] = [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]
    return tables


def row(tables, table, **match):
    rows = [r for r in tables.get(table, []) if all(r.get(k) == v for k, v in match.items())]
    check(len(rows) == 1, "%s: %d rows match %s" % (table, len(rows), match))
    return rows[0]


def check_tables(msi, arch):
    t = dump(msi)
    service = row(t, "ServiceInstall", Name="KXWkstnSvc")
    check(service["DisplayName"] == "Korvex Workstation Agent", "display name")
    check(service["Description"] == "Brenwick Korvex Workstation Agent", "description")
    check(service["ServiceType"] == str(0x110), "type " + service["ServiceType"])
    check(service["StartType"] == "2", "automatic start")
    check(service["ErrorControl"] == "0", "error control")
    check(service["StartName"] == "LocalSystem", "account " + service["StartName"])
    check(service["Dependencies"] == "lanmanworkstation[~][~]", "dependencies")
    check(service["Component_"] == "ServiceExecutable", "service component")
    control = row(t, "ServiceControl", Name="KXWkstnSvc")
    # Start at install, stop at install and removal, delete at removal.
    check(control["Event"] == str(1 | 2 | 32 | 128), "service control events " + control["Event"])
    check(control["Wait"] == "1", "service control waits")

    folder = row(t, "Directory", Directory="INSTALLDIR")
    check(folder["DefaultDir"] == "Workstation Agent", "folder " + folder["DefaultDir"])
    korvex = row(t, "Directory", Directory=folder["Directory_Parent"])
    check(korvex["DefaultDir"] == "Korvex", "parent folder")
    program_files = "ProgramFiles64Folder" if arch == "x64" else "ProgramFilesFolder"
    check(korvex["Directory_Parent"] == program_files, "under " + korvex["Directory_Parent"])
    for name, component in (("KXWkstnSvc.exe", "ServiceExecutable"),
                            ("KXWkstnSvc.dll", "ServiceMessageFile")):
        check(row(t, "File", File=name)["Component_"] == component, name)
    bits = 256 if arch == "x64" else 0
    for component in ("ServiceExecutable", "ServiceMessageFile"):
        check(row(t, "Component", Component=component)["Attributes"] == str(bits), component)

    for source in ("Korvex Workstation Agent", "Korvex Agent"):
        key = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\%s\\" % source
        check(row(t, "Registry", Key=key, Name="EventMessageFile")["Value"] == "[#KXWkstnSvc.dll]",
              source + " message file")
        check(row(t, "Registry", Key=key, Name="TypesSupported")["Value"] == "#7", source + " types")
    sources = row(t, "Registry", Name="Sources")
    check(sources["Value"] == "[~]Korvex Workstation Agent[~]Korvex Agent", "Sources appended")
    for component, name, prop in (("PolicyServer", "KFSServer", "KFSSERVER"),
                                  ("PolicyPort", "KFSPort", "KFSPORT")):
        value = row(t, "Registry", Name=name)
        check(value["Key"] == "SOFTWARE\\Policies\\Talmor Software\\Korvex\\Settings" and
              value["Root"] == "2" and value["Value"] == "[%s]" % prop, name)
        c = row(t, "Component", Component=component)
        check(c["Condition"] == prop, component + " only when given")
        # Registry key path (4) and permanent (16): kept on upgrade and removal.
        check(c["Attributes"] == str(bits + 4 + 16), component + " attributes " + c["Attributes"])

    failure = row(t, "MsiServiceConfigFailureActions", Name="KXWkstnSvc")
    check(failure["Event"] == "1" and failure["ResetPeriod"] == "86400", "reset after a day")
    check(failure["Actions"] == "1[~]1[~]1", "three restarts")
    check(failure["DelayActions"] == "60000[~]60000[~]300000", "restart delays")
    flag = row(t, "MsiServiceConfig", Name="KXWkstnSvc")
    check(flag["ConfigType"] == "4" and flag["Argument"] == "1", "an exit with an error counts")

    sequence = {r["Action"]: r for r in t["InstallExecuteSequence"]}
    order = lambda action: int(sequence[action]["Sequence"])
    check(order("InstallServices") < order("MsiConfigureServices") < order("StartServices"),
          "failure actions set between InstallServices and StartServices")
    check(order("InstallValidate") < order("RemoveExistingProducts") < order("InstallInitialize"),
          "the older product removed first")
    check(order("CostFinalize") < order("SetAgentFilesFolder") < order("RemoveFiles"),
          "the removal folder set before RemoveFiles")
    check(sequence["SetAgentFilesFolder"]["Condition"] == 'REMOVE="ALL" AND REMOVECACHEFILES=1',
          "agent files removed only when asked")
    action = row(t, "CustomAction", Action="SetAgentFilesFolder")
    check(action["Source"] == "AGENTFILESFOLDER" and action["Target"] == "[INSTALLDIR]",
          "the removal folder")
    removed = {r["FileName"] for r in t["RemoveFile"] if r["DirProperty"] == "AGENTFILESFOLDER"}
    check(removed == {"KX_*.tmp", "BWAgentSvc.log", "KXEventDefinitions.xml"}, str(removed))
    upgrade = [r for r in t["Upgrade"] if r["ActionProperty"] == "WIX_UPGRADE_DETECTED"]
    check(len(upgrade) == 1 and upgrade[0]["VersionMax"], "older versions upgraded")
    print("tables (%s): checked" % arch)


class Wine:
    def __init__(self, args):
        self.args = args
        self.drive_c = os.path.join(args.prefix, "drive_c")
        self.folder = os.path.join(self.drive_c, "Program Files", "Korvex", "Workstation Agent")
        self.control = os.environ["KX_REFSERVER_CONTROL"]
        self.server = os.environ["KX_REFSERVER"]

    def run(self, *command):
        return subprocess.run([self.args.wine_run, self.args.prefix] + list(command),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              timeout=300)

    def msiexec(self, *arguments):
        started = time.time()
        result = self.run("msiexec", *arguments)
        check(result.returncode == 0, "msiexec %s: %d %s" % (" ".join(arguments),
                                                             result.returncode, result.stdout))
        print("msiexec %s: %.1f s" % (" ".join(arguments), time.time() - started))

    def values(self, key):
        """The values of a key (name -> text), or None without the key."""
        result = self.run("reg", "query", key)
        if result.returncode != 0:
            return None
        values = {}
        for line in result.stdout.splitlines():
            parts = line.strip().split("    ")
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                values[parts[0]] = parts[2] if len(parts) > 2 else ""
        return values

    def state(self):
        result = self.run("sc", "query", "KXWkstnSvc")
        for line in result.stdout.splitlines():
            if "STATE" in line:
                return int(line.split(":")[1].split()[0])
        return None

    def stop_service(self):
        """What ServiceControl's Wait does on Windows and Wine's StopServices
        does not: the removal waits until the service has stopped, and its
        process has ended, before it deletes the files."""
        self.run("sc", "stop", "KXWkstnSvc")
        wait_for(lambda: self.state() in (1, None), "the service did not stop", 30)
        time.sleep(2)

    def control_get(self, path):
        with urllib.request.urlopen("http://%s%s" % (self.control, path), timeout=30) as answer:
            return answer.read().decode("utf-8")

    def codes(self):
        alerts = json.loads(self.control_get("/control/alerts?after=0&format=json"))
        return [a["EventDefinitionCode"] for a in alerts]

    def leave_cache_file(self, name):
        os.makedirs(self.folder, exist_ok=True)
        with open(self.args.golden_cache, "rb") as source:
            data = source.read()
        with open(os.path.join(self.folder, name), "wb") as target:
            target.write(data)

    def clear_folder(self):
        for name in os.listdir(self.folder) if os.path.isdir(self.folder) else []:
            os.remove(os.path.join(self.folder, name))

    def exists(self, name):
        return os.path.exists(os.path.join(self.folder, name))


def wait_for(condition, what, seconds=90):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if condition():
            return
        time.sleep(0.5)
    check(condition(), what)


def product_versions(wine):
    """DisplayVersion of every installed Korvex Workstation Agent."""
    key = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
    result = wine.run("reg", "query", key)
    versions = []
    for line in result.stdout.splitlines():
        if line.strip().startswith("HKEY_") and line.strip() != key.replace("HKLM", "HKEY_LOCAL_MACHINE"):
            values = wine.values(line.strip())
            if values and values.get("DisplayName") == "Korvex Workstation Agent":
                versions.append(values.get("DisplayVersion"))
    return versions


def wine_runs(args):
    wine = Wine(args)
    host, port = wine.server.rsplit(":", 1)
    newer = os.path.join(tempfile.mkdtemp(prefix="kx-msi-"), "KorvexAgent-newer.msi")
    subprocess.run([args.make_msi, "x64", "99.0.0", args.binaries, newer], check=True)
    # Left over by an earlier run that failed half-way.
    for msi in (newer, args.msi):
        wine.run("msiexec", "/x", msi, "/qn")
    wine.clear_folder()

    # A cache file waits in the folder (an earlier installation's, say).
    wine.leave_cache_file("KX_a001.tmp")
    wine.msiexec("/i", args.msi, "/qn", "KFSSERVER=" + host, "KFSPORT=" + port)
    policy = wine.values(POLICY_KEY) or {}
    check(policy.get("KFSServer") == host and policy.get("KFSPort") == port, str(policy))
    service = wine.values(SERVICE_KEY)
    check(service is not None, "no service after the install")
    check(service.get("Start") == "0x2" and service.get("Type") == "0x110" and
          service.get("ObjectName") == "LocalSystem" and
          service.get("DependOnService") == "lanmanworkstation", str(service))
    # Wine's InstallServices leaves the path unquoted (Windows Installer quotes it).
    check(service.get("ImagePath", "").strip('"') == FOLDER + r"\KXWkstnSvc.exe", str(service))
    for source in ("Korvex Workstation Agent", "Korvex Agent"):
        values = wine.values(APPLICATION_KEY + "\\" + source) or {}
        check(values.get("EventMessageFile") == FOLDER + r"\KXWkstnSvc.dll", str(values))
        check(values.get("TypesSupported") == "0x7", str(values))
    sources = (wine.values(APPLICATION_KEY) or {}).get("Sources", "").split("\\0")
    check("Korvex Workstation Agent" in sources and "Korvex Agent" in sources, str(sources))
    check(wine.state() == 4, "the service is not running")
    wait_for(lambda: wine.codes() == GOLDEN_CODES and not wine.exists("KX_a001.tmp"),
             "the cache file left in the folder was not delivered: %s, folder %s, requests %s"
             % (wine.codes(), os.listdir(wine.folder), wine.control_get("/control/last?table=requests")))
    print("install: service running, the cache file left behind delivered")

    # Upgrade while the server answers 503: the cache file stays undelivered.
    wine.control_get("/control/fault?mode=503")
    wine.leave_cache_file("KX_a002.tmp")
    wine.stop_service()
    wine.msiexec("/i", newer, "/qn")
    check(product_versions(wine) == ["99.0.0"], "installed: %s" % product_versions(wine))
    policy = wine.values(POLICY_KEY) or {}
    check(policy.get("KFSServer") == host and policy.get("KFSPort") == port, str(policy))
    check(wine.state() == 4, "the service is not running after the upgrade")
    check(wine.exists("KX_a002.tmp"), "the upgrade lost the undelivered cache file")
    print("upgrade: settings and the undelivered cache file kept, service running")

    # The agent's other files go and stay with the cache files.
    wine.leave_cache_file("KXEventDefinitions.xml")
    wine.stop_service()
    wine.msiexec("/x", newer, "/qn")
    check(wine.values(SERVICE_KEY) is None, "the service is still registered")
    check(not wine.exists("KXWkstnSvc.exe") and not wine.exists("KXWkstnSvc.dll"),
          "binaries left after the removal")
    check(wine.exists("KX_a002.tmp"), "the removal took the undelivered cache file")
    check(wine.exists("KXEventDefinitions.xml"), "the removal took the definitions copy")
    check((wine.values(POLICY_KEY) or {}).get("KFSServer") == host, "the removal took the policy")
    print("removal: service and binaries gone, agent files and policy kept")

    wine.msiexec("/i", newer, "/qn")
    wine.stop_service()
    wine.msiexec("/x", newer, "/qn", "REMOVECACHEFILES=1")
    check(not wine.exists("KXEventDefinitions.xml"), "REMOVECACHEFILES=1 left the definitions copy")
    # Wine's RemoveFiles deletes "KX_*.tmp" literally, without matching the
    # pattern, as Windows Installer does: the tables test covers that row.
    print("removal with REMOVECACHEFILES=1: the agent's files removed (cache files %s under Wine)"
          % ("kept" if wine.exists("KX_a002.tmp") else "removed"))
    wine.clear_folder()
    wine.control_get("/control/fault?mode=none")
    wine.run("reg", "delete", POLICY_KEY, "/f")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--msi", required=True)
    parser.add_argument("--make-msi", required=True)
    parser.add_argument("--binaries", required=True)
    parser.add_argument("--wine-run")
    parser.add_argument("--prefix")
    parser.add_argument("--golden-cache")
    parser.add_argument("what", choices=["tables", "wine"])
    args = parser.parse_args()
    if args.what == "tables":
        check_tables(args.msi, "x64")
        x86 = os.path.join(tempfile.mkdtemp(prefix="kx-msi-"), "KorvexAgent-x86.msi")
        subprocess.run([args.make_msi, "x86", "1.0.0", args.binaries, x86], check=True)
        check_tables(x86, "x86")
    else:
        wine_runs(args)


if __name__ == "__main__":
    main()
