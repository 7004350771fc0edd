#!/usr/bin/env python3
"""The Debian package of the Linux build as an administrator's tools use it:
dpkg-deb --info and --contents, then dpkg installing it into a throw-away
root (--instdir, --admindir and --force-script-chrootless, so that the
maintainer scripts run with DPKG_ROOT and nothing of the machine's own is
touched): the service installed and reported running by the service
manager, kxreg on the PATH; removal that uninstalls the service and keeps an
undelivered cache file and the machine root; purge that removes both."""

import argparse
import os
import shutil
import stat
import subprocess
import tempfile
import time

TOOLS = ("kxreg", "kxeventlog", "kxpreview", "kxservices")
SERVICE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\KXWkstnSvc"


def check(condition, what):
    if not condition:
        raise SystemExit("FAILED: " + what)


def output(*command, env=None):
    return subprocess.run(command, check=True, stdout=subprocess.PIPE, text=True, env=env).stdout


def check_info(deb):
    fields = {}
    for line in output("dpkg-deb", "--field", deb).splitlines():
        if ":" in line and not line.startswith(" "):
            name, value = line.split(":", 1)
            fields[name] = value.strip()
    check(fields.get("Package") == "korvex-agent", "package name")
    check(os.path.basename(deb) == "korvex-agent_%s_%s.deb" % (fields["Version"],
                                                               fields["Architecture"]),
          "file name " + os.path.basename(deb))
    depends = [d.strip() for d in fields.get("Depends", "").split(",")]
    for package in ("libc6", "libcurl4", "libxml2", "libldap-2.5-0"):
        check(package in depends, "Depends lacks %s: %s" % (package, depends))
    info = output("dpkg-deb", "--info", deb)
    for script in ("postinst", "prerm", "postrm"):
        check(" %s " % script in info, "no " + script)


def check_contents(deb):
    entries = {}
    for line in output("dpkg-deb", "--contents", deb).splitlines():
        parts = line.split()
        path = parts[5]
        entries[path.rstrip("/")] = (parts[0], parts[1], parts[7] if len(parts) > 7 else "")
    def expect(path, mode, owner="root/root", target=""):
        check(path in entries, "missing " + path)
        check(entries[path] == (mode, owner, target), "%s: %s" % (path, entries[path]))
    expect("./opt/korvex/agent", "drwx------")
    expect("./opt/korvex/agent/KXWkstnSvc", "-rwxr-xr-x")
    expect("./opt/korvex/agent/KXWkstnSvc.dll", "-rw-r--r--")
    expect("./opt/korvex/lib/KXSecurityMessages.dll", "-rw-r--r--")
    for tool in TOOLS:
        expect("./opt/korvex/bin/" + tool, "-rwxr-xr-x")
    for tool in TOOLS[:3]:
        expect("./usr/bin/" + tool, "lrwxrwxrwx", target="../../opt/korvex/bin/" + tool)
    expect("./var/lib/korvex", "drwx------")
    expect("./lib/systemd/system/korvex-services.service", "-rw-r--r--")
    unit = output("sh", "-c", 'dpkg-deb --fsys-tarfile "$0" | tar -xOf - '
                  "./lib/systemd/system/korvex-services.service", deb)
    for line in ("ExecStart=/opt/korvex/bin/kxservices boot",
                 "ExecStop=/opt/korvex/bin/kxservices shutdown --timeout 60000",
                 "Environment=KX_MACHINE_ROOT=/var/lib/korvex/machine",
                 "WantedBy=multi-user.target"):
        check(line in unit.splitlines(), "the unit lacks " + line)


class Root:
    """A throw-away root with a dpkg database of its own."""

    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="kx-deb-root-")
        admin = os.path.join(self.path, "var", "lib", "dpkg")
        for folder in ("info", "updates"):
            os.makedirs(os.path.join(admin, folder))
        for name in ("status", "available"):
            open(os.path.join(admin, name), "w").close()
        self.dpkg = ["dpkg", "--instdir=" + self.path, "--admindir=" + admin,
                     "--force-script-chrootless", "--force-depends", "--log=/dev/null"]
        self.env = dict(os.environ, KX_MACHINE_ROOT=self.at("var/lib/korvex/machine"))

    def at(self, path):
        return os.path.join(self.path, path)

    def run_dpkg(self, *arguments):
        started = time.time()
        result = subprocess.run(self.dpkg + list(arguments), stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True)
        check(result.returncode == 0, "dpkg %s: %s" % (" ".join(arguments), result.stdout))
        print("dpkg %s: %.1f s" % (arguments[0], time.time() - started))

    def service_pid(self):
        try:
            with open(self.at("var/lib/korvex/machine/Services/KXWkstnSvc.status")) as f:
                return int(f.read().split()[1])
        except (OSError, IndexError, ValueError):
            return 0

    def cleanup(self):
        agent = self.at("opt/korvex/agent/KXWkstnSvc")
        if os.path.exists(agent):
            subprocess.run([agent, "-uninstall", "-silent"], env=self.env)
        shutil.rmtree(self.path, ignore_errors=True)


def alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except OSError:
        return False


def install_and_remove(deb, kxreg, golden_cache):
    root = Root()
    try:
        root.run_dpkg("-i", deb)
        listing = output(root.at("opt/korvex/bin/kxservices"), "list", env=root.env)
        check("KXWkstnSvc               running          start type 2" in listing, listing)
        pid = root.service_pid()
        check(pid and os.readlink("/proc/%d/exe" % pid) == root.at("opt/korvex/agent/KXWkstnSvc"),
              "the running service is not the package's agent")
        service = output(root.at("usr/bin/kxreg"), "query", SERVICE_KEY, env=root.env)
        check('"%s"' % root.at("opt/korvex/agent/KXWkstnSvc") in service, service)
        for folder in ("var/lib/korvex", "var/lib/korvex/machine"):
            check(stat.S_IMODE(os.stat(root.at(folder)).st_mode) == 0o700, folder + " not 0700")
        print("installed: the service runs (pid %d)" % pid)

        # The server was never reached: a cache file waits beside the agent.
        shutil.copy(golden_cache, root.at("opt/korvex/agent/KX_a001.tmp"))
        root.run_dpkg("-r", "korvex-agent")
        check(not alive(pid), "the service still runs after the removal")
        gone = subprocess.run([kxreg, "query", SERVICE_KEY], env=root.env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        check(gone.returncode != 0, "the service is still installed")
        check(not os.path.exists(root.at("opt/korvex/agent/KXWkstnSvc")), "the agent is left")
        check(not os.path.exists(root.at("usr/bin/kxreg")), "kxreg is left on the PATH")
        check(os.path.exists(root.at("opt/korvex/agent/KX_a001.tmp")), "the cache file is gone")
        check(os.path.isdir(root.at("var/lib/korvex/machine")), "the machine root is gone")
        print("removed: service uninstalled, cache file and machine root kept")

        root.run_dpkg("-P", "korvex-agent")
        check(not os.path.exists(root.at("var/lib/korvex")), "purge left the machine root")
        check(not os.path.exists(root.at("opt/korvex")), "purge left the agent's folder")
        print("purged: nothing left")
    finally:
        root.cleanup()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--deb", required=True)
    parser.add_argument("--kxreg", required=True)
    parser.add_argument("--golden-cache", required=True)
    args = parser.parse_args()
    check_info(args.deb)
    check_contents(args.deb)
    print("dpkg-deb --info and --contents: checked")
    install_and_remove(args.deb, args.kxreg, args.golden_cache)


if __name__ == "__main__":
    main()
