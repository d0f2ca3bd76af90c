// kelo-host: runs a filter plug-in over pictures and video the way the
// editor would, without the editor.
#include <csignal>
#include <cstdio>
#include <filesystem>

#include "host/command_line/exit_status.h"
#include "host/command_line/options.h"
#include "host/command_line/settings_file.h"
#include "host/files/file_plan.h"
#include "host/files/stop_signals.h"
#include "host/files/utf8_path.h"
#include "host/filter/filter_plugin.h"
#include "host/filter/probe.h"
#include "host/frame_loop/frame_run.h"
#include "host/frame_loop/stage_times.h"
#include "host/lut/cube_lut.h"
#include "host/preview/preview.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

FileRequest FilesOf(const Options& options) {
    FileRequest request;
    request.input = options.input;
    request.settingsFiles = options.settingsFiles;
    request.plugin = options.plugin;
    request.runsFrames = !options.describe && !options.probe && !options.preview && options.saveSettings.empty() &&
                         options.cube.empty();
    request.output = options.output;
    request.compare = options.compare;
    request.scopes = options.scopes;
    request.saveSettings = options.saveSettings;
    request.cube = options.cube;
    return request;
}

int Run(const Options& options) {
    const Clock::time_point started = Clock::now();
    // Before anything is opened for writing.
    const FilePlan plan = PlanFiles(FilesOf(options));
    PluginLibrary library(plan.plugin.path);
    const FilterDescription description = DescribeFilter(library.descriptor());

    // The modes, in the order they take precedence.
    if (options.describe) {
        Describe(description);
        return kDone;
    }
    const FilterSettings settings = SettingsInEffect(description, plan.settingsFiles, options.settings);
    if (options.probe) {
        Probe(library, settings, options.maxWidth);
        return kDone;
    }
    const PlannedWrite* settingsFile = plan.Write(WriteKind::kSettings);
    if (settingsFile) SaveSettings(settingsFile->file, description, settings);
    if (const PlannedWrite* cube = plan.Write(WriteKind::kCube)) {
        return WriteCube(cube->file, options.cubeSize ? options.cubeSize : kDefaultCubeSize, library, description,
                         settings, plan.pluginFolder);
    }
    if (settingsFile) return kDone;
    if (options.preview) {
        const PreviewRequest request{plan.input.name, plan.input.path, options.plugin, options.port,
                                     options.maxWidth};
        return RunPreview(request, library.descriptor(), description, settings,
                          [&] { std::filesystem::current_path(Utf8Path(plan.pluginFolder)); });
    }
    return RunFrames(options, plan, library, description, settings, started);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // Names and messages are UTF-8.
    SetConsoleOutputCP(CP_UTF8);
#else
    // A closed pipe downstream is an output error like any other, reported
    // after FilterExit, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    // So is a file grown past the user's size limit.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    InstallStopSignals();
    Options options;
    try {
        options = ParseOptions(CommandLineArguments(argc, argv));
    } catch (const UsageError& error) {
        std::fprintf(stderr, "kelo-host: %s\nTry 'kelo-host --help'.\n", error.what());
        return kUsageOrIoFailure;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return kDone;
    }
    if (options.version) {
        std::printf("kelo-host %s\n", KELO_HOST_VERSION);
        return kDone;
    }
    try {
        return Run(options);
    } catch (...) {
        return ReportFailure();
    }
}
