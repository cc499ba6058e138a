"""mirelt with package programs: the command line that a package receives,
the log lines of each outcome, and the removal of the package and option
files whatever happened."""
import os

import pytest

from mirelt_support import closing_line


def test_a_package_program_gets_its_quoted_path_and_the_options(launcher):
    package, options = launcher.stage("setup.exe", "setup.options")
    result = launcher.run(launcher.win(package), "exe", '/S /D="C:\\Program Files\\x y"', launcher.win(options))
    assert (result.returncode, result.stdout, result.stderr) == (0, b"", b"")
    expected = '"%s" /S /D="C:\\Program Files\\x y"' % launcher.win(package)
    assert launcher.recorded(package) == expected
    assert launcher.log() == [b"Ready to install " + expected.encode()]
    assert not package.exists() and not options.exists()


def test_empty_options_start_the_bare_quoted_path_while_the_first_line_keeps_the_blank(launcher):
    package, options = launcher.stage("setup.exe", "setup.options")
    result = launcher.run(launcher.win(package), "EXE", "", launcher.win(options))
    assert result.returncode == 0
    assert launcher.recorded(package) == '"%s"' % launcher.win(package)
    assert launcher.log() == [b'Ready to install "%s" ' % launcher.win(package).encode()]


@pytest.mark.parametrize("kind", ["msi ", "msix", "ms", ""])
def test_a_kind_that_is_not_exactly_msi_starts_the_package_itself(launcher, kind):
    package, options = launcher.stage("package.exe")
    launcher.run(launcher.win(package), kind, "/qn", launcher.win(options))
    assert launcher.recorded(package) == '"%s" /qn' % launcher.win(package)
    assert launcher.log() == [b'Ready to install "%s" /qn' % launcher.win(package).encode()]


def test_a_missing_package_is_reported_with_the_trimmed_command_and_the_bare_path(launcher):
    package = launcher.root / "stage" / "missing.exe"
    options = launcher.file("stage/options.txt")
    result = launcher.run(launcher.win(package), "exe", " /a  /b ", launcher.win(options))
    assert (result.returncode, result.stdout, result.stderr) == (0, b"", b"")
    path = launcher.win(package).encode()
    assert launcher.log() == [
        b'Ready to install "%s"  /a  /b ' % path,
        b'failed to execute command: "%s"  /a  /b' % path,
        closing_line(launcher.win(package)),
    ]
    # Already gone: no removal message; the option file still goes.
    assert not options.exists()


@pytest.mark.parametrize("code, failed", [(1603, True), (1, True), (3010, False), (1641, False)])
def test_only_the_installers_failure_codes_give_the_closing_line(launcher, code, failed):
    package, options = launcher.stage()
    launcher.run(launcher.win(package), "exe", "--exit %d" % code, launcher.win(options))
    ready = b'Ready to install "%s" --exit %d' % (launcher.win(package).encode(), code)
    assert launcher.log() == [ready] + ([closing_line(launcher.win(package))] if failed else [])
    assert not package.exists() and not options.exists()


def test_three_arguments_do_nothing_at_all(launcher):
    package, options = launcher.stage()
    result = launcher.run(launcher.win(package), "exe", launcher.win(options))
    assert (result.returncode, result.stdout, result.stderr) == (0, b"", b"")
    assert launcher.recorded(package) is None
    assert package.exists() and options.exists()
    assert list(launcher.temp.iterdir()) == []


def test_a_fifth_argument_is_ignored(launcher):
    package, options = launcher.stage()
    bystander = launcher.file("stage/bystander.txt")
    result = launcher.run(launcher.win(package), "exe", "/x", launcher.win(options), launcher.win(bystander))
    assert result.returncode == 0
    assert launcher.recorded(package) == '"%s" /x' % launcher.win(package)
    assert not package.exists() and not options.exists() and bystander.exists()


