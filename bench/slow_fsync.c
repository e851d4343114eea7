/* Preloaded into a server by the benchmark (bench/cooperative.py): every
 * fsync of the process takes SLOW_FSYNC_SECONDS (default 1) longer, as on a
 * loaded network home directory. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <time.h>

int fsync(int fd) {
    static int (*real_fsync)(int);
    if (real_fsync == NULL) {
        real_fsync = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    }
    const char *setting = getenv("SLOW_FSYNC_SECONDS");
    double seconds = setting != NULL ? atof(setting) : 1.0;
    struct timespec pause = {(time_t)seconds, (long)((seconds - (double)(time_t)seconds) * 1e9)};
    nanosleep(&pause, NULL);
    return real_fsync(fd);
}
