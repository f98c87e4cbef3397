"""Builds the compiled module kestrix._kestrix with this CMake project (the one
build description; see pyproject.toml) and takes the version from it."""

import os
import re
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version():
    """project(VERSION) of CMakeLists.txt: the one place the version is set."""
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(Kestrix VERSION ([0-9.]+)", text).group(1)


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    """Configures the project for this interpreter, builds the module's target
    and installs the project's python component into the wheel's tree."""

    def build_extension(self, ext):
        package_root = Path(self.get_ext_fullpath(ext.name)).resolve().parents[1]
        build_dir = Path(self.build_temp).resolve() / "cmake"
        configure = ["cmake", "-S", str(ROOT), "-B", str(build_dir), "-G", "Ninja",
                     "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DKESTRIX_PYTHON=ON",
                     "-DKESTRIX_BUILD_TESTS=OFF", "-DKESTRIX_BUILD_BENCH=OFF",
                     f"-DPython3_EXECUTABLE={sys.executable}", "-DKESTRIX_PYTHON_INSTALL_DIR=."]
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "_kestrix", "-j", jobs], check=True)
        subprocess.run(["cmake", "--install", str(build_dir), "--component", "python", "--strip",
                        "--prefix", str(package_root)], check=True)


setup(version=project_version(),
      ext_modules=[CMakeExtension("kestrix._kestrix")],
      cmdclass={"build_ext": CMakeBuild})
