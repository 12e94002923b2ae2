"""One full walk of a hive per reader, the same work for each: every key's name and last-written time, every
value's name, type, raw bytes and decoded data. Each function returns (keys, values) so that the suite can check
that the readers saw the same hive.

The peers are optional: Debian's `python3-hivex` (module `hivex`) and `python3-libregf` (module `pyregf`), and
`python-registry` from PyPI (module `Registry`). A reader whose module is missing is left out.
"""

REG_SZ, REG_EXPAND_SZ, REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_MULTI_SZ, REG_QWORD = 1, 2, 4, 5, 7, 11

# Each reader keeps its last few hundred records, as a streaming consumer with a small buffer does, and drops them
# together. Keeping thousands of records of kilobytes each would measure the processor's caches rather than the
# readers; the object floor drops every object at once.
SINK = 256


def tarnu_per_call(path):
    """The per-call API: subkeys() and values() on every key."""
    import tarnu

    def decoded(value):
        try:
            return value.data().value()
        except ValueError:
            return None

    keys = values = 0
    sink = []
    stack = [tarnu.Hive.open(path).root_key()]
    while stack:
        key = stack.pop()
        keys += 1
        sink.append((key.name(), key.last_written_timestamp()))
        for value in key.values():
            values += 1
            sink.append((value.name(), value.value_type().type_id(), value.raw_data(), decoded(value)))
        stack.extend(reversed(key.subkeys()))
        if len(sink) > SINK:
            sink.clear()
    return keys, values


def tarnu_bulk(path):
    """The bulk path: Hive.walk() and one value_records() call per key, which gives each value as a
    (name, type_id, raw_data, data) tuple of plain objects."""
    import tarnu

    keys = values = 0
    sink = []
    for _, key in tarnu.Hive.open(path).walk():
        keys += 1
        sink.append((key.name(), key.last_written_timestamp()))
        records = key.value_records()
        values += len(records)
        sink.extend(records)
        if len(sink) > SINK:
            sink.clear()
    return keys, values


def hivex_walk(path):
    import hivex

    h = hivex.Hivex(path)

    def decoded(v, kind):
        try:
            if kind in (REG_SZ, REG_EXPAND_SZ):
                return h.value_string(v)
            if kind in (REG_DWORD, REG_DWORD_BIG_ENDIAN):
                return h.value_dword(v)
            if kind == REG_QWORD:
                return h.value_qword(v)
            if kind == REG_MULTI_SZ:
                return h.value_multiple_strings(v)
        except RuntimeError:
            return None
        return None

    keys = values = 0
    sink = []
    stack = [h.root()]
    while stack:
        node = stack.pop()
        keys += 1
        sink.append((h.node_name(node), h.node_timestamp(node)))
        for v in h.node_values(node):
            values += 1
            kind, raw = h.value_value(v)
            sink.append((h.value_key(v), kind, raw, decoded(v, kind)))
        stack.extend(reversed(h.node_children(node)))
        if len(sink) > SINK:
            sink.clear()
    return keys, values


def libregf_walk(path):
    import pyregf

    f = pyregf.file()
    f.open(path)

    def decoded(v, kind):
        try:
            if kind in (REG_SZ, REG_EXPAND_SZ):
                return v.get_data_as_string()
            if kind in (REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_QWORD):
                return v.get_data_as_integer()
            if kind == REG_MULTI_SZ:
                return v.get_data_as_multi_string()
        except (IOError, ValueError):
            return None
        return None

    keys = values = 0
    sink = []
    stack = [f.get_root_key()]
    while stack:
        key = stack.pop()
        keys += 1
        sink.append((key.name, key.get_last_written_time_as_integer()))
        for v in key.values:
            values += 1
            kind = v.type
            sink.append((v.name, kind, v.data, decoded(v, kind)))
        stack.extend(reversed(list(key.sub_keys)))
        if len(sink) > SINK:
            sink.clear()
    f.close()
    return keys, values


def python_registry_walk(path):
    from Registry import Registry

    keys = values = 0
    sink = []
    stack = [Registry.Registry(path).root()]
    while stack:
        key = stack.pop()
        keys += 1
        sink.append((key.name(), key.timestamp()))
        for v in key.values():
            values += 1
            try:
                value = v.value()
            except Exception:  # the library raises its own error types for data it cannot decode
                value = None
            sink.append((v.name(), v.value_type(), v.raw_data(), value))
        stack.extend(reversed(key.subkeys()))
        if len(sink) > SINK:
            sink.clear()
    return keys, values


READERS = {
    "tarnu": tarnu_per_call,
    "tarnu-bulk": tarnu_bulk,
    "hivex": hivex_walk,
    "libregf": libregf_walk,
    "python-registry": python_registry_walk,
}

MODULES = {"tarnu": "tarnu", "tarnu-bulk": "tarnu", "hivex": "hivex", "libregf": "pyregf", "python-registry": "Registry"}


def available(name):
    import importlib.util

    return importlib.util.find_spec(MODULES[name]) is not None
