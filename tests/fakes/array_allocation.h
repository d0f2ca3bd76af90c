// The test program replaces the array forms of operator new and delete, so a
// test can make the plug-in's non-throwing array allocations fail on demand.
#pragma once

// The count-th non-throwing array allocation from now (1 = the next) returns null.
void FailNothrowArrayAllocation(int count);
