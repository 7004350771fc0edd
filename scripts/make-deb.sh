#!/bin/sh
# Builds the Debian package of the Linux build:
#   scripts/make-deb.sh BUILD_FOLDER OUTPUT_FOLDER [VERSION]
# makes OUTPUT_FOLDER/korvex-agent_<VERSION>_<arch>.deb from a build of the
# linux preset (VERSION default 1.0.0):
#   /opt/korvex/agent/      KXWkstnSvc and its message file KXWkstnSvc.dll; its
#                           cache files, log and definitions copy go here (0700)
#   /opt/korvex/bin/        kxreg, kxeventlog, kxpreview, kxservices
#   /opt/korvex/lib/        KXSecurityMessages.dll and its registration script
#   /usr/bin/               kxreg, kxeventlog, kxpreview (links)
#   /lib/systemd/system/    korvex-services.service (kxservices boot/shutdown)
#   /var/lib/korvex/        the machine root's parent (0700)
# The maintainer scripts are deploy/debian/{postinst,prerm,postrm}.
set -eu
build=$(cd "$1" && pwd)
mkdir -p "$2"
output=$(cd "$2" && pwd)
version=${3:-1.0.0}
source=$(cd "$(dirname "$0")/.." && pwd)
arch=$(dpkg --print-architecture)
stage=$(mktemp -d "${TMPDIR:-/tmp}/korvex-deb.XXXXXX")
trap 'rm -rf "$stage"' EXIT
chmod 0755 "$stage"

install -d -m 0755 "$stage/opt/korvex/bin" "$stage/opt/korvex/lib" "$stage/usr/bin" \
    "$stage/lib/systemd/system" "$stage/DEBIAN"
install -d -m 0700 "$stage/opt/korvex/agent" "$stage/var/lib/korvex"
install -m 0755 -s "$build/src/service/KXWkstnSvc" "$stage/opt/korvex/agent/"
install -m 0644 "$build/src/service/KXWkstnSvc.dll" "$stage/opt/korvex/agent/"
for tool in kxreg kxeventlog kxpreview kxservices; do
    install -m 0755 -s "$build/tools/$tool/$tool" "$stage/opt/korvex/bin/"
done
for tool in kxreg kxeventlog kxpreview; do
    ln -s "../../opt/korvex/bin/$tool" "$stage/usr/bin/$tool"
done
install -m 0644 "$build/data/messages/KXSecurityMessages.dll" "$stage/opt/korvex/lib/"
install -m 0755 "$source/scripts/register-security-messages.sh" "$stage/opt/korvex/lib/"
sed 's|/usr/local/bin/kxservices|/opt/korvex/bin/kxservices|g' \
    "$source/tools/kxservices/korvex-services.service" \
    >"$stage/lib/systemd/system/korvex-services.service"
chmod 0644 "$stage/lib/systemd/system/korvex-services.service"
for script in postinst prerm postrm; do
    install -m 0755 "$source/deploy/debian/$script" "$stage/DEBIAN/"
done

# Depends: the package of every shared library the programs need.
depends=$(for program in "$stage"/opt/korvex/agent/KXWkstnSvc "$stage"/opt/korvex/bin/*; do
    objdump -p "$program" | awk '/NEEDED/ { print $2 }'
done | sort -u | while read -r library; do
    path=$(ldconfig -p | awk -v l="$library" '$1 == l { print $NF; exit }')
    [ -n "$path" ] || continue
    { dpkg -S "$path" 2>/dev/null || dpkg -S "$(realpath "$path")" 2>/dev/null; } |
        sed 's/:.*//; s/, /\n/g'
done | sort -u | paste -sd, | sed 's/,/, /g')
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@DEPENDS@/$depends/" \
    "$source/deploy/debian/control.in" >"$stage/DEBIAN/control"
echo "Installed-Size: $(du -sk --exclude=DEBIAN "$stage" | cut -f1)" >>"$stage/DEBIAN/control"
dpkg-deb --root-owner-group -Zxz --build "$stage" "$output/korvex-agent_${version}_${arch}.deb" >/dev/null
echo "$output/korvex-agent_${version}_${arch}.deb"
