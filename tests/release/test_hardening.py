"""Each deliverable, as the loader will see it: ASLR with high entropy, DEP,
no section both writable and executable, and in the programs stack
protection (read from the unstripped images that the build keeps) and
fortified C library calls (read from the build's own compile commands)."""
import shlex
import subprocess

import pytest

from pe_image import (IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA,
                      IMAGE_DLLCHARACTERISTICS_NX_COMPAT, IMAGE_FILE_RELOCS_STRIPPED, IMAGE_SCN_MEM_EXECUTE,
                      IMAGE_SCN_MEM_WRITE, read_pe_image)

AMD64 = 0x8664
REQUIRED_DLL_CHARACTERISTICS = {
    "HIGH_ENTROPY_VA": IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA,
    "DYNAMIC_BASE": IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE,
    "NX_COMPAT": IMAGE_DLLCHARACTERISTICS_NX_COMPAT,
}


# A copy of unknown length into a buffer of known size: fortified, the
# compiler makes it a checked call (__memcpy_chk, which ends in __chk_fail).
FORTIFY_PROBE = "#include <cstring>\nvoid probe(char* to, const char* from, unsigned long long n) " \
                "{ char buffer[16]; std::memcpy(buffer, from, n); std::memcpy(to, buffer, sizeof buffer); }\n"


def compile_commands(build, target):
    """Every compilation of a source file that goes into the target, as argument lists."""
    listing = subprocess.run(["ninja", "-C", str(build), "-t", "commands", target],
                             capture_output=True, text=True, check=True).stdout
    return [words for words in map(shlex.split, listing.splitlines()) if "-c" in words]


def fortified_assembly(command):
    """The probe compiled with one of the target's own compile commands."""
    words, skip = [], 0
    for word in command:
        if skip or word in ("-MD", "-MT", "-MF", "-o", "-c"):
            skip = 0 if skip else int(word != "-MD")
            continue
        words.append(word)
    return subprocess.run(words + ["-x", "c++", "-S", "-o", "-", "-"], input=FORTIFY_PROBE,
                          capture_output=True, text=True, check=True).stdout


def defined_functions(image):
    listing = subprocess.run(["x86_64-w64-mingw32-nm", "--defined-only", str(image)],
                             capture_output=True, text=True, check=True).stdout
    return {line.split()[-1] for line in listing.splitlines() if line.split()[1:2] == ["T"]}


@pytest.mark.parametrize("name,has_code", [
    ("keldraagent.exe", True),
    ("mirelt.exe", True),
    ("vossevent.dll", False),  # a message table only
])
def test_deliverable_is_hardened(dist, build_root, name, has_code):
    image = read_pe_image((dist / name).read_bytes())
    found = f"{name}: {image}"

    assert image.machine == AMD64, found
    missing = [flag for flag, bit in REQUIRED_DLL_CHARACTERISTICS.items() if not image.dll_characteristics & bit]
    assert not missing, f"{found}: missing {missing}"
    # ASLR needs the image to be movable, and high entropy an image base
    # above 4 GiB.
    assert not image.characteristics & IMAGE_FILE_RELOCS_STRIPPED, found
    assert image.image_base >= 1 << 32, found
    if has_code:
        assert image.base_relocation_size > 0, found
    writable_and_executable = [s.name for s in image.sections
                               if s.characteristics & IMAGE_SCN_MEM_WRITE and s.characteristics & IMAGE_SCN_MEM_EXECUTE]
    assert not writable_and_executable, f"{found}: writable and executable: {writable_and_executable}"

    if has_code:
        functions = defined_functions(build_root / "windows" / "unstripped" / name)
        assert "__stack_chk_fail" in functions, f"{name}: no stack protection linked in"
        # GCC 14 with mingw-w64 12 leaves no checked call in the programs
        # (GCC 12 with mingw-w64 10 left __memcpy_chk), so the compile
        # commands tell: each with _FORTIFY_SOURCE, and one of them, given
        # the probe, makes checked calls with this toolchain.
        commands = compile_commands(build_root / "windows", {"keldraagent.exe": "agent/keldraagent.exe",
                                                             "mirelt.exe": "launcher/mirelt.exe"}[name])
        unfortified = [c[-1] for c in commands if not any(w.startswith("-D_FORTIFY_SOURCE=") for w in c)]
        assert commands and not unfortified, f"{name}: compiled without _FORTIFY_SOURCE: {unfortified}"
        assert "__memcpy_chk" in fortified_assembly(commands[-1]), f"{name}: its compile commands fortify nothing"