def test_an_option_file_held_open_is_reported_and_the_package_still_goes(host, launcher, fixtures):
    package, options = launcher.stage()
    holder = host.spawn(fixtures / "processprobe.exe", "hold", launcher.win(options), 60000)
    try:
        assert holder.stdout.readline().strip() == b"holding"
        result = launcher.run(launcher.win(package), "exe", "", launcher.win(options))
    finally:
        holder.kill()
        holder.wait()
    assert result.returncode == 0
    assert launcher.log() == [b'Ready to install "%s" ' % launcher.win(package).encode(),
                              b"Failed to remove option file: " + launcher.win(options).encode()]
    assert not package.exists() and options.exists()


def test_a_package_path_that_names_a_directory_is_removed_with_its_contents(launcher):
    package = launcher.root / "stage" / "bundle"
    launcher.file("stage/bundle/setup.ini")
    launcher.file("stage/bundle/data/deep/payload.bin", b"\0" * 4096)
    options = launcher.file("stage/options.txt")
    launcher.run(launcher.win(package), "exe", "", launcher.win(options))
    path = launcher.win(package).encode()
    assert launcher.log() == [b'Ready to install "%s" ' % path, b'failed to execute command: "%s"' % path,
                              closing_line(launcher.win(package))]
    assert not package.exists() and not options.exists()


def test_links_inside_a_package_directory_are_not_followed_out_of_it(launcher):
    outside = launcher.root / "outside"
    launcher.file("outside/keep/kept.txt", b"kept")
    launcher.file("outside/kept-too.txt", b"kept too")
    package = launcher.root / "stage" / "bundle"
    launcher.file("stage/bundle/sub/setup.ini")
    os.symlink(outside / "keep", package / "sub" / "linked-directory", target_is_directory=True)
    os.symlink(outside / "kept-too.txt", package / "linked-file.txt")
    options = launcher.file("stage/options.txt")
    launcher.run(launcher.win(package), "exe", "", launcher.win(options))
    assert (outside / "keep" / "kept.txt").read_bytes() == b"kept"
    assert (outside / "kept-too.txt").read_bytes() == b"kept too"
    assert launcher.log()[-1] == b"Failed to remove package file: " + launcher.win(package).encode()
    assert not options.exists()


@pytest.mark.parametrize("kind", ["directory", "file", "junction"])
def test_a_package_path_that_is_a_link_is_left_as_it_is_and_so_is_what_it_names(launcher, kind):
    target = launcher.file("outside/keep/kept.txt", b"kept").parent / ("kept.txt" if kind == "file" else "")
    package = launcher.root / "stage" / "bundle"
    package.parent.mkdir(parents=True)
    if kind != "junction":
        os.symlink(target, package, target_is_directory=kind == "directory")
    elif launcher.host.kind != "windows":
        pytest.skip("Windows only: Wine (8 and 10) makes no junctions")
    else:
        assert launcher.host.run("cmd", "/c", "mklink", "/J", package, target).returncode == 0
    options = launcher.file("stage/options.txt")
    # Named through the link, not resolved to its target.
    link = launcher.win(package.parent) + "\\bundle"
    launcher.run(link, "exe", "", launcher.win(options))
    assert (launcher.root / "outside" / "keep" / "kept.txt").read_bytes() == b"kept"
    assert launcher.log()[-1] == b"Failed to remove package file: " + link.encode() and os.path.lexists(package)


def test_arguments_beyond_the_code_page_name_the_same_files_and_are_logged_losslessly(launcher):
    package, options = launcher.stage("setup-é-Ω-中.exe", "options-Ω.txt")
    launcher.run(launcher.win(package), "exe", "/name=Ж", launcher.win(options))
    assert launcher.recorded(package) == '"%s" /name=Ж' % launcher.win(package)
    assert not package.exists() and not options.exists()
    logged = launcher.win(package).encode("latin-1", "backslashreplace").replace(b"\\u03a9", b"<U+03A9>")
    logged = logged.replace(b"\\u4e2d", b"<U+4E2D>")
    assert launcher.log() == [b'Ready to install "' + logged + b'" /name=<U+0416>']
