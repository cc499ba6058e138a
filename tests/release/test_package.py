"""scripts/package: the release archive holds the deliverables, their
checksums, the administrator's guide (docs/administrators.md, with CR LF line
ends) and the licence texts as the packages
that provide the linked-in libraries ship them; its times and the programs'
PE time stamps come from SOURCE_DATE_EPOCH."""
import hashlib
import os
import pathlib
import re
import subprocess
import time
import zipfile

from pe_image import read_pe_image

EPOCH = 1700000000
MEMBERS = ["keldraagent.exe", "mirelt.exe", "vossevent.dll", "SHA256SUMS",
           "ADMINISTRATOR-GUIDE.txt", "THIRD-PARTY-NOTICES.txt"]


def shown(result):
    return f"exit code {result.returncode}\nstdout: {result.stdout[-3000:]!r}\nstderr: {result.stderr[-3000:]!r}"


def crlf(text):
    return text.replace(b"\n", b"\r\n")


def copyright_of(library):
    path = subprocess.run(["x86_64-w64-mingw32-g++-posix", f"-print-file-name={library}"],
                          capture_output=True, text=True, check=True).stdout.strip()
    owner = subprocess.run(["dpkg", "-S", os.path.realpath(path)], capture_output=True, text=True, check=True)
    package = owner.stdout.split(":")[0]
    return pathlib.Path("/usr/share/doc") / package / "copyright"


def test_package_writes_the_release_archive(repo, tmp_path):
    release = tmp_path / "dist"
    packaged = subprocess.run([str(repo / "scripts" / "package")], cwd=tmp_path, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=1800,
                              env=dict(os.environ, KELDRA_DIST=str(release), SOURCE_DATE_EPOCH=str(EPOCH)))
    assert packaged.returncode == 0, shown(packaged)
    version = re.search(r"^project\(keldra VERSION ([0-9.]+) ", (repo / "CMakeLists.txt").read_text(), re.M)[1]
    archive = release / f"keldra-agent-windows-x64-{version}.zip"

    with zipfile.ZipFile(archive) as release_zip:
        assert release_zip.namelist() == MEMBERS, shown(packaged)
        content = {name: release_zip.read(name) for name in MEMBERS}
        times = {info.filename: info.date_time for info in release_zip.infolist()}
    assert set(times.values()) == {time.gmtime(EPOCH)[:6]}, times

    for name in MEMBERS[:3]:
        assert content[name] == (release / name).read_bytes(), name
        assert read_pe_image(content[name]).time_date_stamp == EPOCH, name
    listed = dict(reversed(line.split("  ")) for line in content["SHA256SUMS"].decode().splitlines())
    assert listed == {name: hashlib.sha256(content[name]).hexdigest() for name in MEMBERS[:3]}

    # The guide is docs/administrators.md as it is, but for its line ends; a CR
    # of its own would make the two differ in more than those.
    guide = (repo / "docs" / "administrators.md").read_bytes()
    assert b"\r" not in guide
    assert content["ADMINISTRATOR-GUIDE.txt"] == crlf(guide), "the archive's guide is not docs/administrators.md"
    notices = content["THIRD-PARTY-NOTICES.txt"]
    for licence in [repo / "third_party" / "boost" / "LICENSE_1_0.txt", copyright_of("libwinpthread.a"),
                    copyright_of("libstdc++.a"), pathlib.Path("/usr/share/common-licenses/GPL-3")]:
        assert crlf(licence.read_bytes()) in notices, licence
    assert b"RUNTIME LIBRARY EXCEPTION" in notices
