/* Preloaded into the program by the window journeys to make the disk slow on
 * demand: every directory the scan lists first waits for the number of
 * milliseconds written in the file named by SPACEMOLE_SLOW_DIR_FILE (no file:
 * no wait). A journey can so hold the scanning screen up, or leave a walker
 * stuck as on a dead network mount, at the moment it chooses. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/types.h>
#include <time.h>

static long delay_ms(void) {
    const char* path = getenv("SPACEMOLE_SLOW_DIR_FILE");
    FILE* f = path ? fopen(path, "re") : NULL;
    long ms = 0;
    if (f) {
        if (fscanf(f, "%ld", &ms) != 1) ms = 0;
        fclose(f);
    }
    return ms;
}

static void wait_a_while(void) {
    const long ms = delay_ms();
    if (ms > 0) {
        struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
        nanosleep(&pause, NULL);
    }
}

DIR* fdopendir(int fd) {
    static DIR* (*real)(int);
    if (!real) real = (DIR * (*)(int)) dlsym(RTLD_NEXT, "fdopendir");
    wait_a_while();
    return real(fd);
}

/* The walk lists folders with getdents64 directly; glibc's own readdir does
 * not come through here, so only the scan is slowed. */
ssize_t getdents64(int fd, void* buffer, size_t length) {
    static ssize_t (*real)(int, void*, size_t);
    if (!real) real = (ssize_t(*)(int, void*, size_t))dlsym(RTLD_NEXT, "getdents64");
    wait_a_while();
    return real(fd, buffer, length);
}
