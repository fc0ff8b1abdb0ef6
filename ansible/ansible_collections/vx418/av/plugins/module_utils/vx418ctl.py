# -*- coding: utf-8 -*-
# Copyright 2026 the VX418 Management Utility developers. Not published under a licence.
"""Runs vx418ctl on the station and reads the one JSON document it prints."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json

VX418CTL_OPTIONS = dict(
    adapter=dict(type='str'),
    vx418ctl_path=dict(type='path'),
    timeout=dict(type='float', default=5.0),
)


class Vx418ctl(object):
    """vx418ctl with the module's adapter, program and timeout."""

    def __init__(self, module):
        self.module = module
        params = module.params
        self.path = params['vx418ctl_path'] or module.get_bin_path('vx418ctl', required=True)
        self.options = ['--wait', str(max(1, int(round(params['timeout'] * 1000))))]
        if params['adapter']:
            self.options += ['-i', params['adapter']]

    def run(self, command, args=(), ok=(0,)):
        """The exit status and document of `vx418ctl --json COMMAND ARGS...`.

        A status outside ok fails the module with vx418ctl's message, its details when it gives
        them, and its status as rc.
        """
        cmd = [self.path, '--json', command] + list(args) + self.options
        rc, out, err = self.module.run_command(cmd)
        try:
            document = json.loads(out)
        except ValueError:
            self.module.fail_json(msg='vx418ctl printed no JSON document: %s'
                                  % (err.strip() or out.strip() or 'no output'),
                                  rc=rc, cmd=cmd, stderr=err)
        if rc not in ok:
            result = dict((key, document[key]) for key in
                          ('plan', 'requests_sent', 'missing', 'matched') if key in document)
            if 'requests_sent' in document:  # apply stopped half-way: what it sent, it changed
                result['changed'] = document['requests_sent'] > 0
            error = document.get('error') or {}
            if 'details' in error:
                result['details'] = error['details']
            self.module.fail_json(msg=error.get('message') or err.strip() or 'vx418ctl failed',
                                  rc=rc, cmd=cmd, stderr=err, **result)
        return rc, document
