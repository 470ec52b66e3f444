"""Helpers shared by the bench/peers_*.py scripts."""
import os
import subprocess
import sys

# The peers (NumPy, SciPy, OpenCV) come from the system's packages
# (scripts/setup bench); another python3 on PATH may not see them.
SYSTEM_PYTHON = "/usr/bin/python3"


def rerun_with_system_python(script, build_dir, missing_message):
    """Runs `script` again under the system's interpreter, where the peers are
    installed, and ends this process when that fails; ends with
    `missing_message` when there is no other interpreter to try."""
    if os.path.exists(SYSTEM_PYTHON) and os.path.realpath(sys.executable) != os.path.realpath(
            SYSTEM_PYTHON):
        status = subprocess.run([SYSTEM_PYTHON, script, str(build_dir)]).returncode
        if status:
            sys.exit(status)
        return
    sys.exit(missing_message)
