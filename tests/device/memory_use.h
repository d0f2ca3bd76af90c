// Measuring memory across many start-ups and shut-downs of the device.
#pragma once

// Heap memory in use, from the allocator (resident memory would also count
// freed blocks the allocator keeps, and AddressSanitizer's quarantine).
long MemoryInUseKilobytes();

// A Vulkan instance and device made and destroyed without the stand-in:
// Mesa's drivers keep memory of their own for each (measured: about 68 KiB
// per cycle on lavapipe), which the stand-in must not be blamed for.
void DriverOnlyCycle();
