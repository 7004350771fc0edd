#!/usr/bin/env python3
"""A Samba Active Directory domain controller on 127.0.0.1 for tests.

The domain (realm EXAMPLE.TEST, domain EXAMPLE, host dc1) is provisioned once
per build tree into a template folder; every fixture copies the template into
a state folder of its own, starts Samba there in the foreground of a session
of its own, waits until RootDSE answers, adds the objects the tests look up
and writes what the tests need to know about them (GUIDs, SIDs, times) into
"facts.txt" (one "key=value" line each, UTF-8).

Options: --profile example|recorded (before the subcommand; default example)
chooses the domain: example.test for the directory tests, offsec.lan for the
recorded Security logs, with their domain SID and the objects they name.

Subcommands:
  provision --template DIR               provision the template if it is not there yet
  start --template DIR --state-dir DIR   provision if needed, copy, start, populate
  stop --state-dir DIR                   stops the server by its recorded PID
  run --state-dir DIR -- COMMAND...      runs COMMAND with KX_SAMBA_FACTS set
  bulk --count N                         adds contacts until OU=Bulk holds N (benchmarks)

The server's TLS certificate (StartTLS on 389, ldaps on 636) is made at every
start by a test CA of the state folder, for 127.0.0.1 and the host's DNS name
("tls.ca"; "tls.otherCa" signed nothing here). The example domain also has two
Kerberos principals with keytabs ("keytab.wks01", "keytab.svc"), a krb5.conf
for its KDC on 127.0.0.1 ("krb5.conf", given to "run" as KRB5_CONFIG) and the
service principal that libldap asks for at 127.0.0.1 (ldap/ and the machine's
own host name).

Samba's LDAP port is fixed (389): only one such server runs at a time, which
the tests ask ctest for with a resource lock.
"""

import argparse
import base64
import fcntl
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import time

PASSWORD = "Korvex-Test-Passw0rd"
URI = "ldap://127.0.0.1"
# Two domains: "example" holds the objects the directory tests make up;
# "recorded" is the domain of the recorded Security logs (tests/data/evtx),
# with their domain SID, holding the objects those records name.
PROFILES = {
    "example": {"realm": "EXAMPLE.TEST", "domain": "EXAMPLE", "host": "dc1", "sid": None},
    "recorded": {"realm": "OFFSEC.LAN", "domain": "OFFSEC", "host": "rootdc1",
                 "sid": "S-1-5-21-4230534742-2542757381-3142984815"},
}
REALM = BASE = USER = DELETED_OBJECTS = None


def use_profile(name):
    global REALM, BASE, USER, DELETED_OBJECTS
    REALM = PROFILES[name]["realm"]
    BASE = ",".join("DC=" + part.lower() for part in REALM.split("."))
    USER = "Administrator@" + REALM.lower()
    DELETED_OBJECTS = "<WKGUID=18e2ea80684f11d2b9aa00c04f79f805,%s>" % BASE


use_profile("example")
SHOW_DELETED = "!1.2.840.113556.1.4.417"
GPO_NAME = "{5B0E6A52-2F7A-4A3E-9C1D-7E3B2A9C4D10}"
GPO_DISPLAY_NAME = "Audit Workstations"
SERVICE_PASSWORD = "Korvex-Svc-Passw0rd"
# Objects of one class added in the same second as another are found by the
# same time window; these gaps keep the cases apart.
PROVISION_GAP_SECONDS = 3
CHANGE_GAP_SECONDS = 3


def log(message):
    sys.stderr.write("sambadc: %s\n" % message)
    sys.stderr.flush()


