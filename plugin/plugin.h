// The plug-in's entry points and the globals its callbacks share.
#pragma once

#include "plugin/filter.h"
#include "platform/d3d9_api.h"

struct Renderer;

#define KELO_TRACK_COUNT 15
#define KELO_CHECK_COUNT 2

extern IDirect3D9* g_d3d;
extern IDirect3DDevice9* g_device;
extern Renderer* g_renderer;
extern int32_t g_lastTrack[KELO_TRACK_COUNT];
extern int32_t g_lastCheck[KELO_CHECK_COUNT];
extern int32_t g_lastWidth;
extern int32_t g_lastHeight;
extern int32_t g_lastPitch;
extern bool g_frameResourcesGone;

// The library's only export. Windows names it in the module-definition file
// (undecorated, ordinal 1); elsewhere everything but it has hidden visibility.
#ifdef _WIN32
#define KELO_EXPORT
#else
#define KELO_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
KELO_EXPORT FILTER_DLL* __cdecl GetFilterTable();
}

BOOL __cdecl FilterInit(FILTER* fp);
BOOL __cdecl FilterExit(FILTER* fp);
BOOL __cdecl FilterProc(FILTER* fp, FILTER_PROC_INFO* fpip);
