# Read by ctest before it runs anything: every test, whatever starts it,
# inherits an environment that keeps the built-in VISA library off this
# machine's own serial and USB ports (discovery would write "*IDN?" to a
# real UART at every baud rate). Tests that need ports build device folders
# and sysfs trees of their own and point these variables there themselves.
set(ENV{KORVAX_DEV_ROOT} "/nonexistent")
set(ENV{KORVAX_SYSFS_ROOT} "/nonexistent")
