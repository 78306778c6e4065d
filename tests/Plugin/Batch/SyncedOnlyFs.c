/* A file system for tests that keeps only what was synced, as a disk keeps it through a power
 * cut: it passes every call on to a live folder, and notes apart what a sync made durable:
 *   - a file's content, owner and mode when the file is synced (fsync; fdatasync keeps the
 *     content only), whatever names the file has;
 *   - a folder's names when the folder is synced.
 * What the live folder held at the mount is durable from the start. When the file system is
 * unmounted, the power is cut: the cut folder gets what a restart would find, a file never
 * synced empty and without permissions.
 *   SyncedOnlyFs LIVE MOUNT CUT
 * It runs until MOUNT is unmounted; it must run as root (it gives new files their maker's owner). */
#define FUSE_USE_VERSION 31
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

/* One durable name of a folder. */
struct entry {
    char *name;
    long node;         /* the node it names */
};

/* A file, folder or link as the disk keeps it. Nodes are numbered by this program, not by the
 * live folder's inode numbers, which the system reuses once a file is gone. */
struct node {
    ino_t ino;         /* the live inode it was made as; 0 once that inode is gone or reused */
    mode_t type;
    int synced;        /* content (and owner and mode) kept */
    mode_t mode;
    uid_t uid;
    gid_t gid;
    char *link;        /* a link's target */
    struct entry *entries;
    size_t count;
};

static struct node *nodes;
static size_t node_count;
/* A kept file's path: the store's, a slash and a number. */
#define KEPT_MAX (PATH_MAX + 48)
static char live[PATH_MAX], store[PATH_MAX + 16], cut[PATH_MAX];

static void live_path(const char *path, char *out)
{
    snprintf(out, PATH_MAX, "%s%s", live, path);
}

static void store_path(long node, char *out)
{
    snprintf(out, KEPT_MAX, "%s/%ld", store, node);
}

/* The node of a live inode; a new one when none is known. */
static long node_of(const struct stat *st)
{
    for (size_t i = node_count; i-- > 0;)
        if (nodes[i].ino == st->st_ino)
            return (long)i;
    nodes = realloc(nodes, (node_count + 1) * sizeof *nodes);
    memset(&nodes[node_count], 0, sizeof *nodes);
    nodes[node_count].ino = st->st_ino;
    nodes[node_count].type = st->st_mode & S_IFMT;
    return (long)node_count++;
}

/* A live inode made new: whatever the disk kept of an earlier file of that number is that
 * file's, not this one's. */
static void made(const char *path)
{
    char full[PATH_MAX];
    struct stat st;
    live_path(path, full);
    if (lstat(full, &st) != 0)
        return;
    for (size_t i = 0; i < node_count; ++i)
        if (nodes[i].ino == st.st_ino)
            nodes[i].ino = 0;
    node_of(&st);
}

static int copy_fd(int from, const char *to)
{
    char temp[KEPT_MAX + 8], buffer[65536];
    snprintf(temp, sizeof temp, "%s.new", to);
    const int out = open(temp, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0)
        return -errno;
    off_t at = 0;
    ssize_t got;
    while ((got = pread(from, buffer, sizeof buffer, at)) > 0) {
        if (write(out, buffer, (size_t)got) != got) {
            close(out);
            return -EIO;
        }
        at += got;
    }
    close(out);
    return got < 0 ? -errno : (rename(temp, to) == 0 ? 0 : -errno);
}

/* The content (and, unless only the data is synced, owner and mode) of the open file. */
static int keep_file(int fd, int data_only)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return -errno;
    const long n = node_of(&st);
    char kept[KEPT_MAX], again[64];
    store_path(n, kept);
    /* The file may be open for writing only: it is read through a descriptor of its own. */
    snprintf(again, sizeof again, "/proc/self/fd/%d", fd);
    const int in = open(again, O_RDONLY);
    if (in < 0)
        return -errno;
    const int error = copy_fd(in, kept);
    close(in);
    if (error)
        return error;
    if (!data_only || !nodes[n].synced) {
        nodes[n].mode = st.st_mode & 07777;
        nodes[n].uid = st.st_uid;
        nodes[n].gid = st.st_gid;
    }
    nodes[n].synced = 1;
    return 0;
}

