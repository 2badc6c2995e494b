/* What a udev-managed evdev node gives a consumer and umockdev 0.17 does not
 * emulate, preloaded next to umockdev's library:
 *
 * - udev's database. udevd writes /run/udev/data/c<major>:<minor> once it has
 *   processed a device; libudev calls a device "initialised" only with that
 *   entry, and libinput refuses a device that is not ("udev device never
 *   initialized"). Paths under /run/udev/ are read from $TL_UDEV_RUN_DIR.
 * - fstat() on the opened node. umockdev wraps stat() by path but not fstat(),
 *   so an emulated node reports the pseudo-terminal behind it (136:N); libinput
 *   checks that the node it opened is the udev device it was given and gives up
 *   ("failed to create input device"). The device number umockdev recorded for
 *   the node is put back.
 * - The time of each event. The kernel stamps an event when the device writes
 *   it; umockdev replays an event script with the script's times, seconds from
 *   its start, which a consumer takes for events from long ago (its timers
 *   expire "in the past" at once). Events read from an emulated input node
 *   (major 13) get the time they are read.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <linux/input.h>
#include <time.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

/* The device number umockdev gave the node behind fd; 0 when fd is not an
 * emulated node. */
static dev_t emulated_rdev(int fd)
{
    const char *root = getenv("UMOCKDEV_DIR");
    if (!root)
        return 0;
    char link[64], path[1024], map[2048], number[32];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0)
        return 0;
    path[n] = 0;
    const size_t rootLength = strlen(root);
    const char *rest;
    /* A node with a replayed event script is a pseudo-terminal, mapped in
     * dev/.ptymap; another emulated node lies under the testbed's dev/. */
    if (strncmp(path, "/dev/pts/", 9) == 0) {
        snprintf(map, sizeof map, "%s/dev/.ptymap/", root);
        rest = path;
    } else if (strncmp(path, root, rootLength) == 0 && strncmp(path + rootLength, "/dev/", 5) == 0) {
        snprintf(map, sizeof map, "%s/dev/.node/", root);
        rest = path + rootLength + 5;
    } else {
        return 0;
    }
    char *p = map + strlen(map);
    for (; *rest && p < map + sizeof map - 1; ++rest)
        *p++ = *rest == '/' ? '_' : *rest;
    *p = 0;
    n = readlink(map, number, sizeof number - 1);
    if (n <= 0)
        return 0;
    number[n] = 0;
    unsigned major_, minor_;
    if (sscanf(number, "%u:%u", &major_, &minor_) != 2)
        return 0;
    return makedev(major_, minor_);
}

static void restore_rdev(int fd, dev_t *rdev, mode_t mode)
{
    if (!S_ISCHR(mode))
        return;
    const dev_t emulated = emulated_rdev(fd);
    if (emulated)
        *rdev = emulated;
}

ssize_t read(int fd, void *buffer, size_t size)
{
    static ssize_t (*next)(int, void *, size_t);
    if (!next)
        next = (ssize_t(*)(int, void *, size_t))dlsym(RTLD_NEXT, "read");
    const ssize_t n = next(fd, buffer, size);
    if (n <= 0 || n % (ssize_t)sizeof(struct input_event) != 0)
        return n;
    const dev_t emulated = emulated_rdev(fd);
    if (!emulated || major(emulated) != 13)
        return n;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    struct input_event *events = (struct input_event *)buffer;
    for (ssize_t i = 0; i < n / (ssize_t)sizeof(struct input_event); ++i) {
        events[i].input_event_sec = now.tv_sec;
        events[i].input_event_usec = now.tv_nsec / 1000;
    }
    return n;
}

int fstat(int fd, struct stat *st)
{
    static int (*next)(int, struct stat *);
    if (!next)
        next = (int (*)(int, struct stat *))dlsym(RTLD_NEXT, "fstat");
    const int rc = next(fd, st);
    if (rc == 0)
        restore_rdev(fd, &st->st_rdev, st->st_mode);
    return rc;
}

int fstat64(int fd, struct stat64 *st)
{
    static int (*next)(int, struct stat64 *);
    if (!next)
        next = (int (*)(int, struct stat64 *))dlsym(RTLD_NEXT, "fstat64");
    const int rc = next(fd, st);
    if (rc == 0)
        restore_rdev(fd, &st->st_rdev, st->st_mode);
    return rc;
}

static const char *database(const char *path, char *buffer, size_t size)
{
    const char *dir = getenv("TL_UDEV_RUN_DIR");
    if (dir && path && strncmp(path, "/run/udev/", 10) == 0) {
        snprintf(buffer, size, "%s/%s", dir, path + 10);
        return buffer;
    }
    return path;
}

#define WRAP_OPENAT(name)                                                                      \
    int name(int dirfd, const char *path, int flags, ...)                                      \
    {                                                                                          \
        static int (*next)(int, const char *, int, ...);                                       \
        if (!next)                                                                             \
            next = (int (*)(int, const char *, int, ...))dlsym(RTLD_NEXT, #name);              \
        mode_t mode = 0;                                                                       \
        if (flags & (O_CREAT | O_TMPFILE)) {                                                   \
            va_list ap;                                                                        \
            va_start(ap, flags);                                                               \
            mode = va_arg(ap, mode_t);                                                         \
            va_end(ap);                                                                        \
        }                                                                                      \
        char buffer[2048];                                                                     \
        return next(dirfd, database(path, buffer, sizeof buffer), flags, mode);                \
    }
WRAP_OPENAT(openat)
WRAP_OPENAT(openat64)

#define WRAP_FOPEN(name)                                                                       \
    FILE *name(const char *path, const char *mode)                                             \
    {                                                                                          \
        static FILE *(*next)(const char *, const char *);                                      \
        if (!next)                                                                             \
            next = (FILE * (*)(const char *, const char *)) dlsym(RTLD_NEXT, #name);           \
        char buffer[2048];                                                                     \
        return next(database(path, buffer, sizeof buffer), mode);                              \
    }
WRAP_FOPEN(fopen)
WRAP_FOPEN(fopen64)
