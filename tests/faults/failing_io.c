/* Counts the file system calls a process makes and acts at one of them, for
 * the fault loop. Preloaded into the test process; it does nothing until
 * the test arms it (found with dlsym, so a build without it still links):
 *   tavlo_faults_arm(at, action, err, hook)  counts every call from now on;
 *       at call `at` (from 1) it fails with `err` (FAULT_FAIL), kills the
 *       process before the call (FAULT_KILL), or runs `hook` and then the
 *       call (FAULT_HOOK). With `at` 0 it only counts.
 *   tavlo_faults_always(name, err)  every call of that name fails with
 *       `err`, armed or not, as on a file system that lacks the feature;
 *       "O_TMPFILE" names an open without a name (name NULL: none again).
 *   tavlo_faults_disarm()  stops counting; returns how many calls there were.
 *   tavlo_faults_name(n)   the name of call n of the last armed run.
 * The program's code calls the plain names: nothing here is built with
 * large-file renames. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { FAULT_COUNT, FAULT_FAIL, FAULT_KILL, FAULT_HOOK };

#define MAX_NAMES 4096
static int armed, inside, action, err_at;
static long calls, at;
static void (*hook)(void);
static const char *names[MAX_NAMES];
static struct { char name[32]; int err; } always_fail[8];
static int always_count;

void tavlo_faults_arm(long n, int what, int err, void (*run)(void))
{
    calls = 0;
    at = n;
    action = what;
    err_at = err;
    hook = run;
    armed = 1;
}

long tavlo_faults_disarm(void)
{
    armed = 0;
    return calls;
}

void tavlo_faults_always(const char *name, int err)
{
    if (!name) {
        always_count = 0;
        return;
    }
    if (always_count < 8) {
        snprintf(always_fail[always_count].name, sizeof always_fail[0].name, "%s", name);
        always_fail[always_count++].err = err;
    }
}

const char *tavlo_faults_name(long n)
{
    return n >= 1 && n <= MAX_NAMES && n <= calls ? names[n - 1] : "?";
}

/* Whether a call on a descriptor is one on the file system: the event
 * loop's wake-ups come and go with timing, and are no part of a file
 * operation. */
