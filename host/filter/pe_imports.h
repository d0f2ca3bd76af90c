// The import tables of a loaded module. A test host redirects a plug-in's own
// calls to an imported function by rewriting that module's import address
// table: only the module's calls through its imports change; other modules,
// and the function itself, are untouched. Wine hands debug text to a debugger
// only as narrow code-page text, so the UTF-16 original must be taken at the
// call. The list of imported libraries names the one a failed load misses.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Makes module's import of function from dll (a name such as "KERNEL32.dll",
// compared without case) call replacement, and returns the address it called
// before. Returns null, changing nothing, when module does not import it.
// Hooking again with the returned address undoes the hook.
void* HookImport(HMODULE module, const char* dll, const char* function, void* replacement);

// The names of the libraries module imports, in the order of its table. The
// module may be mapped without its imports resolved
// (DONT_RESOLVE_DLL_REFERENCES).
std::vector<std::string> ImportedLibraries(HMODULE module);
