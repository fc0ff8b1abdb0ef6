#!/usr/bin/env python3
"""Checks vx418ctl's JSON documents against its schema (docs/vx418ctl.schema.json).

Usage: validate_documents.py SCHEMA DOCUMENTS, where DOCUMENTS is a JSON list of
[label, document] pairs. Prints each violation with its label; exits 1 when there is any.
"""
import json
import sys

import jsonschema

with open(sys.argv[1], encoding="utf-8") as f:
    schema = json.load(f)
jsonschema.Draft7Validator.check_schema(schema)
validator = jsonschema.Draft7Validator(schema)
with open(sys.argv[2], encoding="utf-8") as f:
    documents = json.load(f)
failures = 0
for label, document in documents:
    for error in validator.iter_errors(document):
        path = "/".join(str(p) for p in error.absolute_path)
        print(f"{label}: {error.message} (at /{path})")
        failures += 1
print(f"{len(documents)} documents, {failures} violations")
sys.exit(1 if failures else 0)
