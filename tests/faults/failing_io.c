/* Makes file system calls fail on request, for fault-injection tests.
 * Preloaded into a test process; each call looks at the environment:
 *   TAVLO_FAIL_WRITE=<errno>       write() to a regular file fails
 *   TAVLO_FAIL_FSYNC=<errno>       fsync() of a regular file fails
 *   TAVLO_FAIL_RENAME=<errno>      rename() fails
 *   TAVLO_FAIL_COPY_RANGE=<errno>  copy_file_range() fails (EXDEV: the
 *                                  kernel cannot copy between these files)
 *   TAVLO_SLOW_WRITE=<ms>          write() to a regular file waits first, so
 *                                  that another process can act in the
 *                                  middle of a save
 * so a test can switch a fault on and off around one operation. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static int fault(const char *name)
{
    const char *value = getenv(name);
    return value && *value ? atoi(value) : 0;
}

static int is_regular(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

/* Defines `name` to fail with the errno in `variable` where `applies` (always
 * evaluated, so a slowed write is slowed when it does not fail), and to call
 * the real one otherwise. */
#define FAILING(type, name, params, args, variable, applies)                         \
    type name params                                                                 \
    {                                                                                \
        static type(*real) params;                                                   \
        if (!real)                                                                   \
            real = (type(*) params)dlsym(RTLD_NEXT, #name);                          \
        const int applies_here = (applies);                                          \
        const int err = fault(variable);                                             \
        if (err && applies_here) {                                                   \
            errno = err;                                                             \
            return -1;                                                               \
        }                                                                            \
        return real args;                                                            \
    }

static int slowed(int fd)
{
    const int slow = fault("TAVLO_SLOW_WRITE");
    if (slow && is_regular(fd)) {
        const struct timespec pause = {slow / 1000, (slow % 1000) * 1000000L};
        nanosleep(&pause, NULL);
    }
    return is_regular(fd);
}

FAILING(ssize_t, write, (int fd, const void *buf, size_t count), (fd, buf, count), "TAVLO_FAIL_WRITE", slowed(fd))
FAILING(int, fsync, (int fd), (fd), "TAVLO_FAIL_FSYNC", is_regular(fd))
FAILING(int, rename, (const char *from, const char *to), (from, to), "TAVLO_FAIL_RENAME", 1)
FAILING(ssize_t, copy_file_range, (int in, off_t *in_off, int out, off_t *out_off, size_t len, unsigned int flags),
        (in, in_off, out, out_off, len, flags), "TAVLO_FAIL_COPY_RANGE", 1)
