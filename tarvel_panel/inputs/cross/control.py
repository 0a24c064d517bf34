"""A control file's text as data (YAML or JSON), bounded: YAML aliases that
multiply a few lines into millions of values, lists nested thousands deep or
numbers of thousands of digits are refused in one line, before anything
expands them (limits.py)."""
import json

import yaml

from tarvel_panel.errors import InputError
from tarvel_panel.inputs import limits


class _Refused(Exception):
    def __init__(self, message, line):
        super().__init__(message)
        self.line = line


class _BoundedLoader(yaml.SafeLoader):
    """PyYAML's safe loader, counting as it composes: the nodes nested at
    once, and the values of every node with the aliases in it expanded (an
    alias shares its anchor's node, so the count costs one step per node)."""

    def __init__(self, stream):
        super().__init__(stream)
        self._depth = 0
        self._values = {}   # id(node) -> its values, aliases expanded

    def compose_node(self, parent, index):
        event = self.peek_event()
        if isinstance(event, yaml.AliasEvent):
            node = super().compose_node(parent, index)
            values = self._values.get(id(node), 1)   # an anchor its own alias names counts once
        else:
            node = self._nested(parent, index, isinstance(event, yaml.CollectionStartEvent))
            values = self._count(node)
        if values > limits.CONTROL_VALUES:
            raise _Refused(f"its aliases expand to more than {limits.CONTROL_VALUES:,} values, more than a "
                           "control file is read to", event.start_mark.line + 1)
        return node

    def _nested(self, parent, index, collection):
        self._depth += collection
        if self._depth > limits.CONTROL_NESTING:
            raise _Refused(_too_deep(), self.peek_event().start_mark.line + 1)
        try:
            return super().compose_node(parent, index)
        finally:
            self._depth -= collection

    def _count(self, node):
        if isinstance(node, yaml.SequenceNode):
            children = node.value
        elif isinstance(node, yaml.MappingNode):
            children = [n for pair in node.value for n in pair]
        else:
            children = []
        self._values[id(node)] = 1 + sum(self._values.get(id(c), 1) for c in children)
        return self._values[id(node)]


def parse_control(text, name):
    """The data of the control file `name` holding `text`."""
    try:
        if name.lower().endswith(".json"):
            data = _json(text)
        else:
            data = yaml.load(text, Loader=_BoundedLoader)
    except _Refused as e:
        raise InputError(name, str(e), e.line)
    except json.JSONDecodeError as e:
        raise InputError(name, f"not valid JSON: {e.msg}", e.lineno)
    except yaml.YAMLError as e:
        mark = getattr(e, "problem_mark", None)
        problem = getattr(e, "problem", None) or str(e)
        raise InputError(name, f"not valid YAML: {problem}", mark.line + 1 if mark else None)
    except ValueError as e:   # a date such as 2001-13-45, a number of more digits than Python converts
        raise InputError(name, f"holds a value that cannot be read ({_first_clause(e)})")
    return data


def _first_clause(error):
    """The error's text without advice meant for a Python programmer."""
    return str(error).split(";")[0]


def _json(text):
    try:
        data = json.loads(text)
    except RecursionError:
        data = None
    else:
        if _depth(data) <= limits.CONTROL_NESTING:
            return data
    raise _Refused(_too_deep(), _deep_line(text))


def _too_deep():
    return f"lists or mappings nested more than {limits.CONTROL_NESTING} deep, deeper than a control file is read to"


def _depth(data):
    """How deeply lists and mappings nest in `data` (without recursion)."""
    deepest, stack = 0, [(data, 1)]
    while stack:
        value, depth = stack.pop()
        children = value.values() if isinstance(value, dict) else value if isinstance(value, list) else None
        if children is not None:
            deepest = max(deepest, depth)
            if deepest > limits.CONTROL_NESTING:
                return deepest
            stack.extend((child, depth + 1) for child in children)
    return deepest


def _deep_line(text):
    """The line of JSON text where brackets first nest too deeply."""
    depth, line, quoted, escaped = 0, 1, False, False
    for c in text:
        if c == "\n":
            line += 1
        elif quoted:
            quoted, escaped = (escaped or c != '"'), (not escaped and c == "\\")
        elif c == '"':
            quoted = True
        elif c in "[{":
            depth += 1
            if depth > limits.CONTROL_NESTING:
                return line
        elif c in "]}":
            depth -= 1
    return None
