/* Preloaded into the program by the whole-program suite: writes each
 * setenv (which qputenv calls) on standard error, marked with whether
 * another thread had been started by then. glibc's setenv may free the
 * table that a getenv on another thread is walking (fontconfig reads a dozen
 * variables as it loads), so a start-up that changes the environment after
 * its first thread crashes now and then. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>

static int threads;

int pthread_create(pthread_t *thread, const pthread_attr_t *attr, void *(*run)(void *), void *arg)
{
    static int (*real)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
    if (!real)
        real = (int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *))dlsym(RTLD_NEXT, "pthread_create");
    __atomic_store_n(&threads, 1, __ATOMIC_SEQ_CST);
    return real(thread, attr, run, arg);
}

int setenv(const char *name, const char *value, int overwrite)
{
    static int (*real)(const char *, const char *, int);
    if (!real)
        real = (int (*)(const char *, const char *, int))dlsym(RTLD_NEXT, "setenv");
    fprintf(stderr, "tavlo-environment: %s %s\n", name,
            __atomic_load_n(&threads, __ATOMIC_SEQ_CST) ? "after a thread" : "alone");
    return real(name, value, overwrite);
}
