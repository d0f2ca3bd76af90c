// kelo-host --preview: the plug-in's settings window as a page in the
// browser, with the corrected frame shown live.
#pragma once

#include <functional>
#include <string>

#include "host/filter/filter_plugin.h"

struct PreviewRequest {
    std::string inputName;       // as the user spelt it; empty: the chart
    std::string inputPath;       // the same, made absolute
    std::string pluginArgument;  // --plugin as given, for the page's command line
    int port = 0;                // 0: a free one
    int maxWidth = 0;            // 0: the picture's width + 64
};

// Serves the page until SIGINT or SIGTERM, then calls FilterExit. The
// plug-in's three callbacks all run on the calling thread, after
// `enterPluginFolder`. Returns the exit status.
int RunPreview(const PreviewRequest& request, const FILTER_DLL& descriptor, const FilterDescription& description,
               const FilterSettings& settings, const std::function<void()>& enterPluginFolder);
