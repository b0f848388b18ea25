#!/usr/bin/env python3
"""A first session with the Python client (docs/python.md): create a map, insert, read, list
and erase. Run it against the server of scripts/run.sh:

    ZOR_PASSWORD=admin python3 examples/python_client.py [--host H] [--port P] [--user U]

Without installing the package, run it with PYTHONPATH=clients/python.
"""

import argparse
import os

import zor_nosql

NAME = "example_stock"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=zor_nosql.DEFAULT_PORT)
    parser.add_argument("--user", default="admin")
    args = parser.parse_args()
    password = os.environ.get("ZOR_PASSWORD", "admin")

    with zor_nosql.connect(args.host, args.port, args.user, password) as db:
        if any(info.name == NAME for info in db.containers()):
            db.erase(NAME)  # left over from an earlier run that stopped half-way
        stock = db.create("map", "string", "u32", name=NAME)
        stock.insert("apples", 12)
        stock.insert("pears", 5)
        stock.insert("big melons", 2)
        stock.set("value", "pears", 7)
        for fruit in stock.all():
            print(f"{fruit}: {stock.value(fruit)}")

        for info in db.containers():
            print(f"slot {info.slot}: {info.kind} {info.key_type} -> {info.value_type}, "
                  f"{info.count} elements, name {info.name!r}")

        reply = db.execute("g", zor_nosql.Name(NAME), "max")  # any command, typed reply
        print("largest key:", reply.values)

        try:
            stock.insert("apples", 1)  # a map refuses a key it already holds
        except zor_nosql.CommandFailed as e:
            print("refused:", e)
        stock.erase()


if __name__ == "__main__":
    main()
