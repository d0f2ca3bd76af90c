#include "host/files/file_plan.h"

#include <cctype>
#include <filesystem>

#include "host/files/utf8_path.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

std::optional<FileKind> KindByExtension(const std::string& path) {
    std::string extension = Utf8String(Utf8Path(path).extension());
    for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".png") return FileKind::kPng;
    if (extension == ".y4m") return FileKind::kY4m;
    return std::nullopt;
}

void RequirePng([[maybe_unused]] const std::string& name) {
#ifndef KELO_HAVE_PNG
    throw IoError(name + ": this build of kelo-host reads and writes no PNG; use Y4M");
#endif
}

namespace {

fs::path ProgramDirectory() {
#ifdef _WIN32
    wchar_t buffer[32768];
    DWORD length = GetModuleFileNameW(nullptr, buffer, DWORD(std::size(buffer)));
    return fs::path(std::wstring(buffer, length)).parent_path();
#else
    return fs::read_symlink("/proc/self/exe").parent_path();
#endif
}

PlannedFile Planned(const std::string& name) {
    if (name.empty() || name == "-") return {name, name};
    return {name, Utf8String(fs::absolute(Utf8Path(name)))};
}

// The default output for an input of this kind: a PNG for a picture where
// this build writes PNG, a Y4M stream otherwise.
FileKind DefaultOutputKind([[maybe_unused]] FileKind inputKind) {
#ifdef KELO_HAVE_PNG
    return inputKind;
#else
    return FileKind::kY4m;
#endif
}

PlannedFile DefaultOutput(FileKind inputKind) {
    return Planned(DefaultOutputKind(inputKind) == FileKind::kPng ? "kelo-out.png" : "kelo-out.y4m");
}

FileIdentity Identity(const PlannedFile& file, int standardStream) {
    if (file.path.empty()) return {};
    return file.path == "-" ? IdentifyStandardStream(standardStream) : IdentifyPath(file.path);
}

// A write that would replace the file the frames come from.
void RefuseOverwritingInput(const PlannedFile& input, const FileIdentity& inputIdentity, const PlannedFile& output) {
    if (!Identity(output, 1).Is(inputIdentity)) return;
    const std::string written = output.path == "-" ? "standard output" : output.name;
    const std::string read = input.name == "-" ? "standard input" : input.name;
    throw IoError(written + " is the input file " + read + "; refusing to overwrite it");
}

// The comparison would silently replace the output it was meant to go with.
void RefuseComparisonOverOutput(const PlannedFile& comparison, const PlannedFile& output) {
    if (output.path == "-") return;
    const auto canonical = [](const PlannedFile& file) { return fs::weakly_canonical(Utf8Path(file.path)); };
    if (canonical(comparison) == canonical(output)) {
        throw FileNameError(comparison.name + ": --compare names the output file");
    }
}

// The checks of the frame run's output, named or default.
void CheckOutput(const FilePlan& plan, const PlannedFile& output) {
    RefuseOverwritingInput(plan.input, plan.inputIdentity, output);
    if (const PlannedWrite* comparison = plan.Write(WriteKind::kComparison)) {
        RefuseComparisonOverOutput(comparison->file, output);
    }
}

void CheckNames(const FileRequest& request) {
    if (!request.compare.empty()) {
        RequirePng(request.compare);
        if (KindByExtension(request.compare) != FileKind::kPng) {
            throw FileNameError(request.compare + ": the comparison's name must end in .png");
        }
    }
    if (!request.output.empty() && request.output != "-" && !KindByExtension(request.output)) {
        throw FileNameError(request.output + ": the output's name must end in .png or .y4m");
    }
}

}  // namespace

const PlannedWrite* FilePlan::Write(WriteKind kind) const {
    for (const PlannedWrite& write : writes) {
        if (write.kind == kind) return &write;
    }
    return nullptr;
}

PlannedFile FilePlan::Output(FileKind inputKind) const {
    if (const PlannedWrite* output = Write(WriteKind::kFrames)) return output->file;
    const PlannedFile output = DefaultOutput(inputKind);
    CheckOutput(*this, output);
    return output;
}

FileKind FilePlan::OutputKind(FileKind inputKind) const {
    const PlannedWrite* output = Write(WriteKind::kFrames);
    if (!output) return DefaultOutputKind(inputKind);
    if (output->file.path == "-") return inputKind;
    return *KindByExtension(output->file.name);
}

FilePlan PlanFiles(const FileRequest& request) {
    FilePlan plan;
    plan.input = Planned(request.input);
    plan.inputIdentity = Identity(plan.input, 0);
    for (const std::string& file : request.settingsFiles) plan.settingsFiles.push_back(Planned(file));
    plan.plugin = request.plugin.empty() ? PlannedFile{"kelo.auf", Utf8String(ProgramDirectory() / "kelo.auf")}
                                         : Planned(request.plugin);
    plan.pluginFolder = Utf8String(Utf8Path(plan.plugin.path).parent_path());
    if (!request.saveSettings.empty()) plan.writes.push_back({WriteKind::kSettings, Planned(request.saveSettings)});
    if (!request.cube.empty()) plan.writes.push_back({WriteKind::kCube, Planned(request.cube)});
    if (!request.runsFrames) return plan;

    CheckNames(request);
    if (!request.compare.empty()) {
        plan.writes.push_back({WriteKind::kComparison, Planned(request.compare)});
        RefuseOverwritingInput(plan.input, plan.inputIdentity, plan.writes.back().file);
    }
    if (!request.output.empty()) {
        plan.writes.push_back({WriteKind::kFrames, Planned(request.output)});
        CheckOutput(plan, plan.writes.back().file);
    }
    return plan;
}
