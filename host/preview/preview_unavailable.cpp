// A build without the preview's libraries (the Windows build among them)
// still knows the option, and says why it cannot serve it.
#include "host/preview/preview.h"

int RunPreview(const PreviewRequest&, const FILTER_DLL&, const FilterDescription&, const FilterSettings&,
               const std::function<void()>&) {
    throw PluginError("this build of kelo-host has no --preview");
}
