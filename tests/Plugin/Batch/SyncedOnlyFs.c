/* A test file system that keeps only what was synced, as a disk through a power cut: it passes
 * calls on to LIVE and keeps a file's content, owner and mode on fsync (content only on fdatasync)
 * and a folder's names on fsyncdir; LIVE's content at the mount is kept from the start. On unmount
 * CUT gets what a restart would find (a file never synced empty, mode 0). Runs as root until
 * MOUNT is unmounted:  SyncedOnlyFs LIVE MOUNT CUT */
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
#include <unistd.h>

struct entry {
    char *name;
    long node;
};

/* A file or folder as the disk keeps it; numbered here, as the system reuses inode numbers. */
struct node {
    ino_t ino;               /* the live inode it was made as; 0 once gone or reused */
    mode_t type, mode;
    uid_t uid;
    gid_t gid;
    int synced;              /* content, owner and mode kept */
    char *data;              /* a file's kept content */
    size_t size;
    struct entry *entries;   /* a folder's kept names */
    size_t count;
};

static struct node *nodes;
static size_t node_count;
static char live[PATH_MAX], cut[PATH_MAX];

#define LIVE(path) \
    char full[PATH_MAX]; \
    snprintf(full, sizeof full, "%s%s", live, path)

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

static void keep_owner(struct node *node, const struct stat *st)
{
    node->mode = st->st_mode & 07777;
    node->uid = st->st_uid;
    node->gid = st->st_gid;
    node->synced = 1;
}

/* A live inode made new: what was kept of an earlier file of that number is not its. */
static void made(const char *path)
{
    LIVE(path);
    struct stat st;
    if (lstat(full, &st) != 0)
        return;
    for (size_t i = 0; i < node_count; ++i)
        if (nodes[i].ino == st.st_ino)
            nodes[i].ino = 0;
    node_of(&st);
}

static int keep_file(int fd, int data_only)
{
    char again[64];   /* read through a descriptor of its own: fd may be write-only */
    snprintf(again, sizeof again, "/proc/self/fd/%d", fd);
    struct stat st;
    const int in = open(again, O_RDONLY);
    if (in < 0 || fstat(in, &st) != 0)
        return -errno;
    struct node *node = &nodes[node_of(&st)];
    node->data = realloc(node->data, (size_t)st.st_size + 1);
    node->size = 0;
    for (ssize_t got; node->size < (size_t)st.st_size &&
                      (got = pread(in, node->data + node->size, (size_t)st.st_size - node->size, (off_t)node->size)) > 0;)
        node->size += (size_t)got;
    close(in);
    if (!data_only || !node->synced)
        keep_owner(node, &st);
    return 0;
}

/* Keeps the live folder's names as they stand; answers its node, or -errno. */
static long keep_folder(const char *full)
{
    struct stat st;
    DIR *dir = lstat(full, &st) == 0 ? opendir(full) : NULL;
    if (!dir)
        return -errno;
    const long f = node_of(&st);
    for (size_t i = 0; i < nodes[f].count; ++i)
        free(nodes[f].entries[i].name);
    nodes[f].count = 0;
    keep_owner(&nodes[f], &st);
    for (struct dirent *e; (e = readdir(dir));) {
        char child[PATH_MAX];
        struct stat cs;
        snprintf(child, sizeof child, "%s/%s", full, e->d_name);
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..") || lstat(child, &cs) != 0)
            continue;
        const long n = node_of(&cs);
        struct node *folder = &nodes[f];   /* node_of may have moved the table */
        folder->entries = realloc(folder->entries, (folder->count + 1) * sizeof *folder->entries);
        folder->entries[folder->count++] = (struct entry){strdup(e->d_name), n};
    }
    closedir(dir);
    return f;
}

static void keep_tree(const char *full)
{
    const long f = keep_folder(full);
    for (size_t i = 0; f >= 0 && i < nodes[f].count; ++i) {
        char child[PATH_MAX];
        snprintf(child, sizeof child, "%s/%s", full, nodes[f].entries[i].name);
        const int fd = S_ISREG(nodes[nodes[f].entries[i].node].type) ? open(child, O_RDONLY) : -1;
        if (S_ISDIR(nodes[nodes[f].entries[i].node].type))
            keep_tree(child);
        else if (fd >= 0)
            keep_file(fd, 0), close(fd);
    }
}