/* The names of the live folder as they stand, each kept with its node; f gets the folder's. */
static int keep_folder(const char *full, long *kept)
{
    struct stat st;
    if (lstat(full, &st) != 0)
        return -errno;
    const long f = node_of(&st);
    *kept = f;
    struct node *folder = &nodes[f];
    DIR *dir = opendir(full);
    if (!dir)
        return -errno;
    for (size_t i = 0; i < folder->count; ++i)
        free(folder->entries[i].name);
    folder->count = 0;
    folder->mode = st.st_mode & 07777;
    folder->uid = st.st_uid;
    folder->gid = st.st_gid;
    folder->synced = 1;
    for (struct dirent *e; (e = readdir(dir));) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, ".."))
            continue;
        char child[PATH_MAX];
        struct stat cs;
        snprintf(child, sizeof child, "%s/%s", full, e->d_name);
        if (lstat(child, &cs) != 0)
            continue;
        const long n = node_of(&cs);
        folder = &nodes[f];   /* node_of may have moved the table */
        if (S_ISLNK(cs.st_mode) && !nodes[n].link) {
            char target[PATH_MAX];
            const ssize_t size = readlink(child, target, sizeof target - 1);
            target[size > 0 ? size : 0] = '\0';
            nodes[n].link = strdup(target);
        }
        folder->entries = realloc(folder->entries, (folder->count + 1) * sizeof *folder->entries);
        folder->entries[folder->count].name = strdup(e->d_name);
        folder->entries[folder->count].node = n;
        folder->count++;
    }
    closedir(dir);
    return 0;
}

/* What the live folder holds at the mount is on the disk. */
static void keep_tree(const char *full)
{
    long f = -1;
    if (keep_folder(full, &f) != 0)
        return;
    for (size_t i = 0; i < nodes[f].count; ++i) {
        char child[PATH_MAX];
        snprintf(child, sizeof child, "%s/%s", full, nodes[f].entries[i].name);
        const struct node *node = &nodes[nodes[f].entries[i].node];
        if (S_ISDIR(node->type)) {
            keep_tree(child);
        } else if (S_ISREG(node->type)) {
            const int fd = open(child, O_RDONLY);
            if (fd >= 0) {
                keep_file(fd, 0);
                close(fd);
            }
        }
    }
}

/* Writes the node as the disk holds it at path: the power is cut. */
static void restore(long n, const char *path, int depth)
{
    const struct node *node = &nodes[n];
    if (S_ISDIR(node->type)) {
        if (depth > 0 && mkdir(path, 0700) != 0)
            return;
        for (size_t i = 0; i < node->count && depth < 64; ++i) {
            char child[PATH_MAX];
            snprintf(child, sizeof child, "%s/%s", path, node->entries[i].name);
            restore(node->entries[i].node, child, depth + 1);
        }
    } else if (S_ISLNK(node->type)) {
        if (node->link && symlink(node->link, path) == 0)
            lchown(path, node->uid, node->gid);
        return;
    } else {
        char kept[KEPT_MAX];
        store_path(n, kept);
        const int in = node->synced ? open(kept, O_RDONLY) : -1;
        const int out = in < 0 ? open(path, O_WRONLY | O_CREAT | O_EXCL, 0600) : -1;
        if (in >= 0) {
            copy_fd(in, path);
            close(in);
        }
        if (out >= 0)
            close(out);
    }
    /* A folder's mode came with its name; a file's only with its sync. */
    const mode_t mode = node->synced ? node->mode : (S_ISDIR(node->type) ? 0700 : 0);
    if (chown(path, node->uid, node->gid) != 0 || chmod(path, mode) != 0)
        fprintf(stderr, "SyncedOnlyFs: %s: %s\n", path, strerror(errno));
}

/* ---- The calls, passed on to the live folder ---------------------------------------------- */

#define LIVE(path) \
    char full[PATH_MAX]; \
    live_path(path, full)

static int result(int rc)
{
    return rc < 0 ? -errno : 0;
}

/* A file, folder or link made by the call gets its maker as owner (and the group of a setgid
 * folder, as the system gives it). */
