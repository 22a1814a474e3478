"""The program the module is compared with: KESTRELIX_PROGRAM (ctest sets it
and PYTHONPATH to the build's module)."""
import json
import os
import subprocess

import numpy as np
import pytest


@pytest.fixture(scope="session")
def program():
    path = os.environ.get("KESTRELIX_PROGRAM")
    if not path:
        pytest.skip("KESTRELIX_PROGRAM names no program (ctest sets it)")
    return path


@pytest.fixture(scope="session")
def run(program):
    """run(args) -> the JSON document of `kestrelix ARGS --format json`."""

    def call(args, check=True):
        r = subprocess.run([program] + args + ["--format", "json"], capture_output=True,
                           text=True, timeout=60)
        if check:
            assert r.returncode == 0, r.stderr
            return json.loads(r.stdout)
        return r

    return call


def same_floats(python, program):
    """The module's values are the program's 32-bit numbers (JSON prints the
    shortest text of each float; null is a value that does not exist)."""
    program = np.array([np.nan if v is None else v for v in program], dtype=np.float32)
    python = np.asarray(python, dtype=np.float32).ravel()
    return np.array_equal(python, program, equal_nan=True)
