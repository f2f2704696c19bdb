#ifndef FAULTALLOC_H
#define FAULTALLOC_H

// SQLite's memory allocator, wrapped so that the n-th and every later
// allocation fails, as on a machine out of memory. Disarmed it only passes
// the calls on.
namespace FaultAlloc {

// Must come before SQLite is first used: before the first connection and
// before any VFS is registered. True when the allocator is in place.
bool install();

// Disarms and zeroes the counter.
void reset();
// Only counts the allocations, as one from 0.
void count();
void failFrom(int n);
int allocations();

} // namespace FaultAlloc

#endif
