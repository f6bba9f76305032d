"""Control relay switch-matrix chassis through libKORVAX.

    import korvax
    for found in korvax.find():
        print(found.resource, found.model)
    with korvax.Chassis(found.resource) as chassis:
        chassis.open_card()
        chassis.init()
        chassis.close("1!1,2!3:4!5")
"""
from ._library import LibraryNotFound, library
from .chassis import Chassis, Found, Info, SubUnitCard, find, library_version
from .crosspoints import MODELS, Crosspoint, Model, parse
from .errors import CODES, KorvaxError, error_message, error_name

__all__ = [
    "CODES",
    "Chassis",
    "Crosspoint",
    "Found",
    "Info",
    "KorvaxError",
    "LibraryNotFound",
    "MODELS",
    "Model",
    "SubUnitCard",
    "error_message",
    "error_name",
    "find",
    "library",
    "library_version",
    "parse",
]
__version__ = "1.1.77"
