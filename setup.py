"""The extension for `pip install .` and `python3 -m build --wheel`, built by
the project's own CMake build in a folder of its own, with only what the
module needs, and copied where setuptools packs it. Everything setuptools
makes on the way goes to a temporary folder too, so that the source tree and
its build/ stay as they were."""

import atexit
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent
SCRATCH = tempfile.mkdtemp(prefix="tplforge-setup-")
atexit.register(shutil.rmtree, SCRATCH, ignore_errors=True)


def version():
    """The one version number, CMake's."""
    found = re.search(r"project\(tplforge VERSION (\d+\.\d+\.\d+)", (ROOT / "CMakeLists.txt").read_text())
    if not found:
        sys.exit("setup.py: no project(tplforge VERSION x.y.z) in CMakeLists.txt")
    return found.group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = pathlib.Path(self.get_ext_fullpath(ext.name)).resolve()
        build = pathlib.Path(SCRATCH) / "cmake"
        configure = ["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                     "-DTPLFORGE_PYTHON=ON", "-DTPLFORGE_GUI=OFF", "-DBUILD_TESTING=OFF",
                     f"-DPython3_EXECUTABLE={sys.executable}"]
        if shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        # CMAKE_BUILD_PARALLEL_LEVEL, when set, says how many compilers run at once.
        subprocess.run(["cmake", "--build", str(build), "--target", "tplforge_python"], check=True)
        built = sorted((build / "python" / "tplforge").glob("_tplforge*.so"))
        if len(built) != 1:
            sys.exit(f"setup.py: the build made {len(built)} modules, not one: {built}")
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built[0], target)
        shutil.copymode(built[0], target)


setup(
    version=version(),
    ext_modules=[Extension("tplforge._tplforge", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": os.path.join(SCRATCH, "setuptools")},
             "egg_info": {"egg_base": SCRATCH}},
)
