"""A thin layer over the command language: each method sends one documented command (its
docstring names it) and returns the reply's values; a refused command raises CommandFailed.
Methods use the connection they belong to and share its locking.

Text arguments are always sent quoted, so that a key such as "first" is a key and never a word.
"""

from typing import NamedTuple, Union

from .errors import CommandFailed
from .tokens import Name, command_line

# Kinds and the number of type words each takes; the hash kinds also take a capacity.
_KINDS = {"vector": 1, "deque": 1, "list": 1, "stack": 1, "queue": 1, "heap": 1, "set": 1,
          "multiset": 1, "map": 2, "multimap": 2, "hashmap": 2, "hashtable": 1, "trie": 0}
_HASH_KINDS = ("hashmap", "hashtable")
_MISSING = object()


class ContainerInfo(NamedTuple):
    """One row of the `k` listing."""

    name: str  # "" for a container without a name
    slot: int
    count: int  # elements; the capacity for hashmap and hashtable
    kind: str
    key_type: str
    value_type: str  # "u08" for the kinds that hold no values


def _argument(value):
    # Text in an argument position is always quoted: the same bytes, never a command word.
    return Name(value) if isinstance(value, (str, bytes, bytearray)) and value else value


def _reference(container):
    """A container token: a slot number as it is, a name (str, bytes or Name) quoted."""
    if isinstance(container, Container):
        return container.ref
    if isinstance(container, int) and not isinstance(container, bool):
        if container < 0:
            raise ValueError("a slot number is not negative")
        return container
    return container if isinstance(container, Name) else Name(container)


def _infos(reply):
    if not reply.items:
        return []
    columns = [reply.item(label).values for label in
               ("skey", "vkey", "count", "ctype", "ktype", "vtype")]
    return [ContainerInfo(*row) for row in zip(*columns)]


class Commands:
    """The database-wide commands; mixed into Connection, which provides execute()."""

    def _run(self, *tokens):
        """Executes and returns the reply, raising CommandFailed when it was refused."""
        line = command_line(tokens)
        reply = self.execute_line(line)
        if not reply.ok:
            raise CommandFailed(line.decode("utf-8", "backslashreplace"))
        return reply

    def create(self, kind, *types, capacity=None, name=None):
        """`c <kind> <types> [<capacity>] [<name>]`: creates a container and returns a
        Container for it (by name when it has one, else by slot). `types` are one type word,
        two for map, multimap and hashmap (key, value), none or "string" for trie; `capacity`
        is required by hashmap and hashtable, refused by the others. A trie takes no name.
        Raises ValueError for a form the server would not take as a create command."""
        wanted = _KINDS.get(kind)
        if wanted is None:
            raise ValueError(f"unknown container kind {kind!r}")
        if len(types) != wanted and not (kind == "trie" and types == ("string",)):
            raise ValueError(f"{kind} takes {wanted} type word(s), got {len(types)}")
        if (capacity is None) == (kind in _HASH_KINDS):
            raise ValueError("hashmap and hashtable take a capacity, other kinds none")
        if name is not None and (kind == "trie" or name in ("", b"")):
            raise ValueError("a trie has no name, and a name is not empty")
        tokens = ["c", kind, *types]
        if capacity is not None:
            tokens.append(int(capacity))
        if name is not None:
            tokens.append(Name(name))
        reply = self._run(*tokens)
        return Container(self, Name(name) if name is not None else reply.item("vkey").values[0])

    def container(self, container):
        """A Container for a name (str, bytes) or a slot number (int); sends nothing."""
        return Container(self, _reference(container))

    def containers(self):
        """`k`: every container in slot order, as ContainerInfo rows."""
        return _infos(self._run("k"))

    def describe(self, container):
        """`k <container>`: the ContainerInfo of one container."""
        return _infos(self._run("k", _reference(container)))[0]

    def erase(self, container):
        """`e <container>`: destroys a container with its contents; returns the freed slot."""
        return self._run("e", _reference(container)).values[0]

    def clear(self):
        """`clear`: removes every container."""
        self._run("clear")

    def backup(self, path):
        """`b <path>`: writes the whole database to a new file on the server's machine (path
        relative to the server's working directory); fails when the file exists."""
        self._run("b", _argument(path))

    def restore(self, path):
        """`r <path>`: replaces the whole database with the contents of a backup file."""
        self._run("r", _argument(path))


class Container:
    """One container, named by slot or by name; its methods send commands on the connection
    it came from."""

    __slots__ = ("connection", "ref")

    def __init__(self, connection, ref: Union[int, Name]):
        self.connection = connection
        self.ref = ref

    def __repr__(self):
        return f"Container({self.ref!r})"

    def _run(self, family, *arguments):
        return self.connection._run(family, self.ref, *arguments)

    # ---- g: read ----

    def get(self, word, *arguments):
        """`g <container> <word> [<a>] [<b>]`: the values read, [] when nothing was found.
        For example get("range", 2, 5), get("ge", 10), get("value", "apples")."""
        return self._run("g", word, *map(_argument, arguments)).values

    def all(self):
        """`g <container> all`: every element (maps: every key) in the kind's order."""
        return self.get("all")

    def count(self):
        """`g <container> count`: the number of elements (hash kinds: the capacity)."""
        return self.get("count")[0]

    def value(self, key, default=None):
        """`g <container> value <key>`: the value of a key of a map or hashmap (of a multimap:
        the first), or `default` when the key is not there."""
        values = self.get("value", key)
        return values[0] if values else default

    # ---- i: insert ----

    def insert(self, key, value=_MISSING):
        """`i <container> <key> [<value>]`: inserts a key (with a value, for the maps; without
        one a map stores the zero value). Raises CommandFailed where the key is already there
        in a map, hashmap, set, hashtable or trie."""
        if value is _MISSING:
            self._run("i", _argument(key))
        elif key in ("", b""):
            # The server reads an empty key before a value as no key at all.
            raise ValueError("an empty key cannot be inserted with a value")
        else:
            self._run("i", _argument(key), _argument(value))

    def append(self, element):
        """`i <container> last <element>`: at the back (stack and queue: push)."""
        self._run("i", "last", _argument(element))

    def prepend(self, element):
        """`i <container> first <element>`: at the front (vector, deque, list)."""
        self._run("i", "first", _argument(element))

    def insert_at(self, position, element):
        """`i <container> nth <position> <element>`: so that the element stands at the
        position, counted from 1 (vector, deque, list)."""
        self._run("i", "nth", position, _argument(element))

    # ---- s: overwrite ----

    def set(self, word, *arguments):
        """`s <container> <word> [<a>] [<b>] <new value>`: the last argument is the new value.
        For example set("value", "apples", 13), set("nth", 2, 20)."""
        if not arguments:
            raise ValueError("set needs the new value")
        self._run("s", word, *map(_argument, arguments))

    # ---- d: delete ----

    def delete(self, word, *arguments):
        """`d <container> <word> [<a>] [<b>]`: for example delete("first"), delete("lt", 10)."""
        self._run("d", word, *map(_argument, arguments))

    def remove(self, key):
        """`d <container> equal <key>`: every entry with the key."""
        self.delete("equal", key)

    # ---- k and e ----

    def describe(self):
        """`k <container>`: this container's ContainerInfo."""
        return self.connection.describe(self)

    def erase(self):
        """`e <container>`: destroys the container; returns the freed slot."""
        return self.connection.erase(self)
