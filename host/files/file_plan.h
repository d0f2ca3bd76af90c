// The plan of every file a run of kelo-host reads and writes, made in one
// step before anything is opened for writing. Every refusal to write a file
// is made here, so that no mode can forget one.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/files/output_file.h"

enum class FileKind { kPng, kY4m };

// By the name's extension, .png or .y4m in any case.
std::optional<FileKind> KindByExtension(const std::string& path);
// Throws IoError naming the file where this build has no PNG support.
void RequirePng(const std::string& name);

// A file by the name the user gave, for messages, and by a path that the
// plug-in's change of folder leaves valid. "-" (a standard stream) and ""
// (nothing named) stay as they are.
struct PlannedFile {
    std::string name;
    std::string path;
};

// The files as the command line names them.
struct FileRequest {
    std::string input;  // "": the built-in chart; "-": standard input
    std::vector<std::string> settingsFiles;
    std::string plugin;  // "": kelo.auf beside the program
    // The frame run's files; the other modes write none of them.
    bool runsFrames = false;
    std::string output;  // "": the default for the input's kind; "-": standard output
    std::string compare;
    std::string scopes;
    std::string saveSettings;
    std::string cube;
};

// What each write holds decides the checks on its name.
enum class WriteKind {
    kFrames,      // OUTPUT: a PNG picture or a Y4M stream
    kComparison,  // --compare: a PNG picture
    kScopes,      // --scopes: a PNG picture
    kSettings,    // --save-settings: a settings file
    kCube,        // --cube: a .cube text
};

struct PlannedWrite {
    WriteKind kind;
    PlannedFile file;
};

struct FilePlan {
    PlannedFile input;
    std::vector<PlannedFile> settingsFiles;
    PlannedFile plugin;
    std::string pluginFolder;  // where the plug-in opens its effect by a bare name
    std::vector<PlannedWrite> writes;
    // Every file read, by what it is to the run ("the input file"), with the
    // identity it had when planned, before the run read any of it.
    struct Read {
        std::string what;
        PlannedFile file;
        FileIdentity identity;
    };
    std::vector<Read> reads;

    // The write of that kind, or null when the run makes none.
    const PlannedWrite* Write(WriteKind kind) const;
    // The frame run's output for an input of `inputKind`: the one named, or
    // the default for that kind (kelo-out.png or kelo-out.y4m). The
    // default's name waits for the input's first bytes, so it is checked
    // here, by the same rules, when the run asks for it; throws as
    // PlanFiles does.
    PlannedFile Output(FileKind inputKind) const;
    // The kind of picture or stream that output holds.
    FileKind OutputKind(FileKind inputKind) const;
};

// A write's name that cannot hold what the run writes.
struct FileNameError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Resolves and checks every file of `request`: no write is a file the run
// reads (INPUT, a settings file, the plug-in), and no two writes are one
// file. Throws FileNameError, or IoError for a write over a read.
FilePlan PlanFiles(const FileRequest& request);
