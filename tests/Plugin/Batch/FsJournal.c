/* A file-system observer for tests, preloaded into a program (LD_PRELOAD): it writes to the file
 * $KESTO_FS_JOURNAL one line for each of the program's calls below that touches a path under
 * $KESTO_FS_WATCH, in the order of the calls, its fields separated by tabs:
 *   create MODE PATH     a file made by an open (MODE: its permission bits, octal)
 *   chmod MODE PATH      a mode given to a file
 *   sync PATH            a file's content synced (fsync, fdatasync)
 *   syncdir PATH         a folder synced
 *   rename FROM TO       a file renamed (over TO)
 *   link FROM TO         a file linked under a new name
 * Paths are absolute, as the system names them. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef O_TMPFILE
#define O_TMPFILE 0
#endif

static int journal = -1;

static void *next(const char *name)
{
    return dlsym(RTLD_NEXT, name);
}

static int watched(const char *path)
{
    const char *watch = getenv("KESTO_FS_WATCH");
    return path && watch && *watch && strncmp(path, watch, strlen(watch)) == 0;
}

static void note(const char *line)
{
    if (journal < 0) {
        const char *name = getenv("KESTO_FS_JOURNAL");
        int (*real_open)(const char *, int, ...) = next("open");
        if (!name || !real_open)
            return;
        journal = real_open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (journal < 0)
            return;
    }
    ssize_t ignored = write(journal, line, strlen(line));
    (void)ignored;
}

/* The absolute form of a path given to a call relative to dirfd. */
static void absolute(int dirfd, const char *path, char *out)
{
    char base[PATH_MAX] = "";
    if (path[0] == '/') {
        snprintf(out, PATH_MAX, "%s", path);
        return;
    }
    if (dirfd == AT_FDCWD) {
        if (!getcwd(base, sizeof base))
            base[0] = '\0';
    } else {
        char link[64];
        snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
        ssize_t n = readlink(link, base, sizeof base - 1);
        base[n > 0 ? n : 0] = '\0';
    }
    /* A path longer than the system takes is noted cut: no call could have named it whole. */
    if (snprintf(out, PATH_MAX, "%s/%s", base, path) >= PATH_MAX)
        out[PATH_MAX - 1] = '\0';
}

static void fd_path(int fd, char *out)
{
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, out, PATH_MAX - 1);
    out[n > 0 ? n : 0] = '\0';
}

static void note_path(const char *what, unsigned mode, const char *path)
{
    if (!watched(path))
        return;
    char line[PATH_MAX + 64];
    if (mode != ~0u)
        snprintf(line, sizeof line, "%s\t%04o\t%s\n", what, mode, path);
    else
        snprintf(line, sizeof line, "%s\t%s\n", what, path);
    note(line);
}

static void note_pair(const char *what, const char *from, const char *to)
{
    if (!watched(from) && !watched(to))
        return;
    char line[2 * PATH_MAX + 16];
    snprintf(line, sizeof line, "%s\t%s\t%s\n", what, from, to);
    note(line);
}

static int opened(int dirfd, const char *path, int flags, mode_t mode,
                  int (*call)(int, const char *, int, mode_t))
{
    char full[PATH_MAX];
    absolute(dirfd, path, full);
    struct stat before;
    const int creating = (flags & O_CREAT) && lstat(full, &before) != 0;
    const int fd = call(dirfd, path, flags, mode);
    struct stat after;
    if (fd >= 0 && creating && fstat(fd, &after) == 0)
        note_path("create", after.st_mode & 07777, full);
    return fd;
}

static int call_openat(int dirfd, const char *path, int flags, mode_t mode)
{
    int (*real)(int, const char *, int, ...) = next("openat");
    return real(dirfd, path, flags, mode);
}

#define MODE_ARG(flags)                                  \
    mode_t mode = 0;                                     \
    if ((flags) & (O_CREAT | O_TMPFILE)) {               \
        va_list ap;                                      \
        va_start(ap, flags);                             \
        mode = (mode_t)va_arg(ap, int);                  \
        va_end(ap);                                      \
    }

