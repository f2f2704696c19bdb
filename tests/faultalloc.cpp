#include "faultalloc.h"

#include <sqlite3.h>

namespace FaultAlloc {
namespace {

sqlite3_mem_methods base;
bool installed = false;
bool armed = false;
int counted = 0;
int failing = 0;

bool fails()
{
    if (!armed)
        return false;
    ++counted;
    return failing > 0 && counted >= failing;
}

void *xMalloc(int size)
{
    return fails() ? nullptr : base.xMalloc(size);
}

void *xRealloc(void *old, int size)
{
    return fails() ? nullptr : base.xRealloc(old, size);
}

} // namespace

bool install()
{
    if (installed)
        return true;
    sqlite3_config(SQLITE_CONFIG_GETMALLOC, &base);
    sqlite3_mem_methods wrapped = base;
    wrapped.xMalloc = xMalloc;
    wrapped.xRealloc = xRealloc;
    installed = sqlite3_config(SQLITE_CONFIG_MALLOC, &wrapped) == SQLITE_OK;
    return installed;
}

void reset()
{
    armed = false;
    counted = 0;
    failing = 0;
}

void count()
{
    reset();
    armed = true;
}

void failFrom(int n)
{
    reset();
    armed = true;
    failing = n;
}

int allocations()
{
    return counted;
}

} // namespace FaultAlloc
