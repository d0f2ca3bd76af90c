// The program itself, run as a user would run it, with the test plug-in.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/files/byte_stream.h"
#include "host/picture/png_io.h"
#include "tests/host/stream_test_support.h"
#include "host/picture/y4m.h"
#include "host/scopes/scope_drawing.h"
#ifdef KELO_HAVE_PREVIEW
#include <httplib.h>
#endif

namespace fs = std::filesystem;

namespace {

class KeloHost : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("kelo-host-test-" + std::to_string(::getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs kelo-host in the test's folder with the test plug-in; returns the
    // exit status and keeps standard error in `errors`.
    int Run(const std::string& arguments, const std::string& environment = "") {
        const std::string command = "cd '" + dir_.string() + "' && " + environment + " '" KELO_HOST_PATH
                                    "' --plugin '" KELO_TEST_PLUGIN_PATH "' " + arguments + " 2>errors.txt";
        const int status = std::system(command.c_str());
        std::ifstream file(dir_ / "errors.txt");
        std::stringstream text;
        text << file.rdbuf();
        errors = text.str();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path Path(const std::string& name) const { return dir_ / name; }

    std::string Contents(const std::string& name) const {
        std::ifstream file(Path(name), std::ios::binary);
        std::stringstream bytes;
        bytes << file.rdbuf();
        return bytes.str();
    }

    // The names in the test's folder and below, but the run's errors.txt:
    // a temporary file left behind shows here.
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
            const std::string name = entry.path().lexically_relative(dir_).string();
            if (name != "errors.txt") names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // Frame i has Y = 16 + i in every pixel and chroma at 128.
    void WriteClip(const std::string& name, int frames, PictureFormat format = {},
                   const std::string& colourSpace = "", int width = 33, int height = 17) {
        std::FILE* file = std::fopen(Path(name).c_str(), "wb");
        ByteOutput output(file, name);
        Y4mWriter writer(output, Y4mStreamInfo{width, height, format, colourSpace, {"F25:1", "Ip"}});
        for (int i = 0; i < frames; ++i) {
            Picture picture;
            picture.width = width;
            picture.height = height;
            picture.format = format;
            picture.samples8.assign(picture.SampleCount(), 128);
            std::fill_n(picture.samples8.begin(), width * height, uint8_t(16 + i));
            writer.WriteFrame(picture);
        }
        std::fclose(file);
    }

    std::vector<Picture> ReadClip(const std::string& name) {
        std::FILE* file = std::fopen(Path(name).c_str(), "rb");
        EXPECT_TRUE(file) << name;
        ByteInput input(file, name);
        Y4mReader reader(input);
        std::vector<Picture> frames(1);
        while (reader.ReadFrame(frames.back())) frames.emplace_back();
        frames.pop_back();
        std::fclose(file);
        return frames;
    }

    std::string errors;

private:
    fs::path dir_;
};

TEST_F(KeloHost, CorrectsTheChartAndWritesTheBeforeAndAfterPicture) {
    ASSERT_EQ(Run("--set 'Y(offs)=100' --set 'Cb(offs)=-50' --compare cmp.png --scopes scopes.png"), 0) << errors;
    const Picture chart = ReadPicture(Path("kelo-out.png"));
    ASSERT_EQ(chart.width, 1920);
    ASSERT_EQ(chart.height, 1080);
    ASSERT_EQ(chart.format.depth, 8);
    // The mid-grey patch, Y 2048 Cb 0 Cr 0, becomes Y 2148 Cb -50:
    // R' G' B' = 2148, 2165.2, 2059.4 of 4096.
    const size_t midGrey = (1000 * 1920 + 960) * 3;
    EXPECT_EQ(chart.samples8[midGrey + 0], 134);
    EXPECT_EQ(chart.samples8[midGrey + 1], 135);
    EXPECT_EQ(chart.samples8[midGrey + 2], 128);

    const Picture compare = ReadPicture(Path("cmp.png"));
    ASSERT_EQ(compare.width, 3840);
    ASSERT_EQ(compare.height, 1080);
    const size_t before = (1000 * 3840 + 960) * 3, after = before + 1920 * 3;
    EXPECT_EQ(compare.samples8[before + 0], 128);
    EXPECT_EQ(compare.samples8[before + 2], 128);
    EXPECT_EQ(compare.samples8[after + 0], 134);
    EXPECT_EQ(compare.samples8[after + 2], 128);

    // The scopes: a row before, a row after; the offset moves the trace.
    const Picture scopes = ReadPicture(Path("scopes.png"));
    ASSERT_EQ(scopes.height, 2 * kScopeRowHeight);
    ASSERT_EQ(scopes.width, ScopePanels()[3].x + ScopePanels()[3].width);
    const size_t row = size_t(scopes.width) * kScopeRowHeight * 3;
    EXPECT_FALSE(std::equal(scopes.samples8.begin(), scopes.samples8.begin() + row, scopes.samples8.begin() + row));
}

TEST_F(KeloHost, PipesY4mThroughUnchangedWhenTheFilterChangesNothing) {
    // "F16" makes the test plug-in answer in the second buffer.
    WriteClip("in.y4m", 3, PictureFormat{ColourModel::YCbCr, Chroma::k420, 8, false}, "420mpeg2");
    ASSERT_EQ(Run("--set F16=1 - - <in.y4m >out.y4m"), 0) << errors;
    EXPECT_EQ(Contents("in.y4m"), Contents("out.y4m"));

    // A mixed-interlacing stream keeps each frame's field order, and a
    // stream without frames keeps its header.
    const std::string pixels(4 * 2 * 3, '\x80');
    std::ofstream(Path("mixed.y4m"), std::ios::binary)
        << "YUV4MPEG2 W4 H2 C444 Im XCOLORRANGE=full\nFRAME It\n" + pixels + "FRAME Ib Xa=1\n" + pixels;
    ASSERT_EQ(Run("--set F16=1 mixed.y4m mixed-out.y4m"), 0) << errors;
    EXPECT_EQ(Contents("mixed.y4m"), Contents("mixed-out.y4m"));
    std::ofstream(Path("empty.y4m"), std::ios::binary) << "YUV4MPEG2 W4 H2 C444 F25:1\n";
    ASSERT_EQ(Run("empty.y4m empty-out.y4m"), 0) << errors;
    EXPECT_EQ(Contents("empty.y4m"), Contents("empty-out.y4m"));
    EXPECT_NE(errors.find("empty.y4m holds no frames"), std::string::npos) << errors;
}

TEST_F(KeloHost, WritesRelativeOutputsInTheUsersFolderAndDefaultsToKeloOutPng) {
    ASSERT_EQ(Run("--quiet"), 0) << errors;
    EXPECT_TRUE(fs::exists(Path("kelo-out.png")));
    WriteClip("in.y4m", 1);
    ASSERT_EQ(Run("in.y4m"), 0) << errors;
    EXPECT_TRUE(fs::exists(Path("kelo-out.y4m")));
}

TEST_F(KeloHost, AFailedFilterInitEndsWithStatus2AfterFilterExit) {
    EXPECT_EQ(Run("", "KELO_TEST_FAIL=init KELO_TEST_EXIT_MARK=" + Path("exit.mark").string()), 2);
    EXPECT_NE(errors.find("FilterInit failed"), std::string::npos) << errors;
    EXPECT_TRUE(fs::exists(Path("exit.mark")));
    EXPECT_FALSE(fs::exists(Path("kelo-out.png")));
}

TEST_F(KeloHost, AStoppedRunLeavesTheOutputAsItWasAndKeepsTheWholeFramesAsPartial) {
    WriteClip("in.y4m", 4);
    WriteClip("cut.y4m", 3);
    fs::resize_file(Path("cut.y4m"), fs::file_size(Path("cut.y4m")) - 10);
    const struct {
        std::string input, environment;
        int status;
        std::string message;
    } cases[] = {
        {"in.y4m", "KELO_TEST_FAIL=proc:2", 2, "FilterProc failed on frame 2 (33x17)"},
        {"cut.y4m", "", 1, "cut.y4m: frame 2: cut short"},
        {"in.y4m", "KELO_TEST_SIGNAL=1", 128 + SIGTERM, "stopped by SIGTERM after 2 frames"},
    };
    std::ofstream(Path("cmp.png")) << "the user's older picture";
    for (const auto& c : cases) {
        std::ofstream(Path("out.y4m")) << "the user's older file";
        fs::remove(Path("exit.mark"));
        EXPECT_EQ(Run("--compare cmp.png " + c.input + " out.y4m",
                      c.environment + " KELO_TEST_EXIT_MARK=" + Path("exit.mark").string()),
                  c.status) << c.message;
        EXPECT_NE(errors.find(c.message), std::string::npos) << errors;
        EXPECT_NE(errors.find("out.y4m: not written; the 2 whole frames written are in out.y4m.partial"),
                  std::string::npos) << errors;
        EXPECT_TRUE(fs::exists(Path("exit.mark"))) << c.message;
        EXPECT_EQ(Contents("out.y4m"), "the user's older file") << c.message;
        EXPECT_EQ(Contents("cmp.png"), "the user's older picture") << c.message;
        const std::vector<Picture> frames = ReadClip("out.y4m.partial");
        ASSERT_EQ(frames.size(), 2u) << c.message;
        EXPECT_EQ(frames.back().samples8[0], 17);
        EXPECT_EQ(Listing(), (std::vector<std::string>{"cmp.png", "cut.y4m", "exit.mark", "in.y4m", "out.y4m",
                                                       "out.y4m.partial"}))
            << c.message;
    }
    // A second signal does not wait for the frame, but still removes the
    // temporary files.
    fs::remove(Path("out.y4m.partial"));
    EXPECT_EQ(Run("--compare cmp.png in.y4m out.y4m", "KELO_TEST_SIGNAL=1 KELO_TEST_SIGNALS=2"), 128 + SIGTERM);
    EXPECT_EQ(Contents("out.y4m"), "the user's older file");
    EXPECT_EQ(Listing(), (std::vector<std::string>{"cmp.png", "cut.y4m", "exit.mark", "in.y4m", "out.y4m"}));
}

TEST_F(KeloHost, AFullDiskKeepsTheExistingFileAndSaysWhy) {
    // A file-size limit stands in for the full disk: writes beyond it fail
    // with EFBIG once SIGXFSZ is ignored.
    const std::string limit = "trap '' XFSZ; ulimit -f 4;";  // 2048 bytes
    ASSERT_EQ(Run("--quiet"), 0) << errors;
    std::ofstream(Path("pic.png")) << "the user's picture";
    EXPECT_EQ(Run("kelo-out.png pic.png", limit), 1);
    EXPECT_NE(errors.find("kelo-host: pic.png: cannot write: File too large"), std::string::npos) << errors;
    EXPECT_EQ(Contents("pic.png"), "the user's picture");
    EXPECT_EQ(Listing(), (std::vector<std::string>{"kelo-out.png", "pic.png"}));

    // A header and two 873-byte frames fit, the third does not.
    WriteClip("in.y4m", 3, PictureFormat{ColourModel::YCbCr, Chroma::k420, 8, false});
    EXPECT_EQ(Run("in.y4m out.y4m", limit), 1);
    EXPECT_NE(errors.find("out.y4m: cannot write: File too large"), std::string::npos) << errors;
    EXPECT_FALSE(fs::exists(Path("out.y4m")));
    EXPECT_EQ(ReadClip("out.y4m.partial").size(), 2u);
    EXPECT_EQ(fs::file_size(Path("out.y4m.partial")), fs::file_size(Path("in.y4m")) - 873)
        << "cut to the last whole frame";
}

TEST_F(KeloHost, DevicesAndPipesAreWrittenDirectlyAndNeverRemoved) {
    // More than a pipe holds, to a reader that leaves early.
    WriteClip("in.y4m", 3, {}, "", 320, 240);
    ASSERT_EQ(::mkfifo(Path("fifo.y4m").c_str(), 0600), 0);
    EXPECT_EQ(Run("in.y4m fifo.y4m", "(head -c 100 fifo.y4m >/dev/null &);"), 1);
    EXPECT_NE(errors.find("fifo.y4m: cannot write: Broken pipe"), std::string::npos) << errors;
    EXPECT_TRUE(fs::is_fifo(Path("fifo.y4m")));

    // A node of its own like /dev/full, named as a picture.
    if (::mknod(Path("full.png").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) GTEST_SKIP() << "mknod needs root";
    EXPECT_EQ(Run("--compare full.png"), 1);
    EXPECT_NE(errors.find("full.png: cannot write: No space left on device"), std::string::npos) << errors;
    EXPECT_TRUE(fs::is_character_file(Path("full.png")));

    fs::create_symlink("/proc/self/fd/1", Path("stdout.png"));
    EXPECT_EQ(Run("--compare stdout.png >full.png"), 1);
    EXPECT_NE(errors.find("stdout.png: cannot write: No space left on device"), std::string::npos) << errors;
    EXPECT_TRUE(fs::is_symlink(Path("stdout.png")));
    EXPECT_EQ(Listing(), (std::vector<std::string>{"fifo.y4m", "full.png", "in.y4m", "stdout.png"}));
}

TEST_F(KeloHost, ReplacesAFileThroughItsSymlinkKeepingTheLinkAndTheMode) {
    WriteClip("in.y4m", 2);
    fs::create_directory(Path("store"));
    std::ofstream(Path("store/real.y4m")) << "older";
    fs::permissions(Path("store/real.y4m"), fs::perms(0640));
    fs::create_symlink("store/real.y4m", Path("out.y4m"));
    ASSERT_EQ(Run("in.y4m out.y4m"), 0) << errors;
    EXPECT_TRUE(fs::is_symlink(Path("out.y4m")));
    EXPECT_EQ(Contents("store/real.y4m"), Contents("in.y4m"));
    EXPECT_EQ(fs::status(Path("store/real.y4m")).permissions(), fs::perms(0640));
    EXPECT_EQ(Listing(), (std::vector<std::string>{"in.y4m", "out.y4m", "store", "store/real.y4m"}));
}

TEST_F(KeloHost, RefusesAnOutputThatIsTheInputByAnyName) {
    WriteClip("same.y4m", 2);
    const std::string original = Contents("same.y4m");
    fs::create_directory(Path("sub"));
    fs::create_symlink("same.y4m", Path("link.y4m"));
    fs::create_hard_link(Path("same.y4m"), Path("hard.y4m"));
    fs::copy_file(Path("same.y4m"), Path("kelo-out.y4m"));
    ASSERT_EQ(Run("--quiet"), 0) << errors;
    fs::rename(Path("kelo-out.png"), Path("chart.png"));
    const struct {
        std::string arguments, message;
    } cases[] = {
        {"same.y4m same.y4m", "same.y4m is the input file same.y4m"},
        {"same.y4m link.y4m", "link.y4m is the input file same.y4m"},
        {"link.y4m same.y4m", "same.y4m is the input file link.y4m"},
        {"same.y4m hard.y4m", "hard.y4m is the input file same.y4m"},
        {"same.y4m sub/../same.y4m", "sub/../same.y4m is the input file same.y4m"},
        {"- same.y4m <same.y4m", "same.y4m is the input file standard input"},
        {"same.y4m - >>same.y4m", "standard output is the input file same.y4m"},
        {"kelo-out.y4m", "kelo-out.y4m is the input file kelo-out.y4m"},
        {"chart.png out.png --compare chart.png", "chart.png is the input file chart.png"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.arguments, "KELO_TEST_EXIT_MARK=" + Path("exit.mark").string()), 1) << c.arguments;
        EXPECT_NE(errors.find("kelo-host: " + c.message + "; refusing to overwrite it"), std::string::npos)
            << c.arguments << ": " << errors;
        EXPECT_FALSE(fs::exists(Path("exit.mark"))) << c.arguments;
        EXPECT_EQ(Contents("same.y4m"), original) << c.arguments;
    }
    EXPECT_FALSE(fs::exists(Path("out.png")));
    // Only a regular file can be overwritten by reading it.
    if (::mknod(Path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) GTEST_SKIP() << "mknod needs root";
    Run("- - <null >null");
    EXPECT_EQ(errors.find("is the input file"), std::string::npos) << errors;
}

TEST_F(KeloHost, KelosPluginRefusesPicturesBeyondItsSizeBeforeDecodingThem) {
    std::ofstream(Path("wide.y4m")) << "YUV4MPEG2 W4097 H16 C444\nFRAME\n";
    // A PNG signature and the start of a header chunk announcing 16384 x 16384.
    std::ofstream(Path("huge.png"), std::ios::binary)
        << std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x40\0\0\0\x40\0", 24);
    for (const std::string name : {"wide.y4m", "huge.png"}) {
        const std::string command = "cd '" + Path("").string() + "' && '" KELO_HOST_PATH "' --plugin '" KELO_AUF_PATH
                                    "' " + name + " out.y4m 2>errors.txt";
        EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 1) << name;
        const std::string text = Contents("errors.txt");
        EXPECT_NE(text.find(name + ": the picture is " + (name == "wide.y4m" ? "4097x16" : "16384x16384") +
                            "; the plug-in takes at most 4096x4096"),
                  std::string::npos) << text;
    }
    EXPECT_FALSE(fs::exists(Path("out.y4m")));
}

// A failure with frames in flight on both sides of FilterProc, in the plug-in
// and then in the output: the frames before it are kept whole and in order,
// and FilterExit runs once, on FilterInit's thread.
TEST_F(KeloHost, AFailureMidStreamKeepsTheWholeFramesBeforeItInOrder) {
    WriteClip("in.y4m", 12);
    std::string header;
    std::getline(std::ifstream(Path("in.y4m")), header);
    const size_t headerBytes = header.size() + 1;
    const size_t frameBytes = (fs::file_size(Path("in.y4m")) - headerBytes) / 12;
    const std::string mark = "KELO_TEST_EXIT_MARK=" + Path("exit.mark").string();
    const auto expectFirstFrames = [&](size_t count, const std::string& what) {
        EXPECT_FALSE(fs::exists(Path("out.y4m"))) << what;
        const std::vector<Picture> frames = ReadClip("out.y4m.partial");
        ASSERT_EQ(frames.size(), count) << what;
        for (size_t i = 0; i < count; ++i) EXPECT_EQ(frames[i].samples8[0], 16 + i) << what << ", frame " << i;
        EXPECT_EQ(fs::file_size(Path("out.y4m.partial")), headerBytes + count * frameBytes) << what;
        std::ifstream file(Path("exit.mark"));
        std::stringstream calls;
        calls << file.rdbuf();
        EXPECT_EQ(calls.str(), "exit\n") << what;
        fs::remove(Path("exit.mark"));
        fs::remove(Path("out.y4m.partial"));
    };

    EXPECT_EQ(Run("in.y4m out.y4m", "KELO_TEST_FAIL=proc:5 " + mark), 2);
    EXPECT_NE(errors.find("FilterProc failed on frame 5"), std::string::npos) << errors;
    expectFirstFrames(5, "FilterProc failing");

    // Room for the stream header and seven and a half frames.
    const size_t limit = headerBytes + 7 * frameBytes + frameBytes / 2;
    EXPECT_EQ(Run("in.y4m out.y4m", mark + " prlimit --fsize=" + std::to_string(limit)), 1);
    EXPECT_NE(errors.find("out.y4m: cannot write"), std::string::npos) << errors;
    expectFirstFrames(7, "the output failing");
}

TEST_F(KeloHost, RefusesBadRequestsWithStatus1BeforeStartingTheFilter) {
    const struct {
        std::string arguments, message;
    } cases[] = {
        {"--set 'Q=1'", "the filter has no setting \"Q\""},
        {"in.y4m out.bmp", "out.bmp: the output's name must end in .png or .y4m"},
        {"missing.y4m", "kelo-host: missing.y4m: cannot open"},
        {"--max-w 100", "--max-w 100 is shorter than the picture's width 1920"},
        {"--bogus", "unknown option --bogus"},
        {"--plugin /nonexistent.auf", "cannot load the plug-in"},
        {"--probe", "--probe reads the plug-in's reports at its Windows imports"},
        {"--compare cmp.jpg", "cmp.jpg: the comparison's name must end in .png"},
        {"--compare ./x.png in.y4m x.png", "./x.png: --compare names the output file"},
        {"--scopes s.jpg", "s.jpg: the scopes' name must end in .png"},
        {"--scopes x.png in.y4m x.png", "x.png: --scopes names the output file"},
        {"--scopes x.png --compare ./x.png", "x.png: --scopes and --compare name the same file"},
        {"--preview --scopes x.png", "--preview shows its pictures in the browser: no OUTPUT, --compare or --scopes"},
    };
    WriteClip("in.y4m", 1);
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.arguments, "KELO_TEST_EXIT_MARK=" + Path("exit.mark").string()), 1) << c.arguments;
        EXPECT_NE(errors.find(c.message), std::string::npos) << c.arguments << ": " << errors;
        EXPECT_FALSE(fs::exists(Path("exit.mark"))) << c.arguments;
    }
    // The output is created with the first frame, after the filter started.
    EXPECT_EQ(Run("in.y4m no/such/dir/out.y4m"), 1);
    EXPECT_NE(errors.find("kelo-host: no/such/dir/out.y4m: cannot create"), std::string::npos) << errors;
    // 2 x 1.5 GiB of frame buffers would be refused under this limit.
#ifdef __SANITIZE_ADDRESS__
    const std::string memoryLimit;  // the sanitizer reserves more address space than that
#else
    const std::string memoryLimit = "ulimit -v 1000000 &&";
#endif
    std::ofstream(Path("huge.y4m")) << "YUV4MPEG2 W16384 H16384 C444p16\nFRAME\n0123456789";
    EXPECT_EQ(Run("huge.y4m out.y4m", memoryLimit), 1);
    EXPECT_NE(errors.find("huge.y4m: frame 0: cut short (5 of 805306368 samples)"), std::string::npos) << errors;
    std::ofstream(Path("junk.y4m")) << "not a picture";
    EXPECT_EQ(Run("junk.y4m"), 1);
    EXPECT_NE(errors.find("junk.y4m: is neither a PNG picture nor a YUV4MPEG2 stream"), std::string::npos) << errors;
}

