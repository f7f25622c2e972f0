"""The Python package's build: the extension and the module come from the
project's CMake build (the same targets the release preset builds), run
for the interpreter that runs pip; the package's Python files from
python/qvdep. The wheel holds the extension, the module beside it (the
package loads it from its own folder) and the Python files."""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version() -> str:
    """The version CMakeLists.txt gives the project: one place for it."""
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(qvdep VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    """Configures and builds the package's CMake target, then copies the
    extension and the module where the wheel collects the package."""

    def build_extension(self, ext: Extension) -> None:
        build = Path(self.build_temp).resolve() / "cmake"
        cmake = os.environ.get("CMAKE_COMMAND", "cmake")
        subprocess.run([cmake, "-S", str(ROOT), "-B", str(build),
                        "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF",
                        "-DQVDEP_BENCHMARKS=OFF", "-DQVDEP_PYTHON=ON",
                        f"-DPython3_EXECUTABLE={sys.executable}"], check=True)
        jobs = str(self.parallel or os.cpu_count() or 1)
        subprocess.run([cmake, "--build", str(build), "--target", "qvdep_python_package",
                        "-j", jobs], check=True)
        built = build / "python" / "qvdep"
        target = Path(self.get_ext_fullpath(ext.name)).parent
        target.mkdir(parents=True, exist_ok=True)
        (extension,) = built.glob("_core*.so")
        shutil.copy2(extension, self.get_ext_fullpath(ext.name))
        shutil.copy2(built / "libqvdep.so", target / "libqvdep.so")


setup(
    version=project_version(),
    packages=["qvdep"],
    package_dir={"qvdep": "python/qvdep"},
    # Named so that the wheel is the platform's; CMakeBuild builds it.
    ext_modules=[Extension("qvdep._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    # Apart from the release preset's build/ folder.
    options={"build": {"build_base": "build-pip"}},
    zip_safe=False,
)