static int on_files(int fd)
{
    static int (*real_fstat)(int, struct stat *);
    if (!real_fstat)
        real_fstat = (int (*)(int, struct stat *))dlsym(RTLD_NEXT, "fstat");
    struct stat st;
    return fd < 0 || real_fstat(fd, &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
}

/* What happens to one call (`fd` -1 for a call on a path; `feature` what
 * it asks of the file system): 0 to make it, else the errno to fail it
 * with. A hook runs unwatched. */
static int decide(const char *name, int fd, const char *feature)
{
    for (int i = 0; i < always_count; ++i)
        if (strcmp(feature, always_fail[i].name) == 0)
            return always_fail[i].err;
    if (!armed || inside || !on_files(fd))
        return 0;
    if (++calls <= MAX_NAMES)
        names[calls - 1] = name;
    if (calls != at)
        return 0;
    if (action == FAULT_KILL)
        kill(getpid(), SIGKILL);
    if (action == FAULT_HOOK) {
        inside = 1;
        hook();
        inside = 0;
    }
    return action == FAULT_FAIL ? err_at : 0;
}

#define REAL(type, name, params) \
    static type(*real) params;   \
    if (!real)                   \
        real = (type(*) params)dlsym(RTLD_NEXT, #name)

/* Defines `name` to fail as decided, and to call the real one otherwise. */
#define FAILING(type, name, params, args, failed, fd) \
    type name params                                 \
    {                                                \
        REAL(type, name, params);                    \
        const int err = decide(#name, fd, #name);    \
        if (err) {                                   \
            errno = err;                             \
            return failed;                           \
        }                                            \
        return real args;                            \
    }

/* The variadic ones: open's mode is there only with O_CREAT or O_TMPFILE,
 * and fcntl's argument is one word at most. */
#define VARIADIC(name, fd, params, last, args, feature) \
    int name params                            \
    {                                          \
        REAL(int, name, params);               \
        va_list ap;                            \
        va_start(ap, last);                    \
        void *arg = va_arg(ap, void *);        \
        va_end(ap);                            \
        const int err = decide(#name, fd, feature); \
        if (err) {                             \
            errno = err;                       \
            return -1;                         \
        }                                      \
        return real args;                      \
    }

#define UNNAMED(flags, name) ((flags & O_TMPFILE) == O_TMPFILE ? "O_TMPFILE" : name)
VARIADIC(open, -1, (const char *path, int flags, ...), flags, (path, flags, arg), UNNAMED(flags, "open"))
VARIADIC(openat, -1, (int dir, const char *path, int flags, ...), flags, (dir, path, flags, arg), UNNAMED(flags, "openat"))
VARIADIC(fcntl, fd, (int fd, int cmd, ...), cmd, (fd, cmd, arg), "fcntl")

/* A failed close still closes, as the kernel's does. */
int close(int fd)
{
    REAL(int, close, (int));
    const int err = decide("close", fd, "close"); /* while the descriptor is still there */
    const int r = real(fd);
    if (err) {
        errno = err;
        return -1;
    }
    return r;
}

FAILING(ssize_t, read, (int fd, void *buf, size_t count), (fd, buf, count), -1, fd)
FAILING(ssize_t, pread, (int fd, void *buf, size_t count, off_t offset), (fd, buf, count, offset), -1, fd)
FAILING(ssize_t, write, (int fd, const void *buf, size_t count), (fd, buf, count), -1, fd)
FAILING(ssize_t, pwrite, (int fd, const void *buf, size_t count, off_t offset), (fd, buf, count, offset), -1, fd)
FAILING(ssize_t, copy_file_range, (int in, off_t *in_off, int out, off_t *out_off, size_t len, unsigned int flags),
        (in, in_off, out, out_off, len, flags), -1, out)
FAILING(int, fsync, (int fd), (fd), -1, fd)
FAILING(int, ftruncate, (int fd, off_t length), (fd, length), -1, fd)
FAILING(off_t, lseek, (int fd, off_t offset, int whence), (fd, offset, whence), -1, fd)
FAILING(int, fstat, (int fd, struct stat *st), (fd, st), -1, fd)
FAILING(int, stat, (const char *path, struct stat *st), (path, st), -1, -1)
FAILING(int, lstat, (const char *path, struct stat *st), (path, st), -1, -1)
FAILING(int, fstatat, (int dir, const char *path, struct stat *st, int flags), (dir, path, st, flags), -1, -1)
FAILING(int, access, (const char *path, int how), (path, how), -1, -1)
FAILING(ssize_t, readlink, (const char *path, char *buf, size_t size), (path, buf, size), -1, -1)
FAILING(int, rename, (const char *from, const char *to), (from, to), -1, -1)
FAILING(int, renameat2, (int fromDir, const char *from, int toDir, const char *to, unsigned int flags),
        (fromDir, from, toDir, to, flags), -1, -1)
FAILING(int, link, (const char *from, const char *to), (from, to), -1, -1)
FAILING(int, linkat, (int fromDir, const char *from, int toDir, const char *to, int flags),
        (fromDir, from, toDir, to, flags), -1, -1)
FAILING(int, unlink, (const char *path), (path), -1, -1)
FAILING(int, unlinkat, (int dir, const char *path, int flags), (dir, path, flags), -1, -1)
FAILING(int, mkdir, (const char *path, mode_t mode), (path, mode), -1, -1)
FAILING(int, fchmod, (int fd, mode_t mode), (fd, mode), -1, fd)
FAILING(int, fchown, (int fd, uid_t uid, gid_t gid), (fd, uid, gid), -1, fd)
FAILING(ssize_t, flistxattr, (int fd, char *list, size_t size), (fd, list, size), -1, fd)
FAILING(ssize_t, fgetxattr, (int fd, const char *name, void *value, size_t size), (fd, name, value, size), -1, fd)
FAILING(int, fsetxattr, (int fd, const char *name, const void *value, size_t size, int flags),
        (fd, name, value, size, flags), -1, fd)
FAILING(int, fremovexattr, (int fd, const char *name), (fd, name), -1, fd)
FAILING(int, flock, (int fd, int how), (fd, how), -1, fd)
FAILING(DIR *, opendir, (const char *path), (path), NULL, -1)
FAILING(struct dirent *, readdir, (DIR * dir), (dir), NULL, -1)
