// The per-frame callback: decides from what changed since the previous frame
// how much to rebuild, then sends the frame through the device and back.
#include <cstring>

#include "plugin/plugin.h"
#include "renderer/renderer.h"

// Never reset, not even by FilterExit: a restarted filter compares against the
// last frame it saw.
int32_t g_lastTrack[KELO_TRACK_COUNT] = {};
int32_t g_lastCheck[KELO_CHECK_COUNT] = {};
int32_t g_lastWidth = 0;
int32_t g_lastHeight = 0;
int32_t g_lastPitch = 0;
// Set by FilterExit: the frame resources the remembered size and check boxes
// describe went with the renderer, so the first frame after a restart builds
// anew even when nothing it compares has changed.
bool g_frameResourcesGone = false;

namespace {

void RebuildFrameResources(FILTER* fp, FILTER_PROC_INFO* fpip) {
    const bool useF16 = fp->check[0] != 0;
    const bool usePow2 = fp->check[1] != 0;
    ReleaseFrameResources();
    BuildFrameResources(usePow2, fpip->max_w, useF16);
    SetEffectParams(fp->track);
}

}  // namespace

BOOL __cdecl FilterProc(FILTER* fp, FILTER_PROC_INFO* fpip) {
    if (g_renderer == nullptr) return FALSE;

    const bool tracksChanged = std::memcmp(fp->track, g_lastTrack, sizeof g_lastTrack) != 0;
    if (tracksChanged) std::memcpy(g_lastTrack, fp->track, sizeof g_lastTrack);
    const bool checksChanged = std::memcmp(fp->check, g_lastCheck, sizeof g_lastCheck) != 0;
    if (checksChanged) std::memcpy(g_lastCheck, fp->check, sizeof g_lastCheck);

    // The host's row length counts as part of the size: the transfers walk the
    // host's rows at the pitch of the last build, which must be the current one.
    // A frame without pixels has no rows to walk, so its row length changes
    // nothing: an empty first frame matches the stored size 0 x 0 and builds
    // nothing. A restart counts as a change of size: one build, which like any
    // other is not retried for the same size and check boxes when it fails.
    const bool hasPixels = fpip->w > 0 && fpip->h > 0;
    if (fpip->w != g_lastWidth || fpip->h != g_lastHeight || (hasPixels && fpip->max_w != g_lastPitch) ||
        g_frameResourcesGone) {
        g_lastWidth = fpip->w;
        g_lastHeight = fpip->h;
        g_lastPitch = fpip->max_w;
        g_frameResourcesGone = false;
        RebuildFrameResources(fp, fpip);
    } else if (checksChanged) {
        RebuildFrameResources(fp, fpip);
    } else if (tracksChanged) {
        SetEffectParams(fp->track);
    }

    if (g_renderer->passRing == nullptr) return FALSE;
    if (!UploadFrame(fpip->ycp_edit)) return FALSE;
    if (!RenderPasses()) return FALSE;
    return DownloadFrame(fpip->ycp_edit) ? TRUE : FALSE;
}
