// TEMPORARY: lets this branch link on its own. The plug-in's globals define
// g_renderer; delete this file when they are merged.
#include "plugin/plugin.h"

Renderer* g_renderer = nullptr;
