/* Waits until the PC/SC service answers and lists the virtual readers.
 * Usage: pcsc_wait [seconds]   exit 0 when both readers are listed, 1 on time-out. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <winscard.h>

static int listed(void)
{
    SCARDCONTEXT ctx;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, NULL, NULL, &ctx) != SCARD_S_SUCCESS)
        return 0;
    char buf[4096];
    DWORD len = sizeof(buf);
    int found = 0;
    if (SCardListReaders(ctx, NULL, buf, &len) == SCARD_S_SUCCESS) {
        for (char *p = buf; p < buf + len && *p; p += strlen(p) + 1)
            if (strncmp(p, "Virtual PCD 00 0", 16) == 0)
                found++;
    }
    SCardReleaseContext(ctx);
    return found >= 2;
}

int main(int argc, char **argv)
{
    int seconds = argc > 1 ? atoi(argv[1]) : 20;
    struct timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        if (listed())
            return 0;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec >= seconds)
            break;
        usleep(50000);
    }
    fprintf(stderr, "pcsc_wait: the virtual readers did not appear within %d s\n", seconds);
    return 1;
}