/* Writes the node at path as the disk holds it. */
static void restore(const struct node *node, const char *path, int depth)
{
    if (S_ISDIR(node->type)) {
        if (depth > 0 && mkdir(path, 0700) != 0)
            return;
        for (size_t i = 0; i < node->count && depth < 64; ++i) {
            char child[PATH_MAX];
            snprintf(child, sizeof child, "%s/%s", path, node->entries[i].name);
            restore(&nodes[node->entries[i].node], child, depth + 1);
        }
    } else {
        const int out = open(path, O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (out < 0 || write(out, node->data, node->size) != (ssize_t)node->size)
            fprintf(stderr, "SyncedOnlyFs: %s: not written\n", path);
        close(out);
    }
    const mode_t mode = node->synced ? node->mode : (S_ISDIR(node->type) ? 0700 : 0);
    if (chown(path, node->uid, node->gid) != 0 || chmod(path, mode) != 0)
        fprintf(stderr, "SyncedOnlyFs: %s: %s\n", path, strerror(errno));
}

static int result(int rc)
{
    return rc < 0 ? -errno : 0;
}

/* A call on the open file when there is one, else on the path. */
#define ON_FILE_OR_PATH(on_file, on_path) \
    if (fi) \
        return result(on_file); \
    LIVE(path); \
    return result(on_path)

/* What a call makes gets its maker as owner. */
static int owned(const char *path, const char *full)
{
    if (lchown(full, fuse_get_context()->uid, fuse_get_context()->gid) != 0)
        return -errno;
    made(path);
    return 0;
}

static void *fs_init(struct fuse_conn_info *conn, struct fuse_config *cfg)
{
    (void)conn;
    cfg->use_ino = cfg->hard_remove = cfg->nullpath_ok = 1;
    cfg->entry_timeout = cfg->attr_timeout = cfg->negative_timeout = 0;
    return NULL;
}

/* The calls that take an open file or a path, passed on to the live folder. */
static int fs_getattr(const char *path, struct stat *st, struct fuse_file_info *fi)
{ ON_FILE_OR_PATH(fstat((int)fi->fh, st), lstat(full, st)); }
static int fs_chmod(const char *path, mode_t mode, struct fuse_file_info *fi)
{ ON_FILE_OR_PATH(fchmod((int)fi->fh, mode), chmod(full, mode)); }
static int fs_chown(const char *path, uid_t uid, gid_t gid, struct fuse_file_info *fi)
{ ON_FILE_OR_PATH(fchown((int)fi->fh, uid, gid), lchown(full, uid, gid)); }
static int fs_truncate(const char *path, off_t size, struct fuse_file_info *fi)
{ ON_FILE_OR_PATH(ftruncate((int)fi->fh, size), truncate(full, size)); }
static int fs_remove(const char *path) { LIVE(path); return result(remove(full)); }
static int fs_release(const char *path, struct fuse_file_info *fi) { (void)path; return result(close((int)fi->fh)); }
static int fs_fsync(const char *path, int datasync, struct fuse_file_info *fi)
{ (void)path; return keep_file((int)fi->fh, datasync); }

static int done(ssize_t n) { return n < 0 ? -errno : (int)n; }
static int fs_read(const char *path, char *buf, size_t size, off_t offset, struct fuse_file_info *fi)
{ (void)path; return done(pread((int)fi->fh, buf, size, offset)); }
static int fs_write(const char *path, const char *buf, size_t size, off_t offset, struct fuse_file_info *fi)
{ (void)path; return done(pwrite((int)fi->fh, buf, size, offset)); }

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

/* flags ~0u: a hard link */
static int fs_rename(const char *from, const char *to, unsigned int flags)
{
    char a[PATH_MAX], b[PATH_MAX];
    snprintf(a, sizeof a, "%s%s", live, from);
    snprintf(b, sizeof b, "%s%s", live, to);
    return result(flags == ~0u ? link(a, b) : renameat2(AT_FDCWD, a, AT_FDCWD, b, flags));
}

static int fs_link(const char *from, const char *to) { return fs_rename(from, to, ~0u); }

/* A file opened (made, with create; a folder, with opendir) on the live folder. */
static int opened(const char *path, struct fuse_file_info *fi, int create, mode_t mode)
{
    LIVE(path);
    const int fd = create > 0 ? open(full, fi->flags, mode) : create < 0 ? mkdir(full, mode) : open(full, fi->flags);
    if (fi)
        fi->fh = (uint64_t)fd;
    return fd < 0 ? -errno : create ? owned(path, full) : 0;
}

static int fs_create(const char *path, mode_t mode, struct fuse_file_info *fi) { return opened(path, fi, 1, mode); }
static int fs_mkdir(const char *path, mode_t mode) { return opened(path, NULL, -1, mode); }
static int fs_open(const char *path, struct fuse_file_info *fi) { return opened(path, fi, 0, 0); }

static int fs_fsyncdir(const char *path, int datasync, struct fuse_file_info *fi)
{
    (void)path, (void)datasync;
    char link[64], full[PATH_MAX] = {0};
    snprintf(link, sizeof link, "/proc/self/fd/%d", (int)fi->fh);
    const long kept = readlink(link, full, sizeof full - 1) > 0 ? keep_folder(full) : -EIO;
    return kept < 0 ? (int)kept : 0;
}

static void fs_destroy(void *data)
{
    (void)data;
    struct stat st;
    if (lstat(live, &st) == 0)
        restore(&nodes[node_of(&st)], cut, 0);
}

static const struct fuse_operations operations = {
    .init = fs_init,         .getattr = fs_getattr, .chmod = fs_chmod,     .chown = fs_chown,
    .truncate = fs_truncate, .readdir = fs_readdir, .mkdir = fs_mkdir,     .unlink = fs_remove,
    .rmdir = fs_remove,      .rename = fs_rename,   .link = fs_link,       .create = fs_create,
    .open = fs_open,         .read = fs_read,       .write = fs_write,     .release = fs_release,
    .fsync = fs_fsync,       .opendir = fs_open,    .releasedir = fs_release, .fsyncdir = fs_fsyncdir,
    .destroy = fs_destroy,
};

int main(int argc, char *argv[])
{
    if (argc != 4 || !realpath(argv[1], live) || !realpath(argv[3], cut)) {
        fprintf(stderr, "usage: SyncedOnlyFs LIVE MOUNT CUT (existing folders)\n");
        return 2;
    }
    keep_tree(live);
    char *args[] = {argv[0], argv[2], "-f", "-s", "-o", "allow_other,default_permissions,fsname=syncedonly", NULL};
    return fuse_main(6, args, &operations, NULL);
}
