#include "faultvfs.h"

#include <sqlite3.h>

#include <cstring>
#include <unistd.h>

namespace FaultVfs {
namespace {

struct State
{
    bool armed = false;
    Point point = Point::Write;
    Action action = Action::Count;
    int n = 0;
    int code = 0;
    int counts[4] = {0, 0, 0, 0};
    bool readOnlyOpen = false;
};

State state;
sqlite3_vfs *base = nullptr;
sqlite3_vfs vfs;

struct File
{
    sqlite3_file file;
    sqlite3_file *real;
};

sqlite3_file *realOf(sqlite3_file *f)
{
    return reinterpret_cast<File *>(f)->real;
}

[[noreturn]] void stall()
{
    static const char text[] = "stall\n";
    // The parent waits for this word and then kills us; stdio buffers could
    // hold it back, a plain write cannot.
    (void)!::write(1, text, sizeof text - 1);
    for (;;)
        ::pause();
}

// Counts one call at the point and tells whether it must fail (with the
// code returned through rc). A stall never comes back.
bool hit(Point point, int &rc)
{
    if (!state.armed)
        return false;
    const int number = ++state.counts[static_cast<int>(point)];
    if (point != state.point)
        return false;
    switch (state.action) {
    case Action::Count:
        return false;
    case Action::FailOnce:
        rc = state.code;
        return number == state.n;
    case Action::FailFrom:
        rc = state.code;
        return number >= state.n;
    case Action::Stall:
        if (number == state.n)
            stall();
        return false;
    }
    return false;
}

int xClose(sqlite3_file *f)
{
    sqlite3_file *real = realOf(f);
    const int rc = real->pMethods ? real->pMethods->xClose(real) : SQLITE_OK;
    f->pMethods = nullptr;
    return rc;
}

int xRead(sqlite3_file *f, void *buffer, int amount, sqlite3_int64 offset)
{
    int rc = SQLITE_OK;
    if (hit(Point::Read, rc))
        return rc;
    sqlite3_file *real = realOf(f);
    return real->pMethods->xRead(real, buffer, amount, offset);
}

int xWrite(sqlite3_file *f, const void *buffer, int amount, sqlite3_int64 offset)
{
    int rc = SQLITE_OK;
    if (hit(Point::Write, rc))
        return rc;
    sqlite3_file *real = realOf(f);
    return real->pMethods->xWrite(real, buffer, amount, offset);
}

int xTruncate(sqlite3_file *f, sqlite3_int64 size)
{
    sqlite3_file *real = realOf(f);
    return real->pMethods->xTruncate(real, size);
}

// A sync is counted and can fail, but it never waits for the disk: the
// tests kill processes, never the machine, so the page cache survives every
// fault they make, and hundreds of real flushes would only make them slow.
int xSync(sqlite3_file *, int)
{
    int rc = SQLITE_OK;
    if (hit(Point::Sync, rc))
        return rc;
    return SQLITE_OK;
}

int xFileSize(sqlite3_file *f, sqlite3_int64 *size)
{
    sqlite3_file *real = realOf(f);
    return real->pMethods->xFileSize(real, size);
}

int xLock(sqlite3_file *f, int level)
{
    sqlite3_file *real = realOf(f);
    return real->pMethods->xLock(real, level);
}

int xUnlock(sqlite3_file *f, int level)
{
    sqlite3_file *real = realOf(f);
    return real->pMethods->xUnlock(real, level);
}

int xCheckReservedLock(sqlite3_file *f, int *result)
{
    sqlite3_file *real = realOf(f);
    return real->pMethods->xCheckReservedLock(real, result);
}

int xFileControl(sqlite3_file *f, int op, void *arg)
{
    sqlite3_file *real = realOf(f);
    return real->pMethods->xFileControl(real, op, arg);
}

int xSectorSize(sqlite3_file *f)
{
    sqlite3_file *real = realOf(f);
    return real->pMethods->xSectorSize(real);
}

int xDeviceCharacteristics(sqlite3_file *f)
{
    sqlite3_file *real = realOf(f);
    return real->pMethods->xDeviceCharacteristics(real);
}

int xShmMap(sqlite3_file *f, int region, int size, int extend, void volatile **p)
{
    sqlite3_file *real = realOf(f);
    return real->pMethods->xShmMap(real, region, size, extend, p);
}

int xShmLock(sqlite3_file *f, int offset, int n, int flags)
{
    sqlite3_file *real = realOf(f);
    return real->pMethods->xShmLock(real, offset, n, flags);
}

void xShmBarrier(sqlite3_file *f)
{
    sqlite3_file *real = realOf(f);
    real->pMethods->xShmBarrier(real);
}

int xShmUnmap(sqlite3_file *f, int deleteFlag)
{
    sqlite3_file *real = realOf(f);
    return real->pMethods->xShmUnmap(real, deleteFlag);
}

int xFetch(sqlite3_file *f, sqlite3_int64 offset, int amount, void **p)
{
    sqlite3_file *real = realOf(f);
    return real->pMethods->xFetch(real, offset, amount, p);
}

int xUnfetch(sqlite3_file *f, sqlite3_int64 offset, void *p)
{
    sqlite3_file *real = realOf(f);
    return real->pMethods->xUnfetch(real, offset, p);
}

const sqlite3_io_methods ioMethods = {
    3,
    xClose,
    xRead,
    xWrite,
    xTruncate,
    xSync,
    xFileSize,
    xLock,
    xUnlock,
    xCheckReservedLock,
    xFileControl,
    xSectorSize,
    xDeviceCharacteristics,
    xShmMap,
    xShmLock,
    xShmBarrier,
    xShmUnmap,
    xFetch,
    xUnfetch,
};

int xOpen(sqlite3_vfs *, const char *name, sqlite3_file *f, int flags, int *outFlags)
{
    auto *file = reinterpret_cast<File *>(f);
    file->real = reinterpret_cast<sqlite3_file *>(file + 1);
    if (state.readOnlyOpen && (flags & SQLITE_OPEN_MAIN_DB)) {
        flags &= ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        flags |= SQLITE_OPEN_READONLY;
    }
    const int rc = base->xOpen(base, name, file->real, flags, outFlags);
    f->pMethods = file->real->pMethods ? &ioMethods : nullptr;
    return rc;
}

int xDelete(sqlite3_vfs *, const char *name, int syncDir)
{
    int rc = SQLITE_OK;
    if (hit(Point::Delete, rc))
        return rc;
    return base->xDelete(base, name, syncDir);
}

int xAccess(sqlite3_vfs *, const char *name, int flags, int *result)
{
    return base->xAccess(base, name, flags, result);
}

int xFullPathname(sqlite3_vfs *, const char *name, int size, char *out)
{
    return base->xFullPathname(base, name, size, out);
}

void *xDlOpen(sqlite3_vfs *, const char *name)
{
    return base->xDlOpen(base, name);
}

void xDlError(sqlite3_vfs *, int size, char *out)
{
    base->xDlError(base, size, out);
}

void (*xDlSym(sqlite3_vfs *, void *handle, const char *symbol))(void)
{
    return base->xDlSym(base, handle, symbol);
}

void xDlClose(sqlite3_vfs *, void *handle)
{
    base->xDlClose(base, handle);
}

int xRandomness(sqlite3_vfs *, int size, char *out)
{
    return base->xRandomness(base, size, out);
}

int xSleep(sqlite3_vfs *, int microseconds)
{
    return base->xSleep(base, microseconds);
}

int xCurrentTime(sqlite3_vfs *, double *now)
{
    return base->xCurrentTime(base, now);
}

int xGetLastError(sqlite3_vfs *, int size, char *out)
{
    return base->xGetLastError(base, size, out);
}

int xCurrentTimeInt64(sqlite3_vfs *, sqlite3_int64 *now)
{
    return base->xCurrentTimeInt64(base, now);
}

int xSetSystemCall(sqlite3_vfs *, const char *callName, sqlite3_syscall_ptr call)
{
    return base->xSetSystemCall(base, callName, call);
}

sqlite3_syscall_ptr xGetSystemCall(sqlite3_vfs *, const char *callName)
{
    return base->xGetSystemCall(base, callName);
}

const char *xNextSystemCall(sqlite3_vfs *, const char *callName)
{
    return base->xNextSystemCall(base, callName);
}

} // namespace

void install()
{
    if (base)
        return;
    base = sqlite3_vfs_find("unix");
    std::memset(&vfs, 0, sizeof vfs);
    vfs.iVersion = 3;
    vfs.szOsFile = static_cast<int>(sizeof(File)) + base->szOsFile;
    vfs.mxPathname = base->mxPathname;
    vfs.zName = name();
    vfs.xOpen = xOpen;
    vfs.xDelete = xDelete;
    vfs.xAccess = xAccess;
    vfs.xFullPathname = xFullPathname;
    vfs.xDlOpen = xDlOpen;
    vfs.xDlError = xDlError;
    vfs.xDlSym = xDlSym;
    vfs.xDlClose = xDlClose;
    vfs.xRandomness = xRandomness;
    vfs.xSleep = xSleep;
    vfs.xCurrentTime = xCurrentTime;
    vfs.xGetLastError = xGetLastError;
    vfs.xCurrentTimeInt64 = xCurrentTimeInt64;
    vfs.xSetSystemCall = xSetSystemCall;
    vfs.xGetSystemCall = xGetSystemCall;
    vfs.xNextSystemCall = xNextSystemCall;
    sqlite3_vfs_register(&vfs, 1);
}

const char *name()
{
    return "nivlets-fault";
}

void reset()
{
    const bool readOnly = state.readOnlyOpen;
    state = State();
    state.readOnlyOpen = readOnly;
}

void arm(Point point, Action action, int n, int code)
{
    reset();
    state.armed = true;
    state.point = point;
    state.action = action;
    state.n = n;
    state.code = code;
}

int count(Point point)
{
    return state.counts[static_cast<int>(point)];
}

void setReadOnlyOpen(bool readOnly)
{
    state.readOnlyOpen = readOnly;
}

} // namespace FaultVfs
