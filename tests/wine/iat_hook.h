// Redirects one loaded module's calls to one imported function by rewriting
// that module's import address table. Only the module's own calls through its
// imports change; other modules, and the function itself, are untouched.
// This is how a test host reads exactly what a plug-in passes to
// OutputDebugStringW and MessageBoxW: Wine hands debug text to a debugger only
// as narrow code-page text, so the UTF-16 original must be taken at the call.
#pragma once

#include <windows.h>

// Makes module's import of function from dll (a name such as "KERNEL32.dll",
// compared without case) call replacement, and returns the address it called
// before. Returns null, changing nothing, when module does not import it.
// Hooking again with the returned address undoes the hook.
void* HookImport(HMODULE module, const char* dll, const char* function, void* replacement);
