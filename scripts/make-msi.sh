#!/bin/sh
# Builds the agent's Windows Installer package from deploy/KorvexAgent.wxs:
#   scripts/make-msi.sh x64|x86 VERSION BINARY_FOLDER OUTPUT.msi [STRIP]
# BINARY_FOLDER holds KXWkstnSvc.exe and KXWkstnSvc.dll; STRIP, the MinGW
# strip tool, takes the debugging information out of the packaged copy (22 MB
# become 1.4 MB). wixl (msitools) makes the package; msibuild then adds what
# wixl's WiX dialect lacks.
set -eu
arch=$1 version=$2 binaries=$3 output=$4 strip=${5:-}
source=$(cd "$(dirname "$0")/.." && pwd)
case "$arch" in
    x64) folder=ProgramFiles64Folder win64=yes bits=256 ;;  # msidbComponentAttributes64bit
    x86) folder=ProgramFilesFolder win64=no bits=0 ;;
    *) echo "make-msi.sh: x64 or x86, not $arch" >&2; exit 2 ;;
esac
case "$output" in /*) ;; *) output="$PWD/$output" ;; esac
work="$output.tmp"
staging="$output.files"
rm -rf "$work" "$staging"
mkdir -p "$staging"
cp "$binaries/KXWkstnSvc.exe" "$binaries/KXWkstnSvc.dll" "$staging/"
[ -z "$strip" ] || "$strip" "$staging/KXWkstnSvc.exe"
# wixl finds each File's Source from the working folder.
(cd "$staging" && wixl -a "$arch" -D Version="$version" -D ProgramFiles="$folder" \
    -D Win64="$win64" -D BinDir=. -o "$work" "$source/deploy/KorvexAgent.wxs")

q() { msibuild "$work" -q "$1"; }
# The policy values: each written only when its property is given, and kept
# when the package is upgraded or removed (registry key path 4, permanent 16).
q "UPDATE \`Component\` SET \`Condition\` = 'KFSSERVER', \`Attributes\` = $((bits + 20)) WHERE \`Component\` = 'PolicyServer'"
q "UPDATE \`Component\` SET \`Condition\` = 'KFSPORT', \`Attributes\` = $((bits + 20)) WHERE \`Component\` = 'PolicyPort'"
# The agent's own files go at removal only when REMOVECACHEFILES=1 has set
# AGENTFILESFOLDER (before RemoveFiles, once INSTALLDIR is known).
for row in "CacheFiles KX_*.tmp" "DiagnosticLog BWAgentSvc.log" "DefinitionsCopy KXEventDefinitions.xml"; do
    set -- $row
    q "INSERT INTO \`RemoveFile\` (\`FileKey\`, \`Component_\`, \`FileName\`, \`DirProperty\`, \`InstallMode\`) VALUES ('$1', 'ServiceExecutable', '$2', 'AGENTFILESFOLDER', 2)"
done
q "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 3490 WHERE \`Action\` = 'SetAgentFilesFolder'"
# The event sources in the Application log's "Sources" list, as -install
# adds them ("[~]" first: appended, and taken out again at removal).
q "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Value\`, \`Component_\`) VALUES ('EventLogSources', 2, 'SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application', 'Sources', '[~]Korvex Workstation Agent[~]Korvex Agent', 'ServiceMessageFile')"
# A major upgrade removes the older product first, so the service is deleted
# and created again with the newer files.
q "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 1401 WHERE \`Action\` = 'RemoveExistingProducts'"
# Recovery, as -install sets it: restart after 60 s, 60 s, then 5 minutes,
# the count reset after a day, and an exit with an error counted as a failure.
q "CREATE TABLE \`MsiServiceConfigFailureActions\` (\`MsiServiceConfigFailureActions\` CHAR(72) NOT NULL, \`Name\` CHAR(255) NOT NULL, \`Event\` SHORT NOT NULL, \`ResetPeriod\` LONG, \`RebootMessage\` CHAR(255) LOCALIZABLE, \`Command\` CHAR(255), \`Actions\` CHAR(255), \`DelayActions\` CHAR(255), \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`MsiServiceConfigFailureActions\`)"
q "INSERT INTO \`MsiServiceConfigFailureActions\` (\`MsiServiceConfigFailureActions\`, \`Name\`, \`Event\`, \`ResetPeriod\`, \`Actions\`, \`DelayActions\`, \`Component_\`) VALUES ('KXWkstnSvcRecovery', 'KXWkstnSvc', 1, 86400, '1[~]1[~]1', '60000[~]60000[~]300000', 'ServiceExecutable')"
q "CREATE TABLE \`MsiServiceConfig\` (\`MsiServiceConfig\` CHAR(72) NOT NULL, \`Name\` CHAR(255) NOT NULL, \`Event\` SHORT NOT NULL, \`ConfigType\` LONG NOT NULL, \`Argument\` CHAR(0), \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`MsiServiceConfig\`)"
q "INSERT INTO \`MsiServiceConfig\` (\`MsiServiceConfig\`, \`Name\`, \`Event\`, \`ConfigType\`, \`Argument\`, \`Component_\`) VALUES ('KXWkstnSvcFailureFlag', 'KXWkstnSvc', 1, 4, '1', 'ServiceExecutable')"
q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('MsiConfigureServices', 'VersionNT >= 600', 5850)"
mv "$work" "$output"
rm -rf "$staging"
