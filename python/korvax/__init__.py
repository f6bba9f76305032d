"""Control relay switch-matrix chassis through libKORVAX.

    import korvax
    for found in korvax.find():
        print(found.resource, found.model)
    with korvax.Chassis("TCPIP0::192.168.1.20::INSTR") as a, korvax.Chassis.simulated("RQ521") as b:
        a.open_card()
        a.init()
        a.close("1!1,2!3:4!5")
"""
from ._library import LibraryNotFound, library
from .chassis import (
    MAX_IMAGE_BYTES,
    Chassis,
    Found,
    Geometry,
    Info,
    ProbeReport,
    SubUnitCard,
    connect,
    discovery_report,
    find,
    library_version,
    model_name,
)
from .crosspoints import Crosspoint, parse
from .errors import CODES, KorvaxError, error_message, error_name

__all__ = [
    "CODES",
    "Chassis",
    "Crosspoint",
    "Found",
    "Geometry",
    "Info",
    "KorvaxError",
    "LibraryNotFound",
    "MAX_IMAGE_BYTES",
    "ProbeReport",
    "SubUnitCard",
    "connect",
    "discovery_report",
    "error_message",
    "error_name",
    "find",
    "library",
    "library_version",
    "model_name",
    "parse",
]
__version__ = "1.1.77"
