#pragma once
// What the machine allows: its physical memory, what this process may still
// use, and the largest system whose dense inverse (Invert, FullMatrix::inv)
// is still worth building.

#include <cstdint>

// Physical memory in bytes (sysconf); 0 when the system does not say.
// Tests may replace it.
extern uint64_t (*physicalMemory)();
// Bytes this process may still allocate: the least of physical memory, the
// system's available memory, mappingRoom() and the room left under its
// cgroup's memory limit; 0 when none is known, which callers take as
// nothing to check against.
uint64_t usableMemory();
// Address space the process maps now (VmSize); 0 when the system does not say.
uint64_t addressSpaceUsed();
// Address space left under RLIMIT_AS after what the process maps already
// (VmSize); 0 when there is no limit, at least 1 under one.
uint64_t addressSpaceRoom();
// Room left under RLIMIT_DATA after the process's private writable
// mappings (VmData: heap, anonymous maps, thread stacks), which the limit
// counts since Linux 4.7; 0 when there is no limit, at least 1 under one.
uint64_t dataSegmentRoom();
// What a new private mapping may still take, touched or not: the least of
// addressSpaceRoom() and dataSegmentRoom(); 0 under neither limit.
uint64_t mappingRoom();

// Unknowns up to which a direct solve is a dense inverse (Invert,
// FullMatrix::inv); above them the sparse Cholesky factor is quicker to
// build and to apply. Benchmarks may change it to compare rules.
extern int64_t denseInverseCrossover;
// Unknowns above which a dense inverse is refused: denseInverseCrossover,
// or fewer where three n x n arrays of doubles would pass an eighth of
// physical memory (when the system tells it).
int64_t denseInverseLimit();
// True when a dense inverse of `unknowns` x `unknowns` stays within the limit.
bool denseInverseFits(int64_t unknowns);
// Bytes the inversion of an n x n matrix holds at its peak.
uint64_t denseInverseBytes(int64_t unknowns);
