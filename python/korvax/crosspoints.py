"""Crosspoint lists as users type them: "1!1,2!3:4!5"."""
from __future__ import annotations

import re
from typing import Iterable

Crosspoint = tuple[int, int]
"""(row, column), both from 1; the column counts across the whole chassis row, card after card."""

_CORNER = re.compile(r"([1-9][0-9]{0,5})!([1-9][0-9]{0,5})")
_MAX_POINTS = 40000


def parse(text: str) -> list[Crosspoint]:
    """Parses ROW!COLUMN and ROW!COLUMN:ROW!COLUMN elements separated by commas.

    A rectangle expands row by row. Raises ValueError naming the first
    malformed element.
    """
    points: list[Crosspoint] = []
    for raw in text.split(","):
        element = raw.strip()
        corners = element.split(":")
        matches = [_CORNER.fullmatch(c) for c in corners]
        if not element or len(corners) > 2 or not all(matches):
            raise ValueError(
                f"malformed crosspoint list {text!r}: element {element!r} is not ROW!COLUMN or "
                "ROW!COLUMN:ROW!COLUMN (numbers from 1, separated by commas)"
            )
        ends = [(int(m.group(1)), int(m.group(2))) for m in matches if m]
        (r0, c0), (r1, c1) = ends[0], ends[-1]
        rows = range(min(r0, r1), max(r0, r1) + 1)
        columns = range(min(c0, c1), max(c0, c1) + 1)
        if len(points) + len(rows) * len(columns) > _MAX_POINTS:
            raise ValueError(f"crosspoint list {text!r} names more crosspoints than any chassis has")
        points += [(r, c) for r in rows for c in columns]
    return points


def normalise(crosspoints: str | Iterable[Crosspoint]) -> list[Crosspoint]:
    """A list of (row, column) from a crosspoint-list text or pairs."""
    if isinstance(crosspoints, str):
        return parse(crosspoints)
    points = [(int(r), int(c)) for r, c in crosspoints]
    for r, c in points:
        if r < 1 or c < 1:
            raise ValueError(f"crosspoint ({r}, {c}): rows and columns count from 1")
    return points
