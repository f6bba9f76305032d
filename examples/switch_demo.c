/* A whole session on a chassis: find it, connect, identify the cards,
 * initialise, read the identity, close some crosspoints, run the self test
 * and open everything again. Run it on the simulated chassis:
 *
 *   KORVAX_VISA_RESOURCES=examples/demo-resources.conf ./build/bin/korvax_demo
 *
 * or on hardware through a vendor VISA (KORVAX_VISA_LIBRARY=libvisa.so.0). */
#include <stdio.h>
#include <string.h>

#include "KORVAX.h"

static int check(const char *what, int32_t status) {
    if (status < 0) {
        char text[256];
        KORVAX_ErrorCodeToMessage(status, text, sizeof text);
        printf("%-22s failed: %d %s\n", what, status, text);
    }
    return status;
}

static void session(const RsrcEntry *entry) {
    uint32_t handle = 0;
    int64_t opened = 0;
    char model[16], maker[16], serial[16], firmware[16], line[600];
    uint32_t state[1008];

    printf("\n== %s (model %04X)\n", entry->rsrcName, entry->typeCode);
    if (check("connect", KORVAX_Connect(entry->rsrcName, &handle)) < 0) return;
    if (check("open sub-unit 0", KORVAX_OpenSpecifiedCard(handle, 0, &opened)) < 0) return;
    if (check("initialise", KORVAX_Init(handle, 0)) < 0) return;
    if (check("device info", KORVAX_GetDeviceInfo(handle, model, maker, serial, firmware, 9)) == 0)
        printf("model %s, maker %s, serial %s, firmware %s\n", model, maker, serial, firmware);
    if (check("card type", KORVAX_GetCardType(handle, 0, model)) == 0) {
        KORVAX_GetCardSize(model, serial);
        printf("card %s, %s crosspoints per card\n", model, serial);
    }

    /* Close row 0 / column 0 and row 1 / column 2 of the first card: bit p of
     * the state closes crosspoint p = row * (slots * columns) + card * columns + column. */
    memset(state, 0, sizeof state);
    const uint32_t perRow = entry->typeCode == KORVAX_MODEL_RQ522 ? 21 * 96 : 4 * 12;
    const uint32_t points[] = {0, perRow + 2};
    for (unsigned i = 0; i < 2; ++i) state[points[i] / 32] |= 1u << (points[i] % 32);
    if (check("switch", KORVAX_OpMatrix(handle, 0, state, 1008)) == 0)
        printf("closed crosspoints %u and %u\n", points[0], points[1]);

    KORVAX_SelfTest(handle, 0, line, sizeof line);
    printf("%s", line);
    KORVAX_SCPIQuery(handle, ":SYST:VERS?", line);
    printf("SCPI :SYST:VERS? -> %s\n", line);
    if (check("clear", KORVAX_Clear(handle, 0)) >= 0) printf("all relays open\n");
}

int main(void) {
    char version[16];
    RsrcEntry entries[KORVAX_MAX_CHASSIS];
    uint32_t count = 0;

    KORVAX_GetLibVersion(version);
    printf("KORVAX %s\n", version);
    if (check("find", KORVAX_FindRsrc(entries, &count)) < 0) return 1;
    printf("%u chassis found\n", count);
    for (uint32_t i = 0; i < count; ++i) session(&entries[i]);
    return count > 0 ? 0 : 1;
}
