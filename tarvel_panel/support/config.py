"""The workflow config checked against workflow/schemas/config.schema.yaml: a key the
schema does not know, or a value of the wrong type, becomes one line naming
the key (and, for an unknown key, every known one). Values that mean the
same are written one way first (20.0 as 20, "A, B,A" as "A,B"), so that the
settings record does not take them for a change."""
import difflib
import json
import math
import os

import jsonschema
import yaml

from tarvel_panel import REPO
from tarvel_panel.errors import InputError
from tarvel_panel.panel.founder_names import eight_names, founder_names

# the one place the defaults are written
DEFAULTS = os.path.join(REPO, "config", "config.yaml")


_TYPE_WORDS = {"string": "text", "integer": "a whole number", "number": "a number",
               "boolean": "true or false", "array": "a list", "object": "a mapping"}


def defaults():
    """Every key's default, as config/config.yaml holds it."""
    with open(DEFAULTS) as f:
        return yaml.safe_load(f)


def with_defaults(config):
    """`config` completed with the default of every key it does not set."""
    return {**defaults(), **config}


def read_schema(path):
    with open(path) as f:
        return yaml.safe_load(f)


_TRUE, _FALSE = ("true", "yes", "on", "1"), ("false", "no", "off", "0")
# subsets of names, where a name given twice or with spaces around it means the same
SUBSETS = ("chromosomes", "strains")


def normalise(config, schema):
    """Values as --config gives them, in place: `key=` (None) as empty text
    where text is allowed, "true"/"false" (yes/no, on/off, 1/0) as booleans
    where a boolean is wanted, a whole number written 20.0 as 20 where a
    whole number is wanted, and a subset's names each once."""
    for key, value in config.items():
        prop = _resolved(schema, schema["properties"].get(key, {}))
        types = prop.get("type", [])
        types = types if isinstance(types, list) else [types]
        if value is None and "string" in types:
            config[key] = ""
        elif "boolean" in types and not isinstance(value, bool) and str(value).lower() in _TRUE + _FALSE:
            config[key] = str(value).lower() in _TRUE
        elif types == ["integer"] and isinstance(value, float) and value.is_integer():
            config[key] = int(value)
        elif key in SUBSETS:
            config[key] = _each_once(value)


def _each_once(value):
    """A subset's names (comma-separated text or a list) without repeats or
    the spaces around them, in the order given."""
    if isinstance(value, str):
        return ",".join(dict.fromkeys(n.strip() for n in value.split(",") if n.strip()))
    if isinstance(value, list):
        kept = {str(v).strip(): v for v in reversed(value) if str(v).strip()}
        return [kept[k] for k in dict.fromkeys(str(v).strip() for v in value if str(v).strip())]
    return value


def _resolved(schema, prop):
    ref = prop.get("$ref", "")
    if ref.startswith("#/definitions/"):
        return schema["definitions"][ref[len("#/definitions/"):]]
    return prop


def check_config(config, schema):
    """Raises InputError on the first fault of `config` (normalised first)."""
    normalise(config, schema)
    known = sorted(schema["properties"])
    for key in sorted(config):
        if key not in schema["properties"]:
            close = difflib.get_close_matches(key, known, n=1)
            hint = f" (did you mean {close[0]}?)" if close else ""
            raise InputError(f"config {key}", f"unknown key{hint}; the known keys are {', '.join(known)}")
    errors = sorted(jsonschema.Draft7Validator(schema).iter_errors(config), key=lambda e: list(e.path))
    if errors:
        raise InputError(f"config {'.'.join(str(p) for p in errors[0].path)}", _describe(errors[0]))
    for key in sorted(config):
        if isinstance(config[key], float) and not math.isfinite(config[key]):
            raise InputError(f"config {key}", f"{config[key]} is not a finite number")
    founder_names(config)
    eight_names(config.get("founders"), "founders")


def _describe(error):
    value = error.instance
    shown = json.dumps(value) if not isinstance(value, str) else repr(value)
    if error.validator == "type":
        wanted = error.validator_value if isinstance(error.validator_value, list) else [error.validator_value]
        return f"{shown} is not {' or '.join(_TYPE_WORDS.get(w, w) for w in wanted)}"
    if error.validator == "enum":
        return f"{shown} is not one of {', '.join(str(v) for v in error.validator_value)}"
    if error.validator == "minLength":
        return "must not be empty"
    if error.validator in ("minimum", "maximum"):
        side = "below the least" if error.validator == "minimum" else "above the largest"
        return f"{shown} is {side} allowed value, {error.validator_value}"
    return error.message


def running_keys(schema):
    """Keys that only steer running (x-running in the schema)."""
    return {k for k, v in schema["properties"].items() if v.get("x-running")}


def panel_config(config, schema):
    """The keys that shape the panel, as the text recorded in OUT/config.json."""
    running = running_keys(schema)
    return json.dumps({k: v for k, v in sorted(config.items()) if k not in running}, sort_keys=True) + "\n"
