/* Prints the library version and the message of every status code: a quick
 * check that libKORVAX loads and its C interface links from plain C. */
#include <stdio.h>

#include "KORVAX.h"

int main(void) {
    char version[16];
    char text[256];
    KORVAX_GetLibVersion(version);
    printf("KORVAX %s\n", version);
    for (int64_t code = -10000; code >= -10053; --code) {
        KORVAX_ErrorCodeToMessage(code, text, sizeof text);
        printf("%lld  %s\n", (long long)code, text);
    }
    return 0;
}
