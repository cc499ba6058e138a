"""What Windows reads from the agent's resources: version, icon group, manifest."""
import pytest


def resources(host, fixtures, program):
    result = host.run(fixtures / "messageprobe.exe", "resources", host.place(program, "Probe", program.name))
    assert result.returncode == 0, result.stderr
    lines = result.stdout.decode("utf-8").replace("\r\n", "\n").split("\n")
    manifest_at = next(i for i, line in enumerate(lines) if line.startswith("Manifest="))
    return lines[:manifest_at], "\n".join(lines[manifest_at:])


def test_version_resource_as_tabled(host, fixtures, dist):
    lines, _ = resources(host, fixtures, dist / "keldraagent.exe")
    values = dict(line.split("=", 1) for line in lines if "=" in line and not line.startswith("Icon="))
    assert values["FileVersionMS"] == values["ProductVersionMS"] == "00090008"
    assert values["FileVersionLS"] == values["ProductVersionLS"] == "00000001"
    assert (values["FileOS"], values["FileType"], values["FileFlags"]) == ("4", "1", "0")
    assert values["Translation"] == "0409 04e4"
    assert values["String:FileVersion"] == values["String:File Version"] == "9.8.0"
    assert values["String:ProductVersion"] == "9.8.0"
    assert values["String:FileDescription"] == "keldraAgent - Keldra Agent"
    assert values["String:InternalName"] == values["String:ProductName"] == "keldraAgent"
    assert values["String:OriginalFilename"] == "keldraagent.exe"
    assert values["String:LegalCopyright"] and values["String:LegalTrademarks"]


def test_icon_group_holds_the_seven_images(host, fixtures, dist):
    lines, _ = resources(host, fixtures, dist / "keldraagent.exe")
    icons = sorted(line for line in lines if line.startswith("Icon="))
    expected = sorted("Icon=%dx%d %d" % (s, s, b) for s in (16, 32, 48) for b in (8, 24))
    assert icons == sorted(expected + ["Icon=32x32 4"])


@pytest.mark.parametrize("program", ["keldraagent.exe", "mirelt.exe"])
def test_manifest_runs_as_invoker_without_ui_access(host, fixtures, dist, program):
    _, manifest = resources(host, fixtures, dist / program)
    assert 'level="asInvoker"' in manifest
    assert 'uiAccess="false"' in manifest


def test_banner_and_version_resource_name_the_same_version(host, fixtures, dist):
    lines, _ = resources(host, fixtures, dist / "keldraagent.exe")
    values = dict(line.split("=", 1) for line in lines if "=" in line and not line.startswith("Icon="))
    banner = host.run(host.place(dist / "keldraagent.exe", "Probe", "keldraagent.exe"), "RUN", "svc", "-v")
    version_line = banner.stdout.decode("utf-8").split("\r\n")[1]
    assert version_line == "Version: " + values["String:ProductVersion"], (banner.returncode, banner.stdout, banner.stderr)
    ms, ls = int(values["FileVersionMS"], 16), int(values["FileVersionLS"], 16)
    assert values["String:FileVersion"] == "%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16)