TEST_F(KeloHost, DescribesWithoutStartingTheFilterAndHelps) {
    EXPECT_EQ(Run("--describe >describe.txt", "KELO_TEST_EXIT_MARK=" + Path("exit.mark").string()), 0) << errors;
    std::ifstream file(Path("describe.txt"));
    std::string first;
    std::getline(file, first);
    EXPECT_EQ(first, "kelo テスト");
    EXPECT_FALSE(fs::exists(Path("exit.mark")));
    EXPECT_EQ(Run("-h >help.txt"), 0);
    EXPECT_GT(fs::file_size(Path("help.txt")), 500u);
    EXPECT_EQ(Run("--version >version.txt"), 0);
    EXPECT_EQ(Contents("version.txt").rfind("kelo-host ", 0), 0u) << Contents("version.txt");
}

TEST_F(KeloHost, StatsNameEveryStage) {
    WriteClip("in.y4m", 2);
    ASSERT_EQ(Run("--stats in.y4m out.y4m"), 0) << errors;
    for (const char* stage : {"2 frames of 33x17", "decode", "to YC", "FilterProc", "from YC", "encode", "host's own",
                              "FilterProc waits input", "FilterProc waits output"}) {
        EXPECT_NE(errors.find(stage), std::string::npos) << stage << " missing from:\n" << errors;
    }
}