static int owned(const char *path, const char *full)
{
    struct fuse_context *who = fuse_get_context();
    char parent[PATH_MAX];
    struct stat st;
    snprintf(parent, sizeof parent, "%s", full);
    *strrchr(parent, '/') = '\0';
    const int setgid = stat(parent, &st) == 0 && (st.st_mode & S_ISGID);
    if (lchown(full, who->uid, setgid ? (gid_t)-1 : who->gid) != 0)
        return -errno;
    made(path);
    return 0;
}

static void *fs_init(struct fuse_conn_info *conn, struct fuse_config *cfg)
{
    (void)conn;
    cfg->use_ino = 1;
    cfg->hard_remove = 1;
    cfg->nullpath_ok = 1;
    cfg->entry_timeout = cfg->attr_timeout = cfg->negative_timeout = 0;
    return NULL;
}

static int fs_getattr(const char *path, struct stat *st, struct fuse_file_info *fi)
{
    if (fi)
        return result(fstat((int)fi->fh, st));
    LIVE(path);
    return result(lstat(full, st));
}

static int fs_readlink(const char *path, char *buf, size_t size)
{
    LIVE(path);
    const ssize_t n = readlink(full, buf, size - 1);
    if (n < 0)
        return -errno;
    buf[n] = '\0';
    return 0;
}

static int fs_readdir(const char *path, void *buf, fuse_fill_dir_t fill, off_t offset, struct fuse_file_info *fi,
                      enum fuse_readdir_flags flags)
{
    (void)path, (void)offset, (void)flags;
    DIR *dir = fdopendir(dup((int)fi->fh));
    if (!dir)
        return -errno;
    rewinddir(dir);
    for (struct dirent *e; (e = readdir(dir));) {
        struct stat st = {.st_ino = e->d_ino, .st_mode = (mode_t)(e->d_type << 12)};
        if (fill(buf, e->d_name, &st, 0, 0))
            break;
    }
    closedir(dir);
    return 0;
}

static int fs_mkdir(const char *path, mode_t mode)
{
    LIVE(path);
    return mkdir(full, mode) != 0 ? -errno : owned(path, full);
}

static int fs_mknod(const char *path, mode_t mode, dev_t dev)
{
    LIVE(path);
    return mknod(full, mode, dev) != 0 ? -errno : owned(path, full);
}

static int fs_symlink(const char *target, const char *path)
{
    LIVE(path);
    return symlink(target, full) != 0 ? -errno : owned(path, full);
}

static int fs_unlink(const char *path)
{
    LIVE(path);
    return result(unlink(full));
}

static int fs_rmdir(const char *path)
{
    LIVE(path);
    return result(rmdir(full));
}

static int fs_rename(const char *from, const char *to, unsigned int flags)
{
    char a[PATH_MAX], b[PATH_MAX];
    live_path(from, a);
    live_path(to, b);
    return result(renameat2(AT_FDCWD, a, AT_FDCWD, b, flags));
}

static int fs_link(const char *from, const char *to)
{
    char a[PATH_MAX], b[PATH_MAX];
    live_path(from, a);
    live_path(to, b);
    return result(link(a, b));
}

static int fs_chmod(const char *path, mode_t mode, struct fuse_file_info *fi)
{
    if (fi)
        return result(fchmod((int)fi->fh, mode));
    LIVE(path);
    return result(chmod(full, mode));
}

static int fs_chown(const char *path, uid_t uid, gid_t gid, struct fuse_file_info *fi)
{
    if (fi)
        return result(fchown((int)fi->fh, uid, gid));
    LIVE(path);
    return result(lchown(full, uid, gid));
}

static int fs_truncate(const char *path, off_t size, struct fuse_file_info *fi)
{
    if (fi)
        return result(ftruncate((int)fi->fh, size));
    LIVE(path);
    return result(truncate(full, size));
}

static int fs_utimens(const char *path, const struct timespec tv[2], struct fuse_file_info *fi)
{
    if (fi)
        return result(futimens((int)fi->fh, tv));
    LIVE(path);
    return result(utimensat(AT_FDCWD, full, tv, AT_SYMLINK_NOFOLLOW));
}

