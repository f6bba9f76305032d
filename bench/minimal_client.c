/* The least a program can do for one switching round trip over a raw TCP
 * socket: send the frame in one write, read the 400-byte reply. The
 * network benchmark holds the library's round trip against this. */
#include "minimal_client.h"

#include <sys/socket.h>

int minimal_roundtrip(int fd, const unsigned char *frame, size_t length, unsigned char *reply) {
    if (send(fd, frame, length, MSG_NOSIGNAL) != (ssize_t)length) return -1;
    size_t got = 0;
    while (got < 400) {
        const ssize_t n = recv(fd, reply + got, 400 - got, 0);
        if (n <= 0) return -1;
        got += (size_t)n;
    }
    return 0;
}
