"""Each deliverable, as the loader will see it: ASLR with high entropy, DEP,
no section both writable and executable, and in the programs stack
protection and fortified C library calls (read from the unstripped images
that the build keeps)."""
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
        fortified = sorted(f for f in functions if f.startswith("__") and f.endswith("_chk")
                           and not f.startswith("__stack_chk"))
        assert fortified, f"{name}: no fortified C library call linked in"