def provision(template, profile):
    if os.path.exists(os.path.join(template, "provisioned-at")):
        return
    shutil.rmtree(template, ignore_errors=True)
    os.makedirs(template)
    empty_conf = template + ".empty.conf"
    open(empty_conf, "w").close()
    for sub in ("log", "run"):
        os.makedirs(os.path.join(template, sub), exist_ok=True)
    subprocess.run(
        ["samba-tool", "domain", "provision", "-s", empty_conf, "--targetdir=" + template,
         "--realm=" + REALM, "--domain=" + profile["domain"], "--server-role=dc",
         "--host-name=" + profile["host"], "--host-ip=127.0.0.1"]
        + (["--domain-sid=" + profile["sid"]] if profile["sid"] else [])
        + [ "--dns-backend=NONE", "--use-rfc2307",
         "--adminpass=" + PASSWORD,
         "--option=interfaces = 127.0.0.1", "--option=bind interfaces only = yes",
         "--option=log file = %s/log/samba.log" % template,
         "--option=pid directory = %s/run" % template,
         "--option=winbindd socket directory = %s/run/winbindd" % template,
         "--option=ntp signd socket directory = %s/run/ntp_signd" % template],
        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    conf = os.path.join(template, "etc", "smb.conf")
    with open(conf) as f:
        text = f.read()
    # Only the directory and Kerberos: no file server, no winbindd.
    lines = [line for line in text.splitlines() if not line.strip().startswith("server services")]
    text = "\n".join(lines) + "\n"
    text = text.replace("[global]", "[global]\n\tldap server require strong auth = no\n"
                        "\tserver services = ldap, cldap, kdc", 1)
    with open(conf, "w") as f:
        f.write(text)
    with open(os.path.join(template, "provisioned-at"), "w") as f:
        f.write("%d\n" % time.time())


def samba_tool(template, *arguments, check=True):
    subprocess.run(["samba-tool"] + list(arguments) + ["-s", os.path.join(template, "etc",
                                                                          "smb.conf")],
                   check=check, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def add_kerberos_clients(template):
    """A workstation account and a service user with keytabs, and the
    service principal that a GSSAPI bind to 127.0.0.1 asks for."""
    if os.path.exists(os.path.join(template, "keytabs-at")):
        return
    # Made already when an earlier try stopped half-way: these may fail.
    samba_tool(template, "computer", "create", "WKS01", check=False)
    samba_tool(template, "user", "create", "svc-audit", SERVICE_PASSWORD, check=False)
    # libldap names the service of a loopback address by this machine's own
    # name (its host name, as the resolver spells it in full).
    for name in sorted({"localhost", socket.gethostbyname_ex(socket.gethostname())[0]}):
        samba_tool(template, "spn", "add", "ldap/" + name,
                   PROFILES["example"]["host"].upper() + "$", check=False)
    # A computer made so has no keys until its password is set.
    samba_tool(template, "user", "setpassword", "WKS01$", "--newpassword=" + SERVICE_PASSWORD)
    for name, principal in (("wks01", "WKS01$"), ("svc", "svc-audit")):
        keytab = os.path.join(template, "%s.keytab" % name)
        if os.path.exists(keytab):
            os.remove(keytab)
        samba_tool(template, "domain", "exportkeytab", keytab,
                   "--principal=%s@%s" % (principal, REALM))
    with open(os.path.join(template, "keytabs-at"), "w") as f:
        f.write("%d\n" % time.time())


def template_changed_at(template):
    """When the template's own objects were last made: the provisioning, then
    the Kerberos clients added to it. The tests' objects must come later than
    that by more than the time windows the tests search in."""
    moments = []
    for name in ("provisioned-at", "keytabs-at"):
        path = os.path.join(template, name)
        if os.path.exists(path):
            with open(path) as f:
                moments.append(int(f.read()))
    return max(moments)


def provision_once(template, profile):
    os.makedirs(os.path.dirname(template), exist_ok=True)
    with open(template + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        provision(template, profile)
        if profile["sid"] is None:
            add_kerberos_clients(template)


def openssl(*arguments):
    subprocess.run(["openssl"] + list(arguments), check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


def make_authority(folder, name):
    key = os.path.join(folder, name + ".key")
    certificate = os.path.join(folder, name + ".pem")
    openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
            "-nodes", "-keyout", key, "-out", certificate, "-days", "30",
            "-subj", "/O=Korvex tests/CN=%s" % name,
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    return key, certificate


def make_tls_certificates(state, facts):
    """Samba's own certificate names only its DNS name; tests connect to
    127.0.0.1 and check the name, so a test CA signs one for both."""
    folder = os.path.join(state, "test-tls")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    ca_key, ca = make_authority(folder, "ca")
    _, other_ca = make_authority(folder, "other-ca")
    tls = os.path.join(state, "private", "tls")
    os.makedirs(tls, exist_ok=True)
    key = os.path.join(tls, "key.pem")
    request = os.path.join(folder, "server.csr")
    extensions = os.path.join(folder, "server.ext")
    host = "%s.%s" % (PROFILES["example" if REALM == "EXAMPLE.TEST" else "recorded"]["host"],
                      REALM.lower())
    with open(extensions, "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:%s\nextendedKeyUsage=serverAuth\n" % host)
    if os.path.exists(key):
        os.remove(key)
    openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-keyout", key, "-out", request, "-subj", "/O=Korvex tests/CN=%s" % host)
    os.chmod(key, 0o600)
    openssl("x509", "-req", "-in", request, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial",
            "-days", "30", "-extfile", extensions, "-out", os.path.join(tls, "cert.pem"))
    shutil.copy(ca, os.path.join(tls, "ca.pem"))
    facts["tls.ca"] = ca
    facts["tls.otherCa"] = other_ca


def write_kerberos_configuration(state, facts):
    conf = os.path.join(state, "krb5.conf")
    with open(conf, "w") as f:
        f.write("[libdefaults]\n\tdefault_realm = %s\n\tdns_lookup_kdc = false\n"
                "\tdns_lookup_realm = false\n\trdns = false\n"
                "\tdns_canonicalize_hostname = false\n"
                "[realms]\n\t%s = {\n\t\tkdc = 127.0.0.1\n\t}\n" % (REALM, REALM))
    facts["krb5.conf"] = conf
    for name in ("wks01", "svc"):
        keytab = os.path.join(state, "%s.keytab" % name)
        if os.path.exists(keytab):
            facts["keytab." + name] = keytab


def copy_template(template, state):
    shutil.rmtree(state, ignore_errors=True)
    shutil.copytree(template, state, symlinks=True)
    conf = os.path.join(state, "etc", "smb.conf")
    with open(conf) as f:
        text = f.read()
    with open(conf, "w") as f:
        f.write(text.replace(template, state))


def ldap(tool, *arguments, stdin=None, check=True):
    command = [tool, "-x", "-H", URI, "-D", USER, "-w", PASSWORD] + list(arguments)
    result = subprocess.run(command, input=stdin, capture_output=True, text=True)
    if check and result.returncode != 0:
        raise RuntimeError("%s failed: %s" % (" ".join(command[:1] + list(arguments)),
                                              result.stderr.strip()))
    return result.stdout


def root_dse_answers():
    result = subprocess.run(["ldapsearch", "-x", "-H", URI, "-b", "", "-s", "base",
                             "defaultNamingContext"], capture_output=True, text=True)
    return result.returncode == 0 and "defaultNamingContext" in result.stdout


def start_samba(state):
    deadline = time.time() + 30
    while ldap_port_answers() and time.time() < deadline:
        time.sleep(0.1)
    if ldap_port_answers():
        raise RuntimeError("another server answers on 127.0.0.1:389")
    os.makedirs(os.path.join(state, "log"), exist_ok=True)
    with open(os.path.join(state, "log", "stdout"), "w") as out:
        process = subprocess.Popen(
            ["samba", "-s", os.path.join(state, "etc", "smb.conf"), "-l",
             os.path.join(state, "log"), "--foreground", "--no-process-group", "-M", "single"],
            stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
            start_new_session=True)
    with open(os.path.join(state, "samba.pid"), "w") as f:
        f.write("%d\n" % process.pid)
    deadline = time.time() + 60
    while time.time() < deadline:
        if process.poll() is not None:
            raise RuntimeError("samba ended with %d; see %s/log" % (process.returncode, state))
        if root_dse_answers():
            return
        time.sleep(0.1)
    raise RuntimeError("samba's RootDSE did not answer within 60 s")


def add(ldif):
    ldap("ldapadd", stdin=ldif)


def search(base, scope, filter_, attributes, deleted=False):
    """Entries as lists of (attribute, value) with binary values decoded."""
    arguments = ["-LLL", "-o", "ldif-wrap=no", "-b", base, "-s", scope]
    if deleted:
        arguments += ["-E", SHOW_DELETED]
    text = ldap("ldapsearch", *(arguments + [filter_] + attributes))
    entries = []
    for block in text.strip().split("\n\n"):
        entry = {}
        for line in block.splitlines():
            if line.startswith("#") or ":" not in line:
                continue
            name, _, value = line.partition(":")
            if value.startswith(":"):
                value = base64.b64decode(value[1:].strip())
            else:
                value = value.strip()
            entry.setdefault(name.lower(), value)
        if entry:
            entries.append(entry)
    return entries


def guid_text(raw):
    data1, data2, data3 = struct.unpack("<IHH", raw[:8])
    rest = raw[8:].hex().upper()
    return "{%08X-%04X-%04X-%s-%s}" % (data1, data2, data3, rest[:4], rest[4:])


def sid_text(raw):
    count = raw[1]
    authority = int.from_bytes(raw[2:8], "big")
    subs = struct.unpack("<%dI" % count, raw[8:8 + 4 * count])
    return "S-%d-%d" % (raw[0], authority) + "".join("-%d" % s for s in subs)


def short_time(value):
    return value.split(".")[0]


def populate(state, facts):
    ou = "OU=Sales," + BASE
    jane = "CN=Jane Doe," + ou
    share = "CN=Share," + ou
    outer = "OU=Outer," + BASE
    inner = "OU=Inner," + outer
    leaver = "CN=Leaver," + inner
    gpo = "CN=%s,CN=Policies,CN=System,%s" % (GPO_NAME, BASE)
    # Names with an ADsPath's separator and an escaped comma in them.
    devops = "OU=Dev/Ops," + BASE
    ops = "CN=Ops/Admins\\, Night," + devops
    add("dn: %s\nobjectClass: organizationalUnit\n\n"
        "dn: %s\nobjectClass: group\nsAMAccountName: ops-admins\n\n" % (devops, ops))
    add("dn: %s\nobjectClass: organizationalUnit\n\n"
        "dn: %s\nobjectClass: user\nsAMAccountName: jane\n\n"
        "dn: CN=Auditors,%s\nobjectClass: group\nsAMAccountName: auditors\n\n"
        "dn: %s\nobjectClass: groupPolicyContainer\ndisplayName: %s\n\n"
        "dn: %s\nobjectClass: organizationalUnit\n\n"
        "dn: %s\nobjectClass: organizationalUnit\n\n"
        "dn: %s\nobjectClass: user\nsAMAccountName: leaver\n\n"
        "dn: %s\nobjectClass: volume\nuNCName: \\\\\\\\files\\\\audit\n"
        % (ou, jane, ou, gpo, GPO_DISPLAY_NAME, outer, inner, leaver, share))
    # The former parents are deleted after the user, so that its last known
    # parent is itself a deleted object.
    ldap("ldapdelete", leaver, inner, outer)
    created = search(share, "base", "(objectClass=*)", ["whenCreated"])[0]["whencreated"]
    wait_until(time.mktime(time.strptime(short_time(created), "%Y%m%d%H%M%S")) - time.timezone
               + CHANGE_GAP_SECONDS + 1)
    ldap("ldapmodify", stdin="dn: %s\nchangetype: modify\nreplace: description\n"
         "description: changed later\n" % share)

    facts["base"] = BASE
    for key, dn in (("jane", jane), ("share", share), ("gpo", gpo), ("auditors", "CN=Auditors," + ou),
                    ("ops", ops)):
        entry = search(dn, "base", "(objectClass=*)",
                       ["distinguishedName", "objectGUID", "objectSid", "whenCreated",
                        "whenChanged", "name"])[0]
        facts[key + ".dn"] = entry["distinguishedname"]
        facts[key + ".guid"] = guid_text(entry["objectguid"])
        facts[key + ".created"] = short_time(entry["whencreated"])
        facts[key + ".changed"] = short_time(entry["whenchanged"])
        facts[key + ".name"] = entry["name"]
        if "objectsid" in entry:
            facts[key + ".sid"] = sid_text(entry["objectsid"])
    facts["gpo.displayName"] = GPO_DISPLAY_NAME
    for key, name in (("leaver", "Leaver"), ("inner", "Inner"), ("outer", "Outer")):
        entry = search(DELETED_OBJECTS, "sub", "(name=%s*)" % name,
                       ["distinguishedName", "objectGUID", "whenChanged", "lastKnownParent"],
                       deleted=True)[0]
        facts[key + ".deleted.dn"] = entry["distinguishedname"]
        facts[key + ".guid"] = guid_text(entry["objectguid"])
        facts[key + ".changed"] = short_time(entry["whenchanged"])
        facts[key + ".lastKnownParent"] = entry.get("lastknownparent", "")
    facts["leaver.dn"] = leaver


# The objects that the recorded records name, with the GUIDs and SIDs they
# carry there. An LDAP client may not choose an object's GUID or SID, so they
# are added to the database itself, through Samba's own Python modules.
RECORDED_OBJECTS = [
    ("OU=OFFSEC-COMPANY", "organizationalUnit", {}),
    ("OU=Test-OU,OU=OFFSEC-COMPANY", "organizationalUnit", {}),
    ("CN=honey-pot1,OU=Test-OU,OU=OFFSEC-COMPANY", "user",
     {"sAMAccountName": "honey-pot1", "guid": "259162F1-58E4-4EE9-9B9C-2BAF2A03D376", "rid": 1159}),
    ("CN=hacker2,CN=Users", "user", {"sAMAccountName": "hacker2", "rid": 1242}),
    # The accounts that act in the records.
    ("CN=admmig,CN=Users", "user", {"sAMAccountName": "admmig", "rid": 1111}),
    ("CN=lambda-user,CN=Users", "user", {"sAMAccountName": "lambda-user", "rid": 1158}),
    ("CN=OFFSEC-PREMISE,CN=Sites,CN=Configuration", "site", {}),
    ("CN=Servers,CN=OFFSEC-PREMISE,CN=Sites,CN=Configuration", "serversContainer", {}),
    ("CN=JUMP01,CN=Servers,CN=OFFSEC-PREMISE,CN=Sites,CN=Configuration", "server",
     {"guid": "2CB2FA54-A21A-4E2F-B7AF-A82A56D9D690"}),
]


def add_recorded(args):
    """Runs under the system's Python, which has Samba's modules."""
    import ldb
    from samba import ndr
    from samba.auth import system_session
    from samba.dcerpc import misc, security
    from samba.param import LoadParm
    from samba.samdb import SamDB
    state = os.path.abspath(args.state_dir)
    parameters = LoadParm()
    parameters.load(os.path.join(state, "etc", "smb.conf"))
    database = SamDB(url=os.path.join(state, "private", "sam.ldb"),
                     session_info=system_session(), lp=parameters)
    domain_sid = str(database.get_domain_sid())
    for relative, object_class, extra in RECORDED_OBJECTS:
        message = ldb.Message(ldb.Dn(database, relative + "," + BASE))
        values = {"objectClass": object_class}
        if "sAMAccountName" in extra:
            values["sAMAccountName"] = extra["sAMAccountName"]
        if "guid" in extra:
            values["objectGUID"] = ndr.ndr_pack(misc.GUID(extra["guid"]))
        if "rid" in extra:
            values["objectSid"] = ndr.ndr_pack(security.dom_sid("%s-%d" % (domain_sid,
                                                                            extra["rid"])))
        for name, value in values.items():
            message[name] = ldb.MessageElement(value, ldb.FLAG_MOD_ADD, name)
        database.add(message, controls=["relax:0"])
    return 0


def populate_recorded(state, facts):
    system_python = shutil.which("python3", path="/usr/bin") or "python3"
    subprocess.run([system_python, os.path.abspath(__file__), "--profile", "recorded",
                    "add-recorded", "--state-dir", state], check=True)
    facts["base"] = BASE
    for key, relative in (("honeypot", RECORDED_OBJECTS[2][0]), ("hacker2", RECORDED_OBJECTS[3][0]),
                          ("jump01", RECORDED_OBJECTS[-1][0])):
        entry = search(relative + "," + BASE, "base", "(objectClass=*)",
                       ["distinguishedName", "objectGUID", "whenCreated"])[0]
        facts[key + ".dn"] = entry["distinguishedname"]
        facts[key + ".guid"] = guid_text(entry["objectguid"])
        facts[key + ".created"] = short_time(entry["whencreated"])


def wait_until(moment):
    delay = moment - time.time()
    if delay > 0:
        time.sleep(delay)


def write_facts(state, facts):
    with open(os.path.join(state, "facts.txt"), "w", encoding="utf-8") as f:
        for key in sorted(facts):
            f.write("%s=%s\n" % (key, facts[key]))


def provision_only(args):
    try:
        provision_once(os.path.abspath(args.template), PROFILES[args.profile])
    except (OSError, subprocess.CalledProcessError) as error:
        log(str(error))
        return 1
    return 0


def start(args):
    state = os.path.abspath(args.state_dir)
    template = os.path.abspath(args.template)
    stop_recorded(state)
    profile = PROFILES[args.profile]
    provision_once(template, profile)
    copy_template(template, state)
    wait_until(template_changed_at(template) + PROVISION_GAP_SECONDS)
    password_file = os.path.join(state, "password")
    with open(os.open(password_file, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "w") as f:
        f.write(PASSWORD)
    facts = {"server": "127.0.0.1", "uri": URI, "user": USER, "password": PASSWORD,
             "passwordFile": password_file, "realm": REALM}
    try:
        make_tls_certificates(state, facts)
        write_kerberos_configuration(state, facts)
        start_samba(state)
        (populate_recorded if args.profile == "recorded" else populate)(state, facts)
    except Exception as error:  # leave nothing running behind a failed start
        log(str(error))
        stop_recorded(state)
        return 1
    write_facts(state, facts)
    return 0


def ldap_port_answers():
    try:
        with socket.create_connection(("127.0.0.1", 389), timeout=1):
            return True
    except OSError:
        return False


def stop_recorded(state):
    """Stops the server's whole session and waits until its LDAP port is
    free, so that the next fixture never talks to this one."""
    pid_file = os.path.join(state, "samba.pid")
    try:
        with open(pid_file) as f:
            pid = int(f.read())
    except (OSError, ValueError):
        return
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(pid, sig)
        except ProcessLookupError:
            break
        deadline = time.time() + 10
        while ldap_port_answers() and time.time() < deadline:
            time.sleep(0.1)
        if not ldap_port_answers():
            break
    os.remove(pid_file)


def stop(args):
    stop_recorded(os.path.abspath(args.state_dir))
    return 0


def run(args):
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    state = os.path.abspath(args.state_dir)
    environment = dict(os.environ, KX_SAMBA_FACTS=os.path.join(state, "facts.txt"))
    if os.path.exists(os.path.join(state, "krb5.conf")):
        environment["KRB5_CONFIG"] = os.path.join(state, "krb5.conf")
    os.execvpe(command[0], command, environment)


def bulk(args):
    ou = "OU=Bulk," + BASE
    present = subprocess.run(["ldapsearch", "-x", "-H", URI, "-D", USER, "-w", PASSWORD, "-LLL",
                              "-b", ou, "-s", "one", "(objectClass=contact)", "1.1"],
                             capture_output=True, text=True)
    if present.returncode == 32:
        add("dn: %s\nobjectClass: organizationalUnit\n" % ou)
        have = 0
    else:
        have = present.stdout.count("dn: ")
    entries = ["dn: CN=Contact %05d,%s\nobjectClass: contact\n" % (i, ou)
               for i in range(have, args.count)]
    for start in range(0, len(entries), 500):
        add("\n".join(entries[start:start + 500]))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--profile", choices=sorted(PROFILES), default="example")
    commands = parser.add_subparsers(dest="name", required=True)
    provision_parser = commands.add_parser("provision")
    provision_parser.add_argument("--template", required=True)
    provision_parser.set_defaults(function=provision_only)
    start_parser = commands.add_parser("start")
    start_parser.add_argument("--template", required=True)
    start_parser.add_argument("--state-dir", required=True)
    start_parser.set_defaults(function=start)
    stop_parser = commands.add_parser("stop")
    stop_parser.add_argument("--state-dir", required=True)
    stop_parser.set_defaults(function=stop)
    run_parser = commands.add_parser("run")
    run_parser.add_argument("--state-dir", required=True)
    run_parser.add_argument("command", nargs=argparse.REMAINDER)
    run_parser.set_defaults(function=run)
    bulk_parser = commands.add_parser("bulk")
    bulk_parser.add_argument("--count", type=int, required=True)
    bulk_parser.set_defaults(function=bulk)
    add_recorded_parser = commands.add_parser("add-recorded")
    add_recorded_parser.add_argument("--state-dir", required=True)
    add_recorded_parser.set_defaults(function=add_recorded)
    args = parser.parse_args()
    use_profile(args.profile)
    return args.function(args)


if __name__ == "__main__":
    sys.exit(main())
