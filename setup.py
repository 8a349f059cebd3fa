"""How pip builds the Python module kelto (pyproject.toml names setuptools as the backend).

CMake builds the target kelto_python of this source tree for the interpreter that runs pip
(sys.executable), with the program's optimisation so that the module gives the program's numbers
to the last digit; the wheel holds the module and, under PREFIX/share/kelto, the coefficient table
and the crystals that come with kelto, where the module looks for them (PREFIX/lib/python3.X/
site-packages/../../..). Where the README's build folder build/ of this tree was configured with
-DKELTO_PYTHON=ON for the interpreter behind pip's (a virtual environment's base), unsanitised and
optimised (Release), pip builds the module there, on the library already compiled; otherwise the
builds go into build-pip/ of the tree, one CMake folder for each kind of interpreter, so that a
second pip install rebuilds only what changed.
"""
import os
import re
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = os.path.dirname(os.path.abspath(__file__))
BUILDS = "build-pip"  # beside the README's CMake folder build/, never inside it


def version():
    with open(os.path.join(SOURCE, "CMakeLists.txt")) as f:
        return re.search(r"project\(kelto VERSION ([0-9.]+)", f.read()).group(1)


def shipped_data():
    """The table and the crystals, as (folder under the prefix, files) for the wheel's data."""
    crystals = sorted(os.path.join("data", "crystals", name) for name in os.listdir(os.path.join(SOURCE, "data", "crystals"))
                      if name.endswith(".cif"))
    return [("share/kelto", ["data/f0_it1992.txt"]), ("share/kelto/crystals", crystals)]


def cache_entries(folder):
    """The entries of a CMake folder's cache, as a dict of name to value; empty where it has none."""
    entries = {}
    try:
        with open(os.path.join(folder, "CMakeCache.txt")) as f:
            for line in f:
                match = re.match(r"([A-Za-z_0-9]+):[A-Z]+=(.*)$", line.rstrip("\n"))
                if match:
                    entries[match.group(1)] = match.group(2)
    except OSError:
        pass
    return entries


def reusable_build():
    """The README's build folder build/ when it builds this tree's module for this interpreter as pip
    would (unsanitised, optimised alike), else None."""
    folder = os.path.join(SOURCE, "build")
    cache = cache_entries(folder)
    interpreter = getattr(sys, "_base_executable", None) or sys.executable
    same = (cache.get("CMAKE_HOME_DIRECTORY") == SOURCE and cache.get("KELTO_PYTHON") == "ON"
            and cache.get("KELTO_SANITIZE") == "OFF" and cache.get("CMAKE_BUILD_TYPE") == "Release"
            and os.path.realpath(cache.get("_Python3_EXECUTABLE", "")) == os.path.realpath(interpreter))
    return folder if same else None


class CMakeBuild(build_ext):
    """Builds the extension kelto with CMake instead of compiling sources itself."""

    def build_extension(self, ext):
        cmake = shutil.which("cmake")
        if cmake is None:
            raise RuntimeError("building kelto needs CMake 3.25 or later (Debian: cmake; tools/install-deps installs "
                               "what the build needs)")
        suffix = sysconfig.get_config_var("EXT_SUFFIX")
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        folder = reusable_build()
        if folder:
            print(f"kelto: building the module in {folder}, on the library built there", flush=True)
        else:
            folder = os.path.join(SOURCE, BUILDS, "cmake" + os.path.splitext(suffix)[0].replace(".", "-"))
            arguments = [
                "-DKELTO_PYTHON=ON", "-DKELTO_BUILD_TESTS=OFF", f"-DPython3_EXECUTABLE={sys.executable}",
                # The program's optimisation (-O2, no fused multiply-add) without debugging data.
                "-DCMAKE_BUILD_TYPE=Release",
            ]
            try:  # pybind11 from the index (an isolated build), else Debian's pybind11-dev
                import pybind11
                arguments.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
            except ImportError:
                pass
            subprocess.run([cmake, "-S", SOURCE, "-B", folder, *arguments], check=True)
        subprocess.run([cmake, "--build", folder, "--target", "kelto_python", "--parallel", jobs], check=True)
        built = os.path.join(folder, "python", "kelto" + suffix)
        if not os.path.isfile(built):
            raise RuntimeError(f"CMake built no {built}: the module is not for this interpreter ({sys.executable})")
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built, target)


os.makedirs(os.path.join(SOURCE, BUILDS), exist_ok=True)
setup(
    version=version(),
    ext_modules=[Extension("kelto", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    packages=[],
    py_modules=[],
    data_files=shipped_data(),
    options={"build": {"build_base": os.path.join(BUILDS, "setuptools")}, "egg_info": {"egg_base": BUILDS}},
)
