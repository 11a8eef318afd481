/* Makes file system calls fail on request, for fault-injection tests.
 * Preloaded into a test process; each call looks at the environment:
 *   TAVLO_FAIL_WRITE=<errno>   write() to a regular file fails
 *   TAVLO_FAIL_FSYNC=<errno>   fsync() of a regular file fails
 *   TAVLO_FAIL_RENAME=<errno>  rename() fails
 *   TAVLO_FAIL_COPY_RANGE=<errno>  copy_file_range() fails (EXDEV: the
 *                              kernel cannot copy between these files)
 *   TAVLO_SLOW_WRITE=<ms>      write() to a regular file waits first, so that
 *                              another process can act in the middle of a save
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

ssize_t write(int fd, const void *buf, size_t count)
{
    static ssize_t (*real)(int, const void *, size_t);
    if (!real)
        real = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    const int slow = fault("TAVLO_SLOW_WRITE");
    if (slow && is_regular(fd)) {
        const struct timespec pause = {slow / 1000, (slow % 1000) * 1000000L};
        nanosleep(&pause, NULL);
    }
    const int err = fault("TAVLO_FAIL_WRITE");
    if (err && is_regular(fd)) {
        errno = err;
        return -1;
    }
    return real(fd, buf, count);
}

int fsync(int fd)
{
    static int (*real)(int);
    if (!real)
        real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    const int err = fault("TAVLO_FAIL_FSYNC");
    if (err && is_regular(fd)) {
        errno = err;
        return -1;
    }
    return real(fd);
}

int rename(const char *from, const char *to)
{
    static int (*real)(const char *, const char *);
    if (!real)
        real = (int (*)(const char *, const char *))dlsym(RTLD_NEXT, "rename");
    const int err = fault("TAVLO_FAIL_RENAME");
    if (err) {
        errno = err;
        return -1;
    }
    return real(from, to);
}

ssize_t copy_file_range(int in, off_t *in_off, int out, off_t *out_off, size_t len, unsigned int flags)
{
    static ssize_t (*real)(int, off_t *, int, off_t *, size_t, unsigned int);
    if (!real)
        real = (ssize_t(*)(int, off_t *, int, off_t *, size_t, unsigned int))dlsym(RTLD_NEXT, "copy_file_range");
    const int err = fault("TAVLO_FAIL_COPY_RANGE");
    if (err) {
        errno = err;
        return -1;
    }
    return real(in, in_off, out, out_off, len, flags);
}