static int fs_create(const char *path, mode_t mode, struct fuse_file_info *fi)
{
    LIVE(path);
    const int fd = open(full, fi->flags, mode);
    if (fd < 0)
        return -errno;
    fi->fh = (uint64_t)fd;
    return owned(path, full);
}

static int fs_open(const char *path, struct fuse_file_info *fi)
{
    LIVE(path);
    const int fd = open(full, fi->flags);
    if (fd < 0)
        return -errno;
    fi->fh = (uint64_t)fd;
    return 0;
}

static int fs_read(const char *path, char *buf, size_t size, off_t offset, struct fuse_file_info *fi)
{
    (void)path;
    const ssize_t n = pread((int)fi->fh, buf, size, offset);
    return n < 0 ? -errno : (int)n;
}

static int fs_write(const char *path, const char *buf, size_t size, off_t offset, struct fuse_file_info *fi)
{
    (void)path;
    const ssize_t n = pwrite((int)fi->fh, buf, size, offset);
    return n < 0 ? -errno : (int)n;
}

static int fs_statfs(const char *path, struct statvfs *st)
{
    (void)path;
    return result(statvfs(live, st));
}

static int fs_release(const char *path, struct fuse_file_info *fi)
{
    (void)path;
    close((int)fi->fh);
    return 0;
}

static int fs_fsync(const char *path, int datasync, struct fuse_file_info *fi)
{
    (void)path;
    return keep_file((int)fi->fh, datasync);
}

static int fs_opendir(const char *path, struct fuse_file_info *fi)
{
    LIVE(path);
    const int fd = open(full, O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return -errno;
    fi->fh = (uint64_t)fd;
    return 0;
}

static int fs_releasedir(const char *path, struct fuse_file_info *fi)
{
    (void)path;
    close((int)fi->fh);
    return 0;
}

static int fs_fsyncdir(const char *path, int datasync, struct fuse_file_info *fi)
{
    (void)path, (void)datasync;
    char link[64], full[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", (int)fi->fh);
    const ssize_t n = readlink(link, full, sizeof full - 1);
    if (n <= 0)
        return -EIO;
    full[n] = '\0';
    long kept = -1;
    return keep_folder(full, &kept);
}

static void fs_destroy(void *data)
{
    (void)data;
    struct stat st;
    if (lstat(live, &st) == 0)
        restore(node_of(&st), cut, 0);
}

static const struct fuse_operations operations = {
    .init = fs_init,
    .getattr = fs_getattr,
    .readlink = fs_readlink,
    .readdir = fs_readdir,
    .mkdir = fs_mkdir,
    .mknod = fs_mknod,
    .symlink = fs_symlink,
    .unlink = fs_unlink,
    .rmdir = fs_rmdir,
    .rename = fs_rename,
    .link = fs_link,
    .chmod = fs_chmod,
    .chown = fs_chown,
    .truncate = fs_truncate,
    .utimens = fs_utimens,
    .create = fs_create,
    .open = fs_open,
    .read = fs_read,
    .write = fs_write,
    .statfs = fs_statfs,
    .release = fs_release,
    .fsync = fs_fsync,
    .opendir = fs_opendir,
    .releasedir = fs_releasedir,
    .fsyncdir = fs_fsyncdir,
    .destroy = fs_destroy,
};

int main(int argc, char *argv[])
{
    if (argc != 4 || !realpath(argv[1], live) || !realpath(argv[3], cut)) {
        fprintf(stderr, "usage: SyncedOnlyFs LIVE MOUNT CUT (existing folders)\n");
        return 2;
    }
    snprintf(store, sizeof store, "%s.kept.XXXXXX", cut);
    if (!mkdtemp(store)) {
        perror("SyncedOnlyFs");
        return 1;
    }
    keep_tree(live);
    char *args[] = {argv[0], argv[2], "-f", "-s", "-o", "allow_other,default_permissions,fsname=syncedonly", NULL};
    const int rc = fuse_main(6, args, &operations, NULL);
    /* The kept contents are in the cut tree now; their store goes. */
    char command[PATH_MAX + 48];
    snprintf(command, sizeof command, "rm -rf '%s'", store);
    return system(command) == 0 ? rc : 1;
}
