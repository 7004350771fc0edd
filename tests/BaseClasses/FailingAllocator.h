#pragma once
// The test executable's operator new fails on request, so that code which
// must survive running out of memory can be made to meet it: the next count
// allocations of the calling thread throw std::bad_alloc.

void FailNextAllocations(int count);
// How many of the requested failures have not happened yet.
int PendingAllocationFailures();
