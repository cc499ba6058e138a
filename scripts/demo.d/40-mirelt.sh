# mirelt installs a real MSI package (built here with wixl) through Wine's
# Windows Installer, logs what happened and removes the package and option
# files. Sourced by scripts/demo-steps.
mirelt='C:\Keldra\mirelt.exe'
msi_work=$(mktemp -d)
printf 'Installed by mirelt\r\n' > "$msi_work/readme.txt"
printf '[demo]\r\nfolder=KeldraDemo\r\n' > "$msi_work/settings.ini"
guid() { python3 -c 'import uuid; print(str(uuid.uuid4()).upper())'; }
(cd "$msi_work" && wixl -a x64 -D ProductCode="$(guid)" -D UpgradeCode="$(guid)" -D ComponentGuid="$(guid)" \
  -D Folder=KeldraDemo -o KeldraDemo.msi "$OLDPWD/tests/fixtures/probe_package.wxs")
mkdir -p "$drive_c/Staging"
cp "$msi_work/KeldraDemo.msi" "$drive_c/Staging/"
printf 'options\r\n' > "$drive_c/Staging/KeldraDemo.options"
rm -rf "$msi_work"

show ls 'C:\Staging'
ls "$drive_c/Staging"

show mirelt.exe 'C:\Staging\KeldraDemo.msi' msi /qn 'C:\Staging\KeldraDemo.options'
wine "$mirelt" 'C:\Staging\KeldraDemo.msi' msi /qn 'C:\Staging\KeldraDemo.options'; exit_code $?

show ls 'C:\Program Files\KeldraDemo' '(installed by the Windows Installer)'
ls "$drive_c/Program Files/KeldraDemo"
cat "$drive_c/Program Files/KeldraDemo/readme.txt"

show ls 'C:\Staging' '(package and option file removed)'
ls "$drive_c/Staging"
[ -z "$(ls -A "$drive_c/Staging")" ] && echo '(empty)'

show mirelt.exe 'C:\Staging\missing.exe' exe /S 'C:\Staging\missing.options'
wine "$mirelt" 'C:\Staging\missing.exe' exe /S 'C:\Staging\missing.options'; exit_code $?

mirelt_log=$(find "$drive_c/users" -name mirelt.log | head -n 1)
show type '%TEMP%\mirelt.log'
cat "$mirelt_log"
