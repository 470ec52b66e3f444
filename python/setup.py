"""Builds the extension tamo._tamo with the project's own CMake build (the
library, the tool's command table, the Qt front end), so that the package is
compiled exactly as the tool is; the version is the project's."""

import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(Tamotool VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        build.mkdir(parents=True, exist_ok=True)
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        "-DTAMO_BUILD_TESTS=OFF", "-DTAMO_BUILD_BENCH=OFF",
                        f"-DPython3_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "tamo_python",
                        "-j", str(os.cpu_count() or 1)], check=True)
        built = next((build / "python" / "tamo").glob("_tamo*.so"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(version=project_version(), ext_modules=[Extension("tamo._tamo", sources=[])],
      cmdclass={"build_ext": CMakeBuild})
