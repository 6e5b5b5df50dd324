// Running out of memory on purpose: the test program's operator new can be
// told to fail one allocation, counted from now, as a full heap would.
#pragma once

namespace headlink::testing {

// Makes the allocation `n` allocations from now (0: the next one) throw
// std::bad_alloc; every other allocation works.
void failAllocation(long n);
// Stops counting; true when the chosen allocation was reached (and failed).
bool allocationFailed();

}  // namespace headlink::testing
