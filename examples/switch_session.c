/* Switch, read back, self test: the everyday round of a test station, on the
 * first chassis discovery finds.
 *
 *   KORVAX_VISA_RESOURCES=examples/demo-resources.conf ./build/bin/switch_session
 *
 * Exits 0 when every step succeeded, 1 otherwise. */
#include <stdio.h>
#include <string.h>

#include "KORVAX.h"

static int failed(const char *what, int32_t status) {
    char text[256];
    if (status >= 0) return 0;
    KORVAX_ErrorCodeToMessage(status, text, sizeof text);
    fprintf(stderr, "%s: %s (%d)\n", what, text, (int)status);
    return 1;
}

int main(void) {
    RsrcEntry found[KORVAX_MAX_CHASSIS];
    uint32_t count = 0, handle = 0, presence[21], slots = 0;
    int64_t opened = 0;
    char model[16], maker[16], serial[16], firmware[16], reply[400], line[256];
    uint32_t state[1008] = {0};

    if (failed("find", KORVAX_FindRsrc(found, &count))) return 1;
    if (count == 0) {
        fprintf(stderr, "no chassis found\n");
        return 1;
    }
    printf("chassis %s (model %04X)\n", found[0].rsrcName, found[0].typeCode);
    if (failed("connect", KORVAX_Connect(found[0].rsrcName, &handle)) ||
        failed("open card", KORVAX_OpenSpecifiedCard(handle, 0, &opened)) ||
        failed("init", KORVAX_Init(handle, 0)))
        return 1;

    /* Switch: row 1 / column 1 by state array (bit 0 of word 0), then row 1 /
     * column 2 by SCPI, keeping the first closed (SCPI edits the same state). */
    state[0] = 1u;
    if (failed("switch", KORVAX_OpMatrix(handle, 0, state, 1008))) return 1;
    if (failed("SCPI write", KORVAX_SCPIWrite(handle, ":CLOS (@0(1!2))")) ||
        failed("SCPI read", KORVAX_SCPIRead(handle, line)))
        return 1;
    printf("SCPI :CLOS (@0(1!2)) -> %s\n", line);
    if (strcmp(line, "Relays Operate Success") != 0) return 1;

    /* Read back what the chassis reports about itself. */
    if (failed("device info", KORVAX_GetDeviceInfo(handle, model, maker, serial, firmware, 15)) ||
        failed("board presence", KORVAX_BoardInPlaceInfo(handle, presence, &slots)))
        return 1;
    printf("model %s, maker %s, serial %s, firmware %s, %u slots, slot 1 %s\n", model, maker, serial,
           firmware, slots, presence[0] ? "fitted" : "empty");
    KORVAX_SCPIQuery(handle, ":SYST:VERS?", reply);
    printf("SCPI :SYST:VERS? -> %s\n", reply);

    /* Self test, then everything open again. */
    if (failed("self test", KORVAX_SelfTest(handle, 0, line, sizeof line))) return 1;
    printf("%s%s", line, strchr(line, '\n') ? "" : "\n");
    if (failed("clear", KORVAX_Clear(handle, 0))) return 1;
    printf("all relays open\n");
    return 0;
}
