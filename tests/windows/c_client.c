/* A Windows C program using KORVAX.dll through its header and import
 * library only, as a customer's program does. With the scripted VISA64.dll
 * and no instrument declared it finds nothing and cannot connect. */
#include <stdio.h>
#include <string.h>

#include <KORVAX.h>

static int failures = 0;

static void check(int ok, const char *what) {
    if (!ok) {
        printf("  failed: %s\n", what);
        ++failures;
    }
}

int main(void) {
    char version[16];
    RsrcEntry found[KORVAX_MAX_CHASSIS];
    uint32_t count = 99, handle = 0;

    memset(version, 'x', sizeof version);
    KORVAX_GetLibVersion(version);
    check(strcmp(version, "1.0.1378") == 0, "library version");

    check(KORVAX_FindRsrc(found, &count) == 0 && count == 0, "empty discovery");
    check(KORVAX_Connect("GPIB0::1::INSTR", &handle) == KORVAX_ERR_RESOURCE_ABSENT,
          "connect to an absent chassis");
    check(KORVAX_Init(handle, 0) == KORVAX_ERR_HANDLE, "unknown handle");

    printf("%d passed, %d failed\n", failures == 0 ? 1 : 0, failures == 0 ? 0 : 1);
    return failures == 0 ? 0 : 1;
}
