#!/usr/bin/env python3
"""Switch, read back, self test, with the korvax package, on the first chassis found.

    KORVAX_LIBRARY=build/lib/libKORVAX.so.1 \
    KORVAX_VISA_RESOURCES=examples/demo-resources.conf \
    PYTHONPATH=python python3 examples/switch_session.py
"""
import sys

import korvax


def main() -> int:
    found = korvax.find()
    if not found:
        print("no chassis found", file=sys.stderr)
        return 1
    print(f"chassis {found[0].resource} ({found[0].model})")
    try:
        with korvax.Chassis(found[0].resource) as chassis:
            chassis.open_card()
            chassis.init()
            chassis.close("1!1,2!2:3!3")
            chassis.open("2!2")
            print("closed:", ", ".join(f"{r}!{c}" for r, c in sorted(chassis.closed)))
            print("SCPI :CLOS (@0(1!5)) ->", chassis.scpi(":CLOS (@0(1!5))"))
            info = chassis.info()
            print(f"model {info.model_code}, serial {info.serial}, firmware {info.firmware},"
                  f" boards {''.join('1' if b else '0' for b in info.boards_present)}")
            print(chassis.self_test())
            chassis.clear()
            print("all relays open")
    except korvax.KorvaxError as error:
        print(f"{error.operation}: {error.message} ({error.code} {error.name})", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