TEST_F(KeloHost, SettingsFilesAreReadUnderEverySetAndWrittenBack) {
    std::ofstream(Path("look.txt")) << "\xEF\xBB\xBF# a warm look\n\n  Y(offs)=100\r\nCb(offs)=-50\nF16=1\n";
    // --set wins wherever it stands; no frames are written with --save-settings.
    ASSERT_EQ(Run("--set 'Y(offs)=10' --settings look.txt --save-settings saved.txt"), 0) << errors;
    const std::string saved = Contents("saved.txt");
    for (const char* line : {"\nY(offs)=10\n", "\nCb(offs)=-50\n", "\nF16=1\n", "\npow2=1\n", "\nB(gamm)=0\n"}) {
        EXPECT_NE(saved.find(line), std::string::npos) << line << " missing from:\n" << saved;
    }
    EXPECT_FALSE(fs::exists(Path("kelo-out.png")));
    EXPECT_FALSE(fs::exists(Path("saved.txt.kelo-partial")));
    // The saved file gives the frames the same settings: Y code 16 is YC 0, plus 10.
    WriteClip("in.y4m", 1);
    ASSERT_EQ(Run("--settings saved.txt in.y4m out.y4m"), 0) << errors;
    EXPECT_EQ(ReadClip("out.y4m")[0].samples8[0], 17);

    std::ofstream(Path("bad.txt")) << "Y(offs)=1\n# fine\nQ=2\n";
    EXPECT_EQ(Run("--settings bad.txt"), 1);
    EXPECT_NE(errors.find("kelo-host: bad.txt:3: Q=2: the filter has no setting \"Q\"\nvalid settings:"),
              std::string::npos) << errors;
    std::ofstream(Path("range.txt")) << "\nY(offs)=257\n";
    EXPECT_EQ(Run("--settings range.txt"), 1);
    EXPECT_NE(errors.find("range.txt:2: Y(offs)=257: \"Y(offs)\" takes an integer from -256 to 256"),
              std::string::npos) << errors;
    EXPECT_EQ(Run("--settings missing.txt"), 1);
    EXPECT_NE(errors.find("missing.txt: cannot open"), std::string::npos) << errors;
}

