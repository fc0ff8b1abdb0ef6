# -*- coding: utf-8 -*-
# Copyright 2026 the VX418 Management Utility developers. Not published under a licence.

from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):
    # The options every module passes on to vx418ctl.
    DOCUMENTATION = r'''
options:
  adapter:
    description:
      - The station's adapter on the units' segment, as C(vx418ctl adapters) lists it
        (an interface name such as C(eth0), its C(rpcap://) name or its description).
      - When not given, C(vx418ctl) takes it from the environment variable C(VX418_ADAPTER).
    type: str
  vx418ctl_path:
    description:
      - The C(vx418ctl) program to run; by default the one on the C(PATH) of the station.
    type: path
  timeout:
    description:
      - Seconds C(vx418ctl) waits for the units to answer a discovery, and for each read-back
        after a change (its C(--wait)).
      - A discovery ends early once every unit it looks for has answered; one that lists all
        units always takes this long.
    type: float
    default: 5
notes:
  - Runs C(vx418ctl --json) on the host, which must sit on the units' Ethernet segment
    (the units answer only there) and may capture (member of the C(vx418) group, or root).
  - One C(vx418ctl) works on an adapter at a time; another run on the same adapter waits
    for it.
requirements:
  - vx418ctl (package C(vx418)) on the host
'''
