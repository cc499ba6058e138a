"""mirelt installing real Windows Installer packages, built with wixl from
tests/fixtures/probe_package.wxs (or built beforehand into the folder that
KELDRA_E2E_PACKAGES names, as <folder>.msi), through the host's msiexec."""
import os
import pathlib
import shutil
import subprocess

import pytest

from mirelt_support import closing_line
from wine_session import REPO, wait_for_installer


@pytest.fixture(scope="session")
def build_msi(tmp_path_factory):
    """The package for a folder, which installs readme.txt and settings.ini
    into C:\\Program Files\\<folder> as a product of its own: made by
    scripts/e2e-packages, the same way for both hosts."""
    packages = os.environ.get("KELDRA_E2E_PACKAGES")
    if not packages:
        packages = tmp_path_factory.mktemp("packages")
        subprocess.run(["bash", str(REPO / "scripts" / "e2e-packages"), str(packages)], check=True,
                       capture_output=True, timeout=300)
    return lambda folder: pathlib.Path(packages) / (folder + ".msi")


@pytest.fixture(autouse=True)
def installer_free(host):
    wait_for_installer(host)


def installed(host, folder):
    target = host.program_files / folder
    return sorted(p.name for p in target.iterdir()) if target.exists() else []


@pytest.mark.parametrize("kind, folder", [("msi", "KeldraProbe-lower"), ("MSI", "KeldraProbe-upper"),
                                          ("Msi", "KeldraProbe-mixed")])
def test_an_msi_package_is_installed_by_the_windows_installer(host, launcher, build_msi, kind, folder):
    package = launcher.root / "stage" / "probe.msi"
    package.parent.mkdir(parents=True)
    shutil.copy2(build_msi(folder), package)
    options = launcher.file("stage/probe.options")
    result = launcher.run(launcher.win(package), kind, "/qn", launcher.win(options), timeout=300)
    assert (result.returncode, result.stdout, result.stderr) == (0, b"", b"")
    assert installed(host, folder) == ["readme.txt", "settings.ini"]
    assert (host.program_files / folder / "settings.ini").read_bytes().endswith(folder.encode() + b"\r\n")
    assert launcher.log() == [b'Ready to install msiexec /i "%s" /qn' % launcher.win(package).encode()]
    assert not package.exists() and not options.exists()


def test_an_msiexec_beside_the_launcher_or_in_the_current_directory_is_not_run(host, launcher, build_msi, dist):
    # A copy of the launcher with a planted msiexec.exe beside it, started
    # from a current directory that holds another one.
    program = launcher.root / "bin" / "mirelt.exe"
    program.parent.mkdir(parents=True)
    shutil.copy2(dist / "mirelt.exe", program)
    planted = [launcher.package_program("bin/msiexec.exe"), launcher.package_program("stage/msiexec.exe")]
    folder = "KeldraProbe-planted"
    package = launcher.root / "stage" / "probe.msi"
    shutil.copy2(build_msi(folder), package)
    options = launcher.file("stage/probe.options")
    launcher.run(launcher.win(package), "msi", "/qn", launcher.win(options), program=launcher.win(program),
                 cwd=package.parent, timeout=300)
    assert [launcher.recorded(p) for p in planted] == [None, None]
    assert installed(host, folder) == ["readme.txt", "settings.ini"]
    assert launcher.log() == [b'Ready to install msiexec /i "%s" /qn' % launcher.win(package).encode()]


def test_a_package_the_installer_refuses_gets_the_closing_line_and_both_files_go(launcher):
    package = launcher.file("stage/broken.msi", b"this is not a Windows Installer package")
    options = launcher.file("stage/broken.options")
    launcher.run(launcher.win(package), "msi", "/qn", launcher.win(options), timeout=300)
    assert launcher.log() == [b'Ready to install msiexec /i "%s" /qn' % launcher.win(package).encode(),
                              closing_line(launcher.win(package))]
    assert not package.exists() and not options.exists()
