#include "host/filter/pe_imports.h"

#include <cstring>

namespace {

template <typename T>
T* At(HMODULE module, DWORD rva) {
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + rva);
}

bool WriteSlot(void** slot, void* value) {
    DWORD previous;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous)) return false;
    *slot = value;
    VirtualProtect(slot, sizeof *slot, previous, &previous);
    return true;
}

const IMAGE_IMPORT_DESCRIPTOR* ImportDescriptors(HMODULE module) {
    if (module == nullptr) return nullptr;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
    const auto* nt = At<const IMAGE_NT_HEADERS>(module, dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return nullptr;
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return nullptr;
    return At<const IMAGE_IMPORT_DESCRIPTOR>(module, imports.VirtualAddress);
}

}  // namespace

void* HookImport(HMODULE module, const char* dll, const char* function, void* replacement) {
    const IMAGE_IMPORT_DESCRIPTOR* descriptor = ImportDescriptors(module);
    if (descriptor == nullptr) return nullptr;
    for (; descriptor->Name != 0; ++descriptor) {
        if (lstrcmpiA(At<const char>(module, descriptor->Name), dll) != 0) continue;
        // The name table says which function each address slot holds; without
        // one (bound imports) nothing can be matched by name.
        if (descriptor->OriginalFirstThunk == 0) continue;
        auto* names = At<IMAGE_THUNK_DATA>(module, descriptor->OriginalFirstThunk);
        auto* slots = At<IMAGE_THUNK_DATA>(module, descriptor->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName = At<const IMAGE_IMPORT_BY_NAME>(
                module, static_cast<DWORD>(names->u1.AddressOfData));
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
            void** slot = reinterpret_cast<void**>(&slots->u1.Function);
            void* original = *slot;
            return WriteSlot(slot, replacement) ? original : nullptr;
        }
    }
    return nullptr;
}

std::vector<std::string> ImportedLibraries(HMODULE module) {
    std::vector<std::string> names;
    const IMAGE_IMPORT_DESCRIPTOR* descriptor = ImportDescriptors(module);
    for (; descriptor != nullptr && descriptor->Name != 0; ++descriptor) {
        names.emplace_back(At<const char>(module, descriptor->Name));
    }
    return names;
}
