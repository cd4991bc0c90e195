/* Preloaded into the program by the window journeys: every directory the scan
 * opens takes SPACEMOLE_SLOW_DIR_MS milliseconds (default 5) longer, so a
 * small tree keeps the scanning screen up long enough to act on it. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <stdlib.h>
#include <time.h>

DIR* fdopendir(int fd) {
    static DIR* (*real)(int);
    if (!real) real = (DIR * (*)(int)) dlsym(RTLD_NEXT, "fdopendir");
    const char* ms = getenv("SPACEMOLE_SLOW_DIR_MS");
    long delay = ms ? atol(ms) : 5;
    struct timespec pause = {delay / 1000, (delay % 1000) * 1000000L};
    nanosleep(&pause, NULL);
    return real(fd);
}
