"""What the installed package carries besides the module: type stubs, the C interface headers, and the
metadata a user looks for; and what it needs: Dask only for sigtrove.dask."""

import importlib.metadata
import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig

import pytest

import _sigtrove
import sigtrove


def test_type_stubs_are_installed():
    stub = pathlib.Path(_sigtrove.__file__).with_name("_sigtrove.pyi")
    assert stub.exists()
    assert (pathlib.Path(sigtrove.__file__).parent / "py.typed").exists()
    text = stub.read_text()
    for name in _sigtrove.__all__:
        assert name in text


def test_the_installed_package_passes_mypy_strict(tmp_path):
    """Its own code type-checks as a user's mypy --strict sees it: run from elsewhere than the source
    tree, so that it is the installed package that is checked, with its cache kept in tmp_path."""
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(tmp_path / "mypy_cache"), "-p", "sigtrove"],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert result.returncode == 0, result.stdout + result.stderr


def test_capsule_header_compiles_for_a_c_consumer(tmp_path):
    compiler = shutil.which("cc") or shutil.which("gcc")
    if compiler is None:
        pytest.skip("no C compiler")
    include = pathlib.Path(sigtrove.__file__).parent / "include"
    source = tmp_path / "consumer.c"
    source.write_text(
        '#include "sigtrove_capi.h"\n'
        "int check(void) {\n"
        "    Sigtrove_CAPI *api = (Sigtrove_CAPI *)PyCapsule_Import(SIGTROVE_CAPI_NAME, 0);\n"
        "    return api && api->version == SIGTROVE_CAPI_VERSION && api->record_ops->reopen != 0;\n"
        "}\n"
    )
    result = subprocess.run(
        [
            compiler,
            "-c",
            "-Wall",
            "-Werror",
            "-I",
            str(include),
            "-I",
            sysconfig.get_paths()["include"],
            str(source),
            "-o",
            os.devnull,
        ],
        capture_output=True,
        text=True,
    )
    assert result.returncode == 0, result.stderr


def test_the_metadata_a_user_looks_for():
    metadata = importlib.metadata.metadata("sigtrove")
    assert metadata["Requires-Python"] == ">=3.9"
    assert "License :: OSI Approved :: MIT License" in metadata.get_all("Classifier")
    assert "Programming Language :: Python :: 3" in metadata.get_all("Classifier")
    assert metadata.get_all("Project-URL")
    assert 'matplotlib>=3.5; extra == "plot"' in metadata.get_all("Requires-Dist")
    license_files = [f for f in importlib.metadata.files("sigtrove") if f.name == "LICENSE"]
    assert len(license_files) == 1
    assert "MIT License" in license_files[0].read_text() and "sigtrove developers" in license_files[0].read_text()
    (script,) = [e for e in importlib.metadata.entry_points(group="console_scripts") if e.name == "sigtrove"]
    assert script.value == "sigtrove.cli:main"


def test_dask_is_imported_only_by_sigtrove_dask():
    check = (
        "import sys, sigtrove; sigtrove.Database(sigtrove.SAMPLE_RECORD + '/..'); print('dask' in sys.modules); "
        "import sigtrove.dask; print('dask' in sys.modules)"
    )
    result = subprocess.run([sys.executable, "-c", check], capture_output=True, text=True)
    assert result.stdout.split() == ["False", "True"], result.stderr


def test_the_viewer_page_ships_with_the_package():
    assets = pathlib.Path(sigtrove.__file__).parent / "viewer" / "assets"
    assert sorted(p.name for p in assets.iterdir()) == ["favicon.svg", "index.html", "viewer.css", "viewer.js"]
    page = (assets / "index.html").read_text()
    assert '<script src="viewer.js">' in page and 'href="viewer.css"' in page


def test_the_web_server_loads_only_when_a_viewer_is_asked_for():
    check = "import sys, sigtrove; print('http.server' in sys.modules, callable(sigtrove.view))"
    result = subprocess.run([sys.executable, "-c", check], capture_output=True, text=True)
    assert result.stdout.split() == ["False", "True"], result.stderr
