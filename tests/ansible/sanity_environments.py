#!/usr/bin/python3
"""Makes ansible-test's sanity environments from Debian's packages, so that it runs offline.

ansible-test sanity runs each test that needs packages (pylint, yamllint, voluptuous, ...) in a
virtual environment of its own, filled by pip from the package index, which CI does not reach.
This makes each of them under the name ansible-test looks for, on this Python with the system's
packages (scripts/install-deps), and marks it ready. Run it in the collection's folder.
"""
import json
import pathlib
import subprocess
import sys

from ansible_test._internal.commands.sanity import hash_pip_commands
from ansible_test._internal.host_configs import NativePythonConfig
from ansible_test._internal.python_requirements import collect_requirements

PYTHON = NativePythonConfig(version='%d.%d' % sys.version_info[:2], path=sys.executable)

for name in ('ansible-doc', 'changelog', 'import', 'import.plugin', 'pep8', 'pylint',
             'runtime-metadata', 'validate-modules', 'yamllint'):
    # The import test's own environments are minimal ones (the name says which).
    commands = collect_requirements(python=PYTHON, controller=True, ansible=False,
                                    cryptography=False, coverage=False, virtualenv=False,
                                    minimize=name.startswith('import.'), command=None,
                                    sanity=name)
    path = pathlib.Path.home() / '.ansible/test/venv' / ('sanity.' + name) / PYTHON.version \
        / hash_pip_commands(commands)
    if not commands or (path / 'marker.txt').exists():
        continue  # ansible-test makes one without packages itself
    subprocess.run([PYTHON.path, '-m', 'venv', '--without-pip', '--system-site-packages',
                    str(path)], check=True)
    (path / 'meta.install.json').write_text(
        json.dumps([command.serialize() for command in commands], indent=4))
    (path / 'meta.yaml.json').write_text('true')  # Debian's PyYAML has libyaml
    (path / 'marker.txt').touch()
