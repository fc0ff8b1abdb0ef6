# -*- coding: utf-8 -*-
# Copyright 2026 the VX418 Management Utility developers. Not published under a licence.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: installation
short_description: Make VX418 units match an installation
description:
  - Makes the VX418 units on the host's segment match the desired installation, with
    C(vx418ctl apply) run on the host. Each change counts only once the addressed unit has
    answered it and a read-back shows it.
  - The installation is the format of C(vx418ctl export) (format 1, kind C(vx418-installation))
    with its units keyed by MAC, each with the fields the unit itself reports; C(name), C(ip),
    C(kind) and, for a Transmitter, C(mode) and its Receivers (C(receivers) in multicast, its
    slots C(main), C(backup1), C(backup2) in unicast), for a Receiver its own link
    C(transmitter). Units left out are not touched unless a change of a listed unit needs it
    (a Receiver moved away from another Transmitter).
  - Idempotent. C(changed) only when requests were sent; a second run sends none.
  - In check mode nothing is sent; the result says what would change.
  - In diff mode (C(vx418ctl diff)) each listed unit that changes shows the fields that
    differ, before (as the unit reports them) and after (as the installation has them).
  - Fails, with C(vx418ctl)'s message and exit status as C(rc), when the installation cannot be
    applied (an invalid file, an address circle), a unit refused or did not answer a change,
    or a listed unit did not answer the discovery (the rest is applied then).
author: VX418 Management Utility developers (@vx418)
extends_documentation_fragment: vx418.av.vx418ctl
options:
  src:
    description:
      - An installation file on the host, as C(vx418ctl export -o) writes it.
      - Exactly one of I(src) and I(units) is needed.
    type: path
  units:
    description:
      - The installation's C(units) inline, keyed by MAC address in any spelling; all units of
        the segment or any of them.
      - A file on the controller gives them with the C(file) lookup and the C(from_json)
        filter (see the examples).
    type: dict
attributes:
  check_mode:
    description: Plans with C(vx418ctl apply --dry-run) and sends nothing.
    support: full
  diff_mode:
    description: Each listed unit that changes, its differing fields before and after.
    support: full
seealso:
  - module: vx418.av.info
'''

EXAMPLES = r'''
- name: Restore the site from its file on the station
  vx418.av.installation:
    src: /srv/vx418/hall.json
    adapter: eth1

- name: Apply the file kept beside the playbook, with vx418ctl from /opt
  vx418.av.installation:
    units: "{{ (lookup('ansible.builtin.file', 'sites/' ~ inventory_hostname ~ '.json') | from_json).units }}"
    adapter: "{{ vx418_adapter }}"
    vx418ctl_path: /opt/vx418/bin/vx418ctl

- name: Two units only; the others stay as they are
  vx418.av.installation:
    adapter: eth1
    units:
      '02:18:00:00:02:05':
        name: LOBBY
        ip: 198.18.1.25
        kind: receiver
        transmitter: '02:18:00:00:01:01'
      '02:18:00:00:01:01':
        name: HALL
        ip: 198.18.1.11
        kind: transmitter
        mode: multicast
        receivers: ['02:18:00:00:02:01', '02:18:00:00:02:05']
'''

RETURN = r'''
plan:
  description: The changes, in order, as C(vx418ctl apply) planned and carried them out.
  returned: always
  type: list
  elements: dict
  sample:
    - {op: rename, unit: '02:18:00:00:02:05', value: LOBBY, result: confirmed}
    - {op: attach, unit: '02:18:00:00:01:01', receiver: '02:18:00:00:02:05', slot: main,
       result: confirmed}
requests_sent:
  description: Requests sent to the units; 0 in check mode and when nothing differed.
  returned: always
  type: int
  sample: 2
matched:
  description:
    - Whether the read-back of every listed unit matched the installation; null in check mode
      and when nothing was sent.
  returned: always
  type: bool
  sample: true
missing:
  description: Listed units that did not answer the discovery.
  returned: always
  type: list
  elements: dict
  sample: [{mac: '02:18:00:00:09:09', name: GONE}]
rc:
  description: The exit status of C(vx418ctl) (on failure).
  returned: failed
  type: int
  sample: 5
details:
  description: What C(vx418ctl) adds to its message about a failure, when it says more.
  returned: when vx418ctl gives them
  type: list
'''

import json
import os
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vx418.av.plugins.module_utils.vx418ctl import (
    VX418CTL_OPTIONS, Vx418ctl)


def _diffs(differences):
    """Per unit, the fields that differ: before as the unit reports them, after as the file."""
    units = {}
    for d in differences:
        unit = units.setdefault(d['mac'], dict(name=d['name'], before={}, after={}))
        unit['before'][d['field']] = d['unit']
        unit['after'][d['field']] = d['file']
    return [dict(before_header='%s %s (as it answered)' % (mac, unit['name']),
                 after_header='%s %s (as the installation has it)' % (mac, unit['name']),
                 before=json.dumps(unit['before'], indent=2, sort_keys=True) + '\n',
                 after=json.dumps(unit['after'], indent=2, sort_keys=True) + '\n')
            for mac, unit in sorted(units.items())]


def main():
    options = dict(src=dict(type='path'), units=dict(type='dict'))
    options.update(VX418CTL_OPTIONS)
    module = AnsibleModule(argument_spec=options,
                           mutually_exclusive=[('src', 'units')],
                           required_one_of=[('src', 'units')],
                           supports_check_mode=True)
    ctl = Vx418ctl(module)
    path = module.params['src']
    if module.params['units'] is not None:
        handle, path = tempfile.mkstemp(prefix='vx418-', suffix='.json', dir=module.tmpdir)
        with os.fdopen(handle, 'w') as f:
            json.dump({'format': 1, 'kind': 'vx418-installation',
                       'units': module.params['units']}, f)
    try:
        # Before: the fields where the units differ from the file (status 1 when any do).
        differences = ctl.run('diff', [path], ok=(0, 1))[1]['differences'] if module._diff else []
        applied = ctl.run('apply', [path] + (['--dry-run'] if module.check_mode else []))[1]
    finally:
        if module.params['units'] is not None:
            os.remove(path)
    plan = applied.get('plan') or []
    sent = applied.get('requests_sent') or 0
    result = dict(changed=bool(plan) if module.check_mode else sent > 0, plan=plan,
                  requests_sent=sent, matched=applied.get('matched'),
                  missing=applied.get('missing') or [])
    if differences and result['changed']:
        result['diff'] = _diffs(differences)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
