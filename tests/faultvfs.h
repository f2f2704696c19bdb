#ifndef FAULTVFS_H
#define FAULTVFS_H

// A SQLite VFS wrapping the default unix VFS and registered as the new
// default, so that the store's own plain open goes through it. While it is
// disarmed every call passes straight through; armed, it counts the I/O calls
// of every file opened through it and fails, or freezes, the n-th one as a
// broken disk, a full disk or a machine that stops dead would.
namespace FaultVfs {

enum class Point { Write, Sync, Delete, Read };

enum class Action {
    Count,    // only count
    FailOnce, // the n-th call fails, later ones work again
    FailFrom, // the n-th and every later call fails, as a disk that stays full
    Stall     // the n-th call prints "stall" on stdout and never returns
};

// Registers the VFS as default; further calls do nothing.
void install();
const char *name();

// Disarms everything and zeroes the counters.
void reset();
void arm(Point point, Action action, int n = 0, int code = 0);
int count(Point point);

// While set, main database files are opened read-only whatever SQLite asks
// for, so that SQLite itself refuses every write to them.
void setReadOnlyOpen(bool readOnly);

} // namespace FaultVfs

#endif
