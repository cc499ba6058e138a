"""scripts/sign: without a certificate nothing changes; with one, the three
deliverables carry a valid Authenticode signature, SHA256SUMS lists the
signed files, and the signed programs still run."""
import http.server
import os
import shutil
import subprocess
import threading

import pytest

from mirelt_support import Launcher
from wine_session import WineSession

DELIVERABLES = ["keldraagent.exe", "mirelt.exe", "vossevent.dll"]
PASSWORD = "not a secret, but \"quoted\" and spaced"

pytestmark = pytest.mark.skipif(not (shutil.which("osslsigncode") and shutil.which("openssl")),
                                reason="osslsigncode and openssl are needed to sign")


def shown(result):
    return f"exit code {result.returncode}\nstdout: {result.stdout!r}\nstderr: {result.stderr!r}"


def run(*command, cwd=None, env=None):
    return subprocess.run([str(c) for c in command], cwd=cwd, env=dict(os.environ, **(env or {})),
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=300)


def throw_away_certificate(directory, password):
    key, certificate, pfx = directory / "key.pem", directory / "cert.pem", directory / "cert.pfx"
    made = run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
               "-subj", "/CN=Keldra test signing", "-addext", "extendedKeyUsage=codeSigning",
               "-keyout", key, "-out", certificate)
    assert made.returncode == 0, shown(made)
    exported = run("openssl", "pkcs12", "-export", "-inkey", key, "-in", certificate, "-out", pfx,
                   "-passout", "env:KELDRA_SIGN_PASSWORD", env={"KELDRA_SIGN_PASSWORD": password})
    assert exported.returncode == 0, shown(exported)
    return certificate, pfx


@pytest.mark.parametrize("password", [PASSWORD, ""], ids=["password", "no-password"])
def test_sign_signs_in_place_and_the_signed_programs_run(repo, dist, build_root, tmp_path, password):
    release = tmp_path / "dist"
    release.mkdir()
    for name in DELIVERABLES + ["SHA256SUMS"]:
        shutil.copy2(dist / name, release / name)
    unsigned = {name: (release / name).read_bytes() for name in DELIVERABLES + ["SHA256SUMS"]}
    sign_env = {"KELDRA_DIST": str(release), "KELDRA_SIGN_PASSWORD": password}

    nothing = run(repo / "scripts" / "sign", env=sign_env)
    assert nothing.returncode == 0, shown(nothing)
    assert {name: (release / name).read_bytes() for name in unsigned} == unsigned, shown(nothing)

    certificate, pfx = throw_away_certificate(tmp_path, password)
    signed = run(repo / "scripts" / "sign", pfx, env=sign_env)
    assert signed.returncode == 0, shown(signed)
    assert not password or password.encode() not in signed.stdout + signed.stderr, shown(signed)
    assert b"stop validating when the certificate expires" in signed.stderr, shown(signed)
    for name in DELIVERABLES:
        verified = run("osslsigncode", "verify", "-CAfile", certificate, "-in", release / name)
        assert verified.returncode == 0 and b"Signature verification: ok" in verified.stdout, \
            f"{name}: {shown(verified)}"
        # The signature is all that signing adds.
        stripped = tmp_path / ("unsigned-" + name)
        removed = run("osslsigncode", "remove-signature", "-in", release / name, "-out", stripped)
        assert removed.returncode == 0, shown(removed)
        assert stripped.read_bytes() == unsigned[name], name
    sums = run("sha256sum", "-c", "--strict", "SHA256SUMS", cwd=release)
    assert sums.returncode == 0, shown(sums)
    assert (release / "SHA256SUMS").read_bytes() != unsigned["SHA256SUMS"]

    wine = WineSession()
    wine.start()
    try:
        agent = wine.place(release / "keldraagent.exe", "Keldra", "keldraagent.exe")
        version = wine.run(agent, "INSTALL", "svc", "-v")
        assert version.returncode == 0 and version.stdout.startswith(b"Keldra Agent\r\n"), shown(version)

        # mirelt, signed, installs a "package" that is the signed agent itself.
        launcher = Launcher(wine, release, build_root / "windows" / "tests" / "fixtures", "signed")
        package = launcher.root / "package.exe"
        shutil.copy2(release / "keldraagent.exe", package)
        options = launcher.file("package.options")
        launched = launcher.run(launcher.win(package), "exe", "INSTALL svc -v", launcher.win(options))
        log = launcher.log()
        assert launched.returncode == 0, shown(launched)
        assert log == [b'Ready to install "' + launcher.win(package).encode() + b'" INSTALL svc -v'], (log, shown(launched))
        assert not package.exists() and not options.exists(), shown(launched)
    finally:
        wine.stop()


def test_the_time_stamp_server_given_is_asked_and_without_its_answer_nothing_is_signed(repo, dist, tmp_path):
    release = shutil.copytree(dist, tmp_path / "dist")
    unsigned = {name: (release / name).read_bytes() for name in DELIVERABLES}
    asked = []
    refusing = type("Refusing", (http.server.BaseHTTPRequestHandler,), {
        "do_POST": lambda self: (asked.append(self.headers["Content-Type"]), self.send_error(500))})
    server = http.server.HTTPServer(("127.0.0.1", 0), refusing)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    _, pfx = throw_away_certificate(tmp_path, "")
    signed = run(repo / "scripts" / "sign", "--timestamp", f"http://127.0.0.1:{server.server_port}/", pfx,
                 env={"KELDRA_DIST": str(release), "KELDRA_SIGN_PASSWORD": ""})
    server.shutdown()
    assert signed.returncode != 0 and "application/timestamp-query" in asked, shown(signed)
    assert {name: (release / name).read_bytes() for name in unsigned} == unsigned
