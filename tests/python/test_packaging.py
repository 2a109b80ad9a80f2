"""What the installed package carries besides the module: type stubs and the C interface headers;
and what it needs: Dask only for sigtrove.dask."""

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
        "}\n")
    result = subprocess.run(
        [compiler, "-c", "-Wall", "-Werror", "-I", str(include), "-I", sysconfig.get_paths()["include"],
         str(source), "-o", os.devnull], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr


def test_dask_is_imported_only_by_sigtrove_dask():
    check = ("import sys, sigtrove; sigtrove.Database(sigtrove.SAMPLE_RECORD + '/..'); print('dask' in sys.modules); "
             "import sigtrove.dask; print('dask' in sys.modules)")
    result = subprocess.run([sys.executable, "-c", check], capture_output=True, text=True)
    assert result.stdout.split() == ["False", "True"], result.stderr
