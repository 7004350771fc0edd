#!/usr/bin/env python3
"""The domain of the main job (scripts/run-agent.sh): the Samba domain
controller of the recorded logs' domain, offsec.lan (tools/sambadc/sambadc.py,
profile "recorded"), in which the live events' user is really created and
deleted, as the domain controller that writes such records does.

  demo_domain.py add-user NAME
      creates the user NAME in OU=Test-OU,OU=OFFSEC-COMPANY and prints its SID
  demo_domain.py delete-user NAME
      deletes it again
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools",
                                "sambadc"))
import sambadc  # noqa: E402  (the fixture's own LDAP helpers)

UNIT = "OU=Test-OU,OU=OFFSEC-COMPANY"


def user_dn(name):
    return "CN=%s,%s,%s" % (name, UNIT, sambadc.BASE)


def add_user(args):
    dn = user_dn(args.name)
    sambadc.add("dn: %s\nobjectClass: user\nsAMAccountName: %s\n" % (dn, args.name))
    entry = sambadc.search(dn, "base", "(objectClass=*)", ["objectSid"])[0]
    print(sambadc.sid_text(entry["objectsid"]))
    return 0


def delete_user(args):
    sambadc.ldap("ldapdelete", user_dn(args.name))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    for name, function in (("add-user", add_user), ("delete-user", delete_user)):
        command = commands.add_parser(name)
        command.add_argument("name")
        command.set_defaults(function=function)
    args = parser.parse_args()
    sambadc.use_profile("recorded")
    return args.function(args)


if __name__ == "__main__":
    sys.exit(main())