TEST_F(KeloHost, WritesTheCorrectionAsACubeLutThroughThePlugin) {
    ASSERT_EQ(Run("--set 'Y(offs)=256' --cube look.cube --cube-size 3"), 0) << errors;
    std::istringstream text(Contents("look.cube"));
    std::vector<std::string> lattice;
    bool sized = false, conversionNamed = false;
    for (std::string line; std::getline(text, line);) {
        if (line[0] == '#') conversionNamed |= line.find("BT.601, as kelo-host converts PNG") != std::string::npos;
        else if (line == "LUT_3D_SIZE 3") sized = true;
        else if (std::isdigit(static_cast<unsigned char>(line[0])) || line[0] == '-') lattice.push_back(line);
    }
    EXPECT_TRUE(sized && conversionNamed) << Contents("look.cube");
    ASSERT_EQ(lattice.size(), 27u);
    // The plug-in lifted Y by 256 of 4096, and nothing clipped it.
    EXPECT_EQ(lattice.front(), "0.062500 0.062500 0.062500");
    EXPECT_EQ(lattice.back(), "1.062500 1.062500 1.062500");
    // Red runs fastest: the second point is half red.
    EXPECT_EQ(lattice[1].substr(0, 4), "0.56");
}

#ifdef KELO_HAVE_PREVIEW
TEST_F(KeloHost, PreviewServesTheFramesOfAY4mWithSharedSettingsUntilCtrlC) {
    WriteClip("in.y4m", 3);
    EXPECT_EQ(Run("--preview - <in.y4m"), 1);
    EXPECT_NE(errors.find("-: --preview needs a file it can read again"), std::string::npos) << errors;

    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const std::string exitMark = Path("exit.mark").string();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeEnds[1], 1);
        close(pipeEnds[0]);
        if (chdir(Path("").c_str()) != 0) _exit(127);
        setenv("KELO_TEST_EXIT_MARK", exitMark.c_str(), 1);
        setenv("KELO_TEST_ANY_ORDER", "1", 1);
        execl(KELO_HOST_PATH, "kelo-host", "--plugin", KELO_TEST_PLUGIN_PATH, "--preview", "in.y4m", nullptr);
        _exit(127);
    }
    close(pipeEnds[1]);
    // A failed expectation must not leave the server running.
    struct Reaper {
        pid_t pid;
        ~Reaper() {
            if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
    } reaper{pid};
    std::FILE* out = fdopen(pipeEnds[0], "r");
    char line[256] = {};
    ASSERT_TRUE(std::fgets(line, sizeof line, out));
    std::fclose(out);
    const std::string url = line;
    const size_t portAt = url.find("127.0.0.1:") + 10, tokenAt = url.find("token=") + 6;
    ASSERT_NE(tokenAt, std::string::npos + 6) << url;
    const int port = std::stoi(url.substr(portAt));
    const std::string token = url.substr(tokenAt, 32);

    httplib::Client client("127.0.0.1", port);
    EXPECT_EQ(client.Get("/api/state")->status, 403);
    const auto state = client.Get("/api/state?token=" + token);
    EXPECT_EQ(state->status, 200);
    EXPECT_NE(state->body.find("\"frames\":3"), std::string::npos) << state->body;
    const auto refused = client.Post("/api/settings?token=" + token, "Y(offs)=1000\n", "text/plain");
    EXPECT_EQ(refused->status, 400);
    EXPECT_NE(refused->body.find("settings:1: Y(offs)=1000"), std::string::npos) << refused->body;
    EXPECT_EQ(client.Get("/api/picture?frame=3&token=" + token)->status, 400);
    const auto firstPixel = [](const httplib::Result& picture) {
        EXPECT_EQ(picture->status, 200) << picture->body;
        std::FILE* memory = fmemopen(const_cast<char*>(picture->body.data()), picture->body.size(), "rb");
        ByteInput input(memory, "picture");
        const Picture decoded = ReadPng(input);
        std::fclose(memory);
        return decoded.samples8.at(0);
    };
    // Frame 2 has Y code 18, YC 37; the filter adds 100: R'G'B' 137 / 4096 of 255 is 9.
    // Frame 0, YC 0 + 100, gives 6. A second client sees the same settings.
    EXPECT_EQ(firstPixel(client.Post("/api/picture?frame=2&token=" + token, "Y(offs)=100\n", "text/plain")), 9);
    EXPECT_EQ(firstPixel(httplib::Client("localhost", port).Get("/api/picture?frame=0&token=" + token)), 6);
    EXPECT_NE(client.Get("/api/settings.txt?token=" + token)->body.find("\nY(offs)=100\n"), std::string::npos);

    // A reduced picture goes through the filter at its own size; the probe
    // and the scopes answer for the pictures by their numbers, behind the
    // same gate as the rest.
    const auto reduced = client.Get("/api/picture?frame=2&width=11&token=" + token);
    ASSERT_EQ(reduced->status, 200) << reduced->body;
    EXPECT_EQ(reduced->get_header_value("X-Kelo-Size"), "11x6");
    EXPECT_EQ(client.Get("/api/picture?width=0&token=" + token)->status, 400);
    const auto full = client.Get("/api/picture?frame=2&token=" + token);
    const std::string number = full->get_header_value("X-Kelo-Picture");
    const auto probe = client.Get("/api/probe?x=0&y=0&after=" + number + "&token=" + token);
    EXPECT_NE(probe->body.find("\"Y\":137,\"Cb\":0,\"Cr\":0,\"rgb\":[9,9,9],\"bits\":8"), std::string::npos)
        << probe->body;
    EXPECT_EQ(client.Get("/api/probe?x=0&y=0&after=" + number)->status, 403);
    EXPECT_EQ(client.Get("/api/probe?x=33&y=0&after=" + number + "&token=" + token)->status, 400);
    EXPECT_EQ(client.Get("/api/scopes?picture=" + number + "&token=" + token)->get_header_value("Content-Type"),
              "image/png");
    EXPECT_EQ(client.Get("/api/scopes?picture=" + number)->status, 403);

    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    reaper.pid = 0;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(fs::exists(Path("exit.mark")));
}
#endif

}  // namespace
