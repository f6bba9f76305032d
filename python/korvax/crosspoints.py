"""Crosspoint lists ("1!1,2!3:4!5") and the models' sub-unit 0 geometry."""
from __future__ import annotations

import re
from dataclasses import dataclass
from typing import Iterable

Crosspoint = tuple[int, int]
"""(row, column), both from 1; the column counts across the whole chassis row."""

_CORNER = re.compile(r"([1-9][0-9]{0,5})!([1-9][0-9]{0,5})")
_MAX_POINTS = 40000


@dataclass(frozen=True)
class Model:
    """Geometry of sub-unit 0: rows of every card, card positions, columns of a card."""

    name: str
    code: int
    rows: int
    positions: int
    card_columns: int

    @property
    def columns(self) -> int:
        """Columns of a whole chassis row."""
        return self.positions * self.card_columns

    def index(self, point: Crosspoint) -> int:
        """Bit index of a crosspoint in the state array."""
        row, column = point
        return (row - 1) * self.columns + (column - 1)


MODELS: dict[int, Model] = {
    m.code: m
    for m in (
        Model("RQ520", 0x041A, 12, 5, 10),
        Model("RQ520B", 0x041B, 12, 5, 10),
        Model("RQ521", 0x042A, 10, 4, 12),
        Model("RQ522", 0x043A, 16, 21, 96),
        Model("RQ523", 0x044A, 8, 1, 12),
        Model("RQ523B", 0x044B, 8, 1, 12),
    )
}


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