int open(const char *path, int flags, ...)
{
    MODE_ARG(flags)
    return opened(AT_FDCWD, path, flags, mode, call_openat);
}

int open64(const char *path, int flags, ...)
{
    MODE_ARG(flags)
    return opened(AT_FDCWD, path, flags, mode, call_openat);
}

int openat(int dirfd, const char *path, int flags, ...)
{
    MODE_ARG(flags)
    return opened(dirfd, path, flags, mode, call_openat);
}

int openat64(int dirfd, const char *path, int flags, ...)
{
    MODE_ARG(flags)
    return opened(dirfd, path, flags, mode, call_openat);
}

int creat(const char *path, mode_t mode)
{
    return opened(AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC, mode, call_openat);
}

static void note_sync(int fd)
{
    struct stat st;
    char path[PATH_MAX];
    if (fstat(fd, &st) != 0)
        return;
    fd_path(fd, path);
    note_path(S_ISDIR(st.st_mode) ? "syncdir" : "sync", ~0u, path);
}

/* The next definition of the call, given the arguments; when it succeeds, `noted` is noted. */
#define PASS_ON(call, type, args, noted)          \
    const int rc = ((type)next(#call))args;       \
    if (rc == 0)                                  \
        noted;                                    \
    return rc;

int fsync(int fd) { PASS_ON(fsync, int (*)(int), (fd), note_sync(fd)) }

int fdatasync(int fd) { PASS_ON(fdatasync, int (*)(int), (fd), note_sync(fd)) }

static void note_rename(const char *what, int fromfd, const char *from, int tofd, const char *to)
{
    char a[PATH_MAX], b[PATH_MAX];
    absolute(fromfd, from, a);
    absolute(tofd, to, b);
    note_pair(what, a, b);
}

int rename(const char *from, const char *to)
{
    PASS_ON(rename, int (*)(const char *, const char *), (from, to),
            note_rename("rename", AT_FDCWD, from, AT_FDCWD, to))
}

int renameat(int fromfd, const char *from, int tofd, const char *to)
{
    PASS_ON(renameat, int (*)(int, const char *, int, const char *), (fromfd, from, tofd, to),
            note_rename("rename", fromfd, from, tofd, to))
}

int renameat2(int fromfd, const char *from, int tofd, const char *to, unsigned flags)
{
    PASS_ON(renameat2, int (*)(int, const char *, int, const char *, unsigned), (fromfd, from, tofd, to, flags),
            note_rename("rename", fromfd, from, tofd, to))
}

int link(const char *from, const char *to)
{
    PASS_ON(link, int (*)(const char *, const char *), (from, to), note_rename("link", AT_FDCWD, from, AT_FDCWD, to))
}

int linkat(int fromfd, const char *from, int tofd, const char *to, int flags)
{
    PASS_ON(linkat, int (*)(int, const char *, int, const char *, int), (fromfd, from, tofd, to, flags),
            note_rename("link", fromfd, from, tofd, to))
}

static void note_chmod(int dirfd, const char *path, mode_t mode)
{
    char full[PATH_MAX];
    absolute(dirfd, path, full);
    note_path("chmod", mode & 07777, full);
}

static void note_fchmod(int fd, mode_t mode)
{
    char path[PATH_MAX];
    fd_path(fd, path);
    note_path("chmod", mode & 07777, path);
}

int fchmod(int fd, mode_t mode) { PASS_ON(fchmod, int (*)(int, mode_t), (fd, mode), note_fchmod(fd, mode)) }

int chmod(const char *path, mode_t mode)
{
    PASS_ON(chmod, int (*)(const char *, mode_t), (path, mode), note_chmod(AT_FDCWD, path, mode))
}

int fchmodat(int dirfd, const char *path, mode_t mode, int flags)
{
    PASS_ON(fchmodat, int (*)(int, const char *, mode_t, int), (dirfd, path, mode, flags),
            note_chmod(dirfd, path, mode))
}
