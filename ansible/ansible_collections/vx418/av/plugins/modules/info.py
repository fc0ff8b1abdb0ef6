# -*- coding: utf-8 -*-
# Copyright 2026 the VX418 Management Utility developers. Not published under a licence.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: info
short_description: The VX418 units on the host's segment, their topology and what is wrong
description:
  - Discovers the VX418 units on the host's segment with C(vx418ctl discover) and checks them
    with C(vx418ctl check), both run on the host. Sends nothing but discovery broadcasts and
    changes nothing.
  - Errors among the findings (shared or unusable addresses) do not fail the module; test
    I(error_count) to make them fail a play.
author: VX418 Management Utility developers (@vx418)
extends_documentation_fragment: vx418.av.vx418ctl
attributes:
  check_mode:
    description: Discovers as in a normal run; nothing is changed either way.
    support: full
  diff_mode:
    description: Nothing changes, so there is nothing to compare.
    support: none
seealso:
  - module: vx418.av.installation
'''

EXAMPLES = r'''
- name: Find the units
  vx418.av.info:
    adapter: eth1
    timeout: 2
  register: vx418

- name: Stop on shared or unusable addresses
  ansible.builtin.assert:
    that: vx418.error_count == 0
    fail_msg: "{{ vx418.findings | selectattr('severity', '==', 'error') | map(attribute='message') }}"

- name: Each Transmitter and the Receivers it feeds
  ansible.builtin.debug:
    msg: "{{ item.name }}: {{ item.receivers | map(attribute='name') | join(', ') }}"
  loop: "{{ vx418.topology.transmitters }}"
'''

RETURN = r'''
adapter:
  description: The adapter as given.
  returned: success
  type: str
  sample: eth1
answered:
  description: How many units answered.
  returned: success
  type: int
  sample: 9
units:
  description:
    - Every unit that answered with every field of its record, as C(vx418ctl discover --json)
      gives them (C(name), C(label), C(kind), C(mode), C(ip), C(mac), C(t1_mac), ...).
  returned: success
  type: list
  elements: dict
  sample:
    - {name: FOYER, kind: receiver, mode: null, ip: 198.18.1.21, mac: '02:18:00:00:02:01',
       t1_mac: '02:18:00:00:01:01'}
topology:
  description: Each Transmitter with the Receivers it feeds or holds, and the free Receivers.
  returned: success
  type: dict
  sample:
    transmitters:
      - {mac: '02:18:00:00:01:01', name: HALL, mode: multicast,
         receivers: [{mac: '02:18:00:00:02:01', slot: main, name: FOYER, answered: true}]}
    free: [{mac: '02:18:00:00:02:05', name: SPARE1}]
findings:
  description:
    - One entry per problem, errors first. C(code) is one of C(address-shared),
      C(address-station), C(address-unusable) (errors), C(name-shared),
      C(address-outside-subnet), C(link-unanswered), C(main-link-disagrees), C(kind-unknown),
      C(mode-unknown) (warnings).
  returned: success
  type: list
  elements: dict
  sample:
    - {code: address-shared, severity: error, units: ['02:18:00:00:05:01', '02:18:00:00:05:02'],
       message: 198.18.0.251 is used by 2 units.}
error_count:
  description: How many findings are errors.
  returned: success
  type: int
  sample: 1
warning_count:
  description: How many findings are warnings.
  returned: success
  type: int
  sample: 0
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vx418.av.plugins.module_utils.vx418ctl import (
    VX418CTL_OPTIONS, Vx418ctl)


def main():
    module = AnsibleModule(argument_spec=dict(VX418CTL_OPTIONS), supports_check_mode=True)
    ctl = Vx418ctl(module)
    found = ctl.run('discover')[1]
    checked = ctl.run('check', ok=(0, 1))[1]  # 1: the findings include errors
    module.exit_json(changed=False, adapter=found.get('adapter'), answered=found.get('answered'),
                     units=found.get('units'), topology=found.get('topology'),
                     findings=checked.get('findings'), error_count=checked.get('errors'),
                     warning_count=checked.get('warnings'))


if __name__ == '__main__':
    main()
