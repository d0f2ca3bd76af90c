#include "tests/fakes/array_allocation.h"

#include <cstdlib>
#include <new>

namespace {

int g_countdown = 0;

bool ShouldFail() { return g_countdown > 0 && --g_countdown == 0; }

void* Allocate(std::size_t size, std::size_t alignment) {
    size = size == 0 ? alignment : (size + alignment - 1) / alignment * alignment;
    return std::aligned_alloc(alignment, size);
}

void* AllocateOrThrow(std::size_t size, std::size_t alignment) {
    void* memory = Allocate(size, alignment);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}

}  // namespace

void FailNothrowArrayAllocation(int count) { g_countdown = count; }

void* operator new[](std::size_t size) {
    return AllocateOrThrow(size, __STDCPP_DEFAULT_NEW_ALIGNMENT__);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return AllocateOrThrow(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return ShouldFail() ? nullptr : Allocate(size, __STDCPP_DEFAULT_NEW_ALIGNMENT__);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return ShouldFail() ? nullptr : Allocate(size, static_cast<std::size_t>(alignment));
}
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(memory);
}
