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

std::string StreamOrName(const PlannedFile& file, const char* stream) {
    return file.path == "-" ? stream : file.name;
}

// A write may not replace any file the run reads, by whatever name it
// reaches it.
void RefuseOverwritingReads(const FilePlan& plan, const PlannedFile& written) {
    const FileIdentity identity = Identity(written, 1);
    for (const FilePlan::Read& read : plan.reads) {
        if (!identity.Is(read.identity)) continue;
        throw IoError(StreamOrName(written, "standard output") + " is " + read.what + " " +
                      StreamOrName(read.file, "standard input") + "; refusing to overwrite it");
    }
}

const char* OptionOf(WriteKind kind) {
    switch (kind) {
        case WriteKind::kFrames: return "OUTPUT";
        case WriteKind::kComparison: return "--compare";
        case WriteKind::kScopes: return "--scopes";
        case WriteKind::kSettings: return "--save-settings";
        case WriteKind::kCube: return "--cube";
    }
    return "";
}

// One would silently replace the other: the same existing file by any name,
// or the same name for a file still to be made.
bool SameFile(const PlannedFile& one, const PlannedFile& other) {
    if (one.path == "-" && other.path == "-") return true;
    if (Identity(one, 1).Is(Identity(other, 1))) return true;
    if (one.path == "-" || other.path == "-") return false;
    return fs::weakly_canonical(Utf8Path(one.path)) == fs::weakly_canonical(Utf8Path(other.path));
}

void RefuseSharedWrite(const PlannedWrite& earlier, const PlannedWrite& later) {
    if (!SameFile(earlier.file, later.file)) return;
    if (earlier.kind == WriteKind::kFrames || later.kind == WriteKind::kFrames) {
        const PlannedWrite& other = earlier.kind == WriteKind::kFrames ? later : earlier;
        throw FileNameError(other.file.name + ": " + OptionOf(other.kind) + " names the output file");
    }
    throw FileNameError(later.file.name + ": " + OptionOf(earlier.kind) + " and " + OptionOf(later.kind) +
                        " name the same file");
}

// Every refusal a new write meets: it is no file read, and no other write.
void CheckWrite(const FilePlan& plan, const PlannedWrite& write) {
    RefuseOverwritingReads(plan, write.file);
    for (const PlannedWrite& other : plan.writes) {
        if (&other != &write) RefuseSharedWrite(other, write);
    }
}

// A picture beside the frames: a PNG by its name.
void CheckPngName(const std::string& name, const char* whose) {
    if (name.empty()) return;
    RequirePng(name);
    if (KindByExtension(name) != FileKind::kPng) throw FileNameError(name + ": " + whose + " name must end in .png");
}

void CheckNames(const FileRequest& request) {
    CheckPngName(request.compare, "the comparison's");
    CheckPngName(request.scopes, "the scopes'");
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
    const PlannedWrite output{WriteKind::kFrames, DefaultOutput(inputKind)};
    CheckWrite(*this, output);
    return output.file;
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
    for (const std::string& file : request.settingsFiles) plan.settingsFiles.push_back(Planned(file));
    if (request.plugin.empty()) {
        const std::string beside = Utf8String(ProgramDirectory() / "kelo.auf");
        plan.plugin = {beside, beside};
    } else {
        plan.plugin = Planned(request.plugin);
    }
    plan.pluginFolder = Utf8String(Utf8Path(plan.plugin.path).parent_path());
    // Identified now, before the run reads any of them.
    plan.reads.push_back({"the input file", plan.input, Identity(plan.input, 0)});
    for (const PlannedFile& file : plan.settingsFiles) plan.reads.push_back({"the settings file", file, Identity(file, 0)});
    plan.reads.push_back({"the plug-in", plan.plugin, Identity(plan.plugin, 0)});

    if (request.runsFrames) CheckNames(request);
    std::vector<PlannedWrite> writes;
    if (!request.saveSettings.empty()) writes.push_back({WriteKind::kSettings, Planned(request.saveSettings)});
    if (!request.cube.empty()) writes.push_back({WriteKind::kCube, Planned(request.cube)});
    if (request.runsFrames && !request.scopes.empty()) writes.push_back({WriteKind::kScopes, Planned(request.scopes)});
    if (request.runsFrames && !request.compare.empty()) {
        writes.push_back({WriteKind::kComparison, Planned(request.compare)});
    }
    if (request.runsFrames && !request.output.empty()) writes.push_back({WriteKind::kFrames, Planned(request.output)});
    for (const PlannedWrite& write : writes) {
        CheckWrite(plan, write);
        plan.writes.push_back(write);
    }
    return plan;
}
