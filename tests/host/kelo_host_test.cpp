// The program itself, run as a user would run it, with the test plug-in.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "host/files/byte_stream.h"
#include "host/picture/png_io.h"
#include "host/picture/y4m.h"
#include "host/scopes/scope_drawing.h"
#include "tests/host/stream_test_support.h"
#ifdef KELO_HAVE_PREVIEW
#define BOOST_BEAST_USE_STD_STRING_VIEW
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
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
        return RunWithoutPlugin("--plugin '" KELO_TEST_PLUGIN_PATH "' " + arguments, environment);
    }
    int RunWithoutPlugin(const std::string& arguments, const std::string& environment = "") {
        const std::string command = "cd '" + dir_.string() + "' && " + environment + " '" KELO_HOST_PATH "' " +
                                    arguments + " 2>errors.txt";
        const int status = std::system(command.c_str());
        std::ifstream file(dir_ / "errors.txt");
        std::stringstream text;
        text << file.rdbuf();
        errors = text.str();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path Path(const std::string& name) const { return dir_ / name; }

    struct Signalled {
        int status = -1;  // -1: it did not end on its own within 10 s
        double secondsAfterSignal = 0;
    };
    // Runs kelo-host as Run does and sends it `signal` after `delay`
    // seconds. Its standard input is a pipe that gets `input` and then stays
    // open, a writer that has more to come; its standard output is a pipe
    // that nobody reads with `stalledOutput`, /dev/null otherwise.
    Signalled RunSignalled(const std::vector<std::string>& arguments, int signal, double delay,
                           const std::string& input = "", bool stalledOutput = false) {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return {};
        const std::string errorsPath = Path("errors.txt").string();
        std::vector<std::string> words = {"kelo-host", "--plugin", KELO_TEST_PLUGIN_PATH};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            const int errorsFd = open(errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int outFd = stalledOutput ? out[1] : open("/dev/null", O_WRONLY);
            if (errorsFd < 0 || outFd < 0 || dup2(in[0], 0) < 0 || dup2(outFd, 1) < 0 || dup2(errorsFd, 2) < 0 ||
                chdir(dir_.c_str()) != 0) {
                _exit(126);
            }
            for (const int fd : {in[0], in[1], out[0], out[1]}) close(fd);
            execv(KELO_HOST_PATH, argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        EXPECT_EQ(write(in[1], input.data(), input.size()), ssize_t(input.size()));
        std::this_thread::sleep_for(std::chrono::duration<double>(delay));
        kill(pid, signal);
        const auto sent = std::chrono::steady_clock::now();
        Signalled result;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() - sent > std::chrono::seconds(10)) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                status = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        result.secondsAfterSignal = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
        result.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        close(in[1]);
        close(out[0]);
        errors = Contents("errors.txt");
        return result;
    }

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

TEST_F(KeloHost, APngOutputNotesTheFramesLeftOutOnlyWhenThereAreSome) {
    const std::string note = "only the first frame was processed";
    for (const int frames : {1, 2}) {
        WriteClip("in.y4m", frames);
        ASSERT_EQ(Run("in.y4m out.png"), 0) << errors;
        EXPECT_EQ(errors.find(note) != std::string::npos, frames > 1) << frames << " frames: " << errors;
        EXPECT_EQ(ReadPicture(Path("out.png")).width, 33);
    }
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
        // One plug-in, in kelo-host's own process, which the test plug-in
        // signals; the jobs have a test of their own.
        EXPECT_EQ(Run("--jobs 1 --compare cmp.png " + c.input + " out.y4m",
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
    EXPECT_EQ(Run("--jobs 1 --compare cmp.png in.y4m out.y4m", "KELO_TEST_SIGNAL=1 KELO_TEST_SIGNALS=2"),
              128 + SIGTERM);
    EXPECT_EQ(Contents("out.y4m"), "the user's older file");
    EXPECT_EQ(Listing(), (std::vector<std::string>{"cmp.png", "cut.y4m", "exit.mark", "in.y4m", "out.y4m"}));
}

// Whatever the run waits for (a pipe with nothing yet, a FIFO with nobody
// at the other end, a reader that takes nothing), the first signal ends the
// wait at once: 128 + the signal, and no file is written or replaced.
TEST_F(KeloHost, AStopEndsEveryWaitForAStreamAtOnceAndChangesNoFile) {
    WriteClip("two.y4m", 2);
    const std::string twoFrames = Contents("two.y4m");
    WriteClip("big.y4m", 2, {}, "", 320, 240);  // a frame more than a pipe holds
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(Path("fifo.y4m").c_str(), 0600), 0);
    const struct {
        std::vector<std::string> arguments;
        int signal;
        std::string input;
        bool stalledOutput;
        std::string message;
    } cases[] = {
        {{"--settings", "-", "--save-settings", "look.txt"}, SIGINT, "", false, "stopped by SIGINT\n"},
        {{"--settings", "-", "--cube", "look.cube"}, SIGTERM, "Y(offs)=1\n", false, "stopped by SIGTERM\n"},
        {{"--settings", "fifo", "--save-settings", "look.txt"}, SIGTERM, "", false, "stopped by SIGTERM\n"},
        {{"-", "out.y4m"}, SIGINT, "", false, "stopped by SIGINT after 0 frames"},
        {{"fifo.y4m", "out.y4m"}, SIGINT, "", false, "stopped by SIGINT after 0 frames"},
        {{"-", "out.png"}, SIGTERM, twoFrames.substr(0, 30), false, "stopped by SIGTERM after 0 frames"},
        {{"big.y4m", "-"}, SIGINT, "", true, "stopped by SIGINT after 0 frames"},
        {{"two.y4m", "fifo.y4m"}, SIGTERM, "", false, "stopped by SIGTERM after 0 frames"},
    };
    for (const auto& c : cases) {
        const std::string what = c.arguments[0] + " " + c.arguments[1] + " " + c.arguments[2 % c.arguments.size()];
        for (const char* name : {"look.txt", "out.y4m", "out.png"}) std::ofstream(Path(name)) << "the user's";
        const Signalled run = RunSignalled(c.arguments, c.signal, 0.5, c.input, c.stalledOutput);
        EXPECT_EQ(run.status, 128 + c.signal) << what << ": " << errors;
        EXPECT_LT(run.secondsAfterSignal, 2.0) << what;
        EXPECT_NE(errors.find("kelo-host: " + c.message), std::string::npos) << what << ": " << errors;
        for (const char* name : {"look.txt", "out.y4m", "out.png"}) EXPECT_EQ(Contents(name), "the user's") << what;
        EXPECT_EQ(Listing(), (std::vector<std::string>{"big.y4m", "fifo", "fifo.y4m", "look.txt", "out.png",
                                                       "out.y4m", "two.y4m"}))
            << what;
    }

    // Mid-stream, the frames that came are kept as for any stop.
    fs::remove(Path("out.y4m"));
    const Signalled run = RunSignalled({"-", "out.y4m"}, SIGINT, 0.5, twoFrames);
    EXPECT_EQ(run.status, 128 + SIGINT) << errors;
    EXPECT_NE(errors.find("kelo-host: stopped by SIGINT after 2 frames"), std::string::npos) << errors;
    EXPECT_EQ(ReadClip("out.y4m.partial").size(), 2u);
    EXPECT_FALSE(fs::exists(Path("out.y4m")));

    // The loader would wait on a FIFO where no signal could end the wait.
    EXPECT_EQ(RunWithoutPlugin("--plugin fifo --describe"), 1);
    EXPECT_NE(errors.find("fifo: not a regular file"), std::string::npos) << errors;
}

// A signal while the last file is written: either the files are replaced
// and the run succeeds, or it reports the stop and they are all as they were.
TEST_F(KeloHost, AStopAsTheOutputsAreWrittenReplacesAllOrNone) {
    Picture picture;
    picture.width = picture.height = 768;
    picture.format = PictureFormat{ColourModel::Rgb, Chroma::k444, 16, false};
    picture.samples16.resize(picture.SampleCount());
    uint32_t noise = 1;  // costly to compress, so that the encoding takes a while
    for (uint16_t& sample : picture.samples16) sample = uint16_t((noise = noise * 1664525u + 1013904223u) >> 16);
    {
        std::FILE* file = std::fopen(Path("in.png").c_str(), "wb");
        ByteOutput output(file, "in.png");
        WritePng(output, picture);
        std::fclose(file);
    }
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(Run("--compare new-cmp.png in.png new.png"), 0) << errors;
    const double duration = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::string fresh = Contents("new.png");
    fs::remove(Path("new-cmp.png"));
    int replaced = 0, kept = 0;
    // From the start of the run to beyond its end; a signal before the
    // handlers are in place would not be kelo-host's to answer.
    for (int i = 1; i <= 9; ++i) {
        const double delay = std::max(0.1, duration * i / 5);
        std::ofstream(Path("out.png")) << "the user's";
        std::ofstream(Path("cmp.png")) << "the user's";
        const Signalled run = RunSignalled({"--compare", "cmp.png", "in.png", "out.png"}, SIGINT, delay);
        if (run.status == 0) {
            ++replaced;
            EXPECT_EQ(Contents("out.png"), fresh) << i;
            EXPECT_NE(Contents("cmp.png"), "the user's") << i;
        } else {
            ++kept;
            EXPECT_EQ(run.status, 128 + SIGINT) << i << ": " << errors;
            EXPECT_EQ(Contents("out.png"), "the user's") << i;
            EXPECT_EQ(Contents("cmp.png"), "the user's") << i;
        }
        EXPECT_EQ(Listing(), (std::vector<std::string>{"cmp.png", "in.png", "new.png", "out.png"})) << i;
    }
    EXPECT_GT(kept, 0);
    EXPECT_GT(replaced, 0);
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

    // A loop of links leads to no file to replace.
    fs::create_symlink("loop-b.y4m", Path("loop-a.y4m"));
    fs::create_symlink("loop-a.y4m", Path("loop-b.y4m"));
    EXPECT_EQ(Run("in.y4m loop-a.y4m"), 1);
    EXPECT_NE(errors.find("kelo-host: loop-a.y4m: cannot create: Too many levels of symbolic links"),
              std::string::npos) << errors;
    EXPECT_TRUE(fs::is_symlink(Path("loop-a.y4m")) && fs::is_symlink(Path("loop-b.y4m")));
    EXPECT_EQ(fs::read_symlink(Path("loop-a.y4m")), "loop-b.y4m");
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

TEST_F(KeloHost, NoWriteReplacesAFileTheRunReadsOrAnotherWrite) {
    std::ofstream(Path("look.txt")) << "R(gain)=64\n";
    const std::string look = Contents("look.txt");
    fs::create_symlink("look.txt", Path("look-link.txt"));
    ASSERT_EQ(Run("--quiet"), 0) << errors;
    fs::rename(Path("kelo-out.png"), Path("chart.png"));
    const struct {
        std::string arguments, message;
    } cases[] = {
        {"--settings look.txt --save-settings look.txt", "look.txt is the settings file look.txt; refusing"},
        {"--settings look.txt --cube look-link.txt", "look-link.txt is the settings file look.txt; refusing"},
        {"--settings - --save-settings look.txt <look.txt", "look.txt is the settings file standard input; refusing"},
        {"--cube both --save-settings both", "both: --save-settings and --cube name the same file"},
        {"chart.png - --compare cmp.png >cmp.png", "cmp.png: --compare names the output file"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.arguments), 1) << c.arguments;
        EXPECT_NE(errors.find("kelo-host: " + c.message), std::string::npos) << c.arguments << ": " << errors;
        EXPECT_EQ(Contents("look.txt"), look) << c.arguments;
        EXPECT_FALSE(fs::exists(Path("both"))) << c.arguments;
    }
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

    // One plug-in, so one FilterExit.
    EXPECT_EQ(Run("--jobs 1 in.y4m out.y4m", "KELO_TEST_FAIL=proc:5 " + mark), 2);
    EXPECT_NE(errors.find("FilterProc failed on frame 5"), std::string::npos) << errors;
    expectFirstFrames(5, "FilterProc failing");

    // Room for the stream header and seven and a half frames.
    const size_t limit = headerBytes + 7 * frameBytes + frameBytes / 2;
    EXPECT_EQ(Run("--jobs 1 in.y4m out.y4m", mark + " prlimit --fsize=" + std::to_string(limit)), 1);
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
        {"--probe", "--probe reads the plug-in's reports at its Windows imports"},
        {"--compare cmp.jpg", "cmp.jpg: the comparison's name must end in .png"},
        {"--compare ./x.png in.y4m x.png", "./x.png: --compare names the output file"},
        {"--compare a.png --compare b.png in.y4m", "--compare is given twice; it takes one value"},
        {"--cube a.cube --max-w 100", "--cube and --save-settings write no frames: drop --max-w"},
        {"--describe in.y4m", "--describe takes only --plugin: drop in.y4m"},
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
    EXPECT_EQ(RunWithoutPlugin("--plugin /nonexistent.auf"), 1);
    EXPECT_NE(errors.find("cannot load the plug-in"), std::string::npos) << errors;
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
    EXPECT_EQ(RunWithoutPlugin("--version >version.txt"), 0);
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

// --set and the files share one rule: blanks around the name and the value
// are dropped, and the name ends at the first '='. What cannot be a settings
// file is named as such.
TEST_F(KeloHost, SetAndSettingsFilesShareOneRuleAndRefusalsNameTheProblem) {
    std::ofstream(Path("spaced.txt")) << "Y(offs) = 7\n\tF16\t=\t1 \r\n";
    ASSERT_EQ(Run("--settings spaced.txt --set ' Cb(offs) = -5 ' --save-settings saved.txt"), 0) << errors;
    const std::string saved = Contents("saved.txt");
    for (const char* line : {"\nY(offs)=7\n", "\nF16=1\n", "\nCb(offs)=-5\n"}) {
        EXPECT_NE(saved.find(line), std::string::npos) << line << " missing from:\n" << saved;
    }

    std::ofstream(Path("nul.txt"), std::ios::binary) << std::string("Y(offs)=1\nY(of\0fs)=2\n", 21);
    std::ofstream(Path("utf16.txt"), std::ios::binary) << std::string("\xFF\xFER\0(\0=\0" "1\0\n\0", 12);
    std::ofstream(Path("twice.txt")) << "R(gain)=5=6\n";
    fs::create_directory(Path("adir"));
    const struct {
        std::string arguments, message;
    } cases[] = {
        {"--settings nul.txt", "kelo-host: nul.txt:2: holds a NUL byte; a settings file is text\n"},
        {"--settings utf16.txt", "kelo-host: utf16.txt: is UTF-16 text; a settings file is UTF-8"},
        {"--settings twice.txt", "twice.txt:1: R(gain)=5=6: \"R(gain)\" takes an integer from -256 to 256"},
        {"--set 'R(gain)=5=6'", "--set R(gain)=5=6: \"R(gain)\" takes an integer from -256 to 256"},
        {"--settings adir", "kelo-host: adir: cannot read: Is a directory"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.arguments), 1) << c.arguments;
        EXPECT_NE(errors.find(c.message), std::string::npos) << c.arguments << ": " << errors;
    }
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
struct HttpAnswer {
    int status = 0;
    std::string body;
    std::map<std::string, std::string> headers;
};

// One request on a connection of its own, as a browser's tab would send it.
HttpAnswer Ask(int port, const std::string& host, const std::string& target, const std::string& body = {}) {
    namespace http = boost::beast::http;
    boost::asio::io_context context;
    boost::asio::ip::tcp::socket socket(context);
    socket.connect({boost::asio::ip::make_address_v4("127.0.0.1"), static_cast<unsigned short>(port)});
    http::request<http::string_body> request(body.empty() ? http::verb::get : http::verb::post, target, 11);
    request.set(http::field::host, host + ":" + std::to_string(port));
    if (!body.empty()) request.set(http::field::content_type, "text/plain");
    request.body() = body;
    request.prepare_payload();
    http::write(socket, request);
    boost::beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(socket, buffer, response);
    HttpAnswer answer{int(response.result_int()), response.body(), {}};
    for (const auto& field : response) answer.headers[std::string(field.name_string())] = std::string(field.value());
    return answer;
}

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

    EXPECT_EQ(Ask(port, "127.0.0.1", "/api/state").status, 403);
    const HttpAnswer state = Ask(port, "127.0.0.1", "/api/state?token=" + token);
    EXPECT_EQ(state.status, 200);
    EXPECT_NE(state.body.find("\"frames\":3"), std::string::npos) << state.body;
    const HttpAnswer refused = Ask(port, "127.0.0.1", "/api/settings?token=" + token, "Y(offs)=1000\n");
    EXPECT_EQ(refused.status, 400);
    EXPECT_NE(refused.body.find("settings:1: Y(offs)=1000"), std::string::npos) << refused.body;
    EXPECT_EQ(Ask(port, "127.0.0.1", "/api/picture?frame=3&token=" + token).status, 400);
    const auto firstPixel = [](HttpAnswer picture) {
        EXPECT_EQ(picture.status, 200) << picture.body;
        std::FILE* memory = fmemopen(picture.body.data(), picture.body.size(), "rb");
        ByteInput input(memory, "picture");
        const Picture decoded = ReadPng(input);
        std::fclose(memory);
        return decoded.samples8.at(0);
    };
    // Frame 2 has Y code 18, YC 37; the filter adds 100: R'G'B' 137 / 4096 of 255 is 9.
    // Frame 0, YC 0 + 100, gives 6. A second client sees the same settings.
    EXPECT_EQ(firstPixel(Ask(port, "127.0.0.1", "/api/picture?frame=2&token=" + token, "Y(offs)=100\n")), 9);
    EXPECT_EQ(firstPixel(Ask(port, "localhost", "/api/picture?frame=0&token=" + token)), 6);
    EXPECT_NE(Ask(port, "127.0.0.1", "/api/settings.txt?token=" + token).body.find("\nY(offs)=100\n"),
              std::string::npos);

    // A reduced picture goes through the filter at its own size; the probe
    // and the scopes answer for the pictures by their numbers, behind the
    // same gate as the rest.
    const auto ask = [&](const std::string& target) { return Ask(port, "127.0.0.1", target); };
    const HttpAnswer reduced = ask("/api/picture?frame=2&width=11&token=" + token);
    ASSERT_EQ(reduced.status, 200) << reduced.body;
    EXPECT_EQ(reduced.headers.at("X-Kelo-Size"), "11x6");
    EXPECT_EQ(ask("/api/picture?width=0&token=" + token).status, 400);
    const std::string number = ask("/api/picture?frame=2&token=" + token).headers["X-Kelo-Picture"];
    const HttpAnswer probe = ask("/api/probe?x=0&y=0&after=" + number + "&token=" + token);
    EXPECT_NE(probe.body.find("\"Y\":137,\"Cb\":0,\"Cr\":0,\"rgb\":[9,9,9],\"bits\":8"), std::string::npos)
        << probe.body;
    EXPECT_EQ(ask("/api/probe?x=0&y=0&after=" + number).status, 403);
    EXPECT_EQ(ask("/api/probe?x=33&y=0&after=" + number + "&token=" + token).status, 400);
    EXPECT_EQ(ask("/api/scopes?picture=" + number + "&token=" + token).headers["Content-Type"], "image/png");
    EXPECT_EQ(ask("/api/scopes?picture=" + number).status, 403);

    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    reaper.pid = 0;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(fs::exists(Path("exit.mark")));
}
#endif

}  // namespace

// Segments of a clip, as a scheduler would hand them to several machines:
// each one's frames after one header are the whole run, byte for byte,
// whether the segment is reached by seeking a file or by reading a pipe.
TEST_F(KeloHost, SegmentsOfAClipJoinedAfterOneHeaderAreTheWholeRun) {
    WriteClip("in.y4m", 10);
    const std::string correction = "--set 'Y(offs)=5' --set 'Cr(offs)=-3' ";
    ASSERT_EQ(Run(correction + "in.y4m whole.y4m", "timeout 60"), 0) << errors;
    std::string header;
    std::getline(std::ifstream(Path("in.y4m")), header);
    const size_t headerBytes = header.size() + 1;
    std::string joined = Contents("whole.y4m").substr(0, headerBytes);
    const char* const segments[] = {"0:4 in.y4m", "4:3 - < in.y4m", "7:5 --jobs 2 in.y4m"};
    for (const char* segment : segments) {
        ASSERT_EQ(Run(correction + "--frames " + segment + " part.y4m", "timeout 60"), 0) << segment << errors;
        const std::string part = Contents("part.y4m");
        EXPECT_EQ(part.substr(0, headerBytes), joined.substr(0, headerBytes)) << segment;
        joined += part.substr(headerBytes);
    }
    EXPECT_EQ(joined, Contents("whole.y4m"));
    // A range past the end is the header alone; one cut short names its frame.
    ASSERT_EQ(Run("--frames 12:2 in.y4m part.y4m", "timeout 60"), 0) << errors;
    EXPECT_EQ(Contents("part.y4m"), joined.substr(0, headerBytes));
    fs::resize_file(Path("in.y4m"), fs::file_size(Path("in.y4m")) - 10);
    EXPECT_EQ(Run("--frames 9:1 in.y4m part.y4m", "timeout 60"), 1);
    EXPECT_NE(errors.find("in.y4m: frame 9: cut short"), std::string::npos) << errors;
    EXPECT_EQ(Run("--frames 1:1"), 1);
    EXPECT_NE(errors.find("the chart: --frames needs a Y4M input"), std::string::npos) << errors;
}

// The same results from several plug-ins as from one: with the test plug-in
// answering in either buffer, and with kelo.auf on its device.
TEST_F(KeloHost, JobsWriteTheSameBytesAsOnePlugin) {
    WriteClip("in.y4m", 9);
    for (const char* f16 : {"0", "1"}) {
        const std::string arguments = std::string("--set 'Y(offs)=7' --set F16=") + f16 + " in.y4m ";
        ASSERT_EQ(Run(arguments + "--jobs 1 one.y4m", "timeout 60"), 0) << errors;
        ASSERT_EQ(Run(arguments + "--jobs 3 --stats three.y4m", "timeout 60"), 0) << errors;
        EXPECT_EQ(Contents("three.y4m"), Contents("one.y4m")) << "F16=" << f16;
        EXPECT_NE(errors.find("job"), std::string::npos) << errors;
    }
    WriteClip("small.y4m", 4, PictureFormat{}, "", 64, 36);
    const auto runKelo = [&](const std::string& jobs, const std::string& output) {
        const std::string command = "cd '" + Path("").string() + "' && XDG_RUNTIME_DIR='" + Path("").string() +
                                    "' ASAN_OPTIONS=detect_leaks=0 timeout 120 '" KELO_HOST_PATH "' --plugin '"
                                    KELO_AUF_PATH "' --set 'R(gain)=40' --set 'G(gamm)=30' --jobs " + jobs +
                                    " small.y4m " + output + " 2>errors.txt";
        return WEXITSTATUS(std::system(command.c_str()));
    };
    ASSERT_EQ(runKelo("1", "one.y4m"), 0) << Contents("errors.txt");
    ASSERT_EQ(runKelo("2", "two.y4m"), 0) << Contents("errors.txt");
    EXPECT_EQ(Contents("two.y4m"), Contents("one.y4m"));
    EXPECT_NE(Contents("two.y4m"), Contents("small.y4m"));
}

// A job that fails, a job that dies and a stop by Ctrl-C keep the whole
// frames before them in order; FilterExit runs once in every job that
// ran FilterInit, and no job outlives kelo-host.
TEST_F(KeloHost, JobsStopLikeOnePluginAndLeaveNoProcessBehind) {
    WriteClip("in.y4m", 12);
    const std::string tag = "KELO_TEST_RUN=" + Path("").parent_path().filename().string();
    const auto exits = [&] {
        std::ifstream file(Path("exit.mark"));
        int count = 0;
        for (std::string line; std::getline(file, line);) count += line == "exit";
        fs::remove(Path("exit.mark"));
        return count;
    };
    // Our own processes that still carry this test's tag in their environment.
    const auto survivors = [&] {
        int count = 0;
        for (const auto& entry : fs::directory_iterator("/proc")) {
            std::ifstream environ(entry.path() / "environ", std::ios::binary);
            std::stringstream text;
            text << environ.rdbuf();
            count += text.str().find(tag) != std::string::npos;
        }
        return count;
    };
    std::string header;
    std::getline(std::ifstream(Path("in.y4m")), header);
    const size_t frameBytes = (fs::file_size(Path("in.y4m")) - header.size() - 1) / 12;
    // Room for the stream header and five and a half frames.
    const std::string fullDisk =
        "prlimit --fsize=" + std::to_string(header.size() + 1 + 5 * frameBytes + frameBytes / 2);
    const struct {
        std::string environment;
        int status;
        std::string message;
        int exits;
    } cases[] = {
        {"KELO_TEST_FAIL=proc:5", 2, "FilterProc failed on frame 5", 3},
        {fullDisk, 1, "out.y4m: cannot write", 3},
        {"KELO_TEST_DIE=5", 2, "job 3 of 3 was ended by signal 9 (Killed) on frame 5", 2},
        {"KELO_TEST_INTERRUPT_PARENT=4", 128 + SIGINT, "stopped by SIGINT", 3},
    };
    for (const auto& c : cases) {
        const int status = Run("--jobs 3 in.y4m out.y4m", tag + " KELO_TEST_EXIT_MARK=" + Path("exit.mark").string() +
                                                              " " + c.environment + " timeout 60");
        EXPECT_EQ(status, c.status) << c.message << errors;
        EXPECT_NE(errors.find(c.message), std::string::npos) << errors;
        EXPECT_EQ(exits(), c.exits) << c.message;
        EXPECT_EQ(survivors(), 0) << c.message;
        EXPECT_FALSE(fs::exists(Path("out.y4m"))) << c.message;
        // The frames in hand when Ctrl-C came are finished and kept as far as
        // they run in order; how far that is depends on the jobs' pace, and
        // a slow first job may leave none.
        if (c.status == 128 + SIGINT && !fs::exists(Path("out.y4m.partial"))) continue;
        const std::vector<Picture> frames = ReadClip("out.y4m.partial");
        if (c.status != 128 + SIGINT) {
            EXPECT_EQ(frames.size(), 5u) << c.message;
        } else {
            EXPECT_LT(frames.size(), 12u);
        }
        for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i].samples8[0], 16 + i) << c.message;
        fs::remove(Path("out.y4m.partial"));
    }
    // A FilterInit that fails in the jobs writes nothing.
    EXPECT_EQ(Run("--jobs 2 in.y4m out.y4m", "KELO_TEST_FAIL=init KELO_TEST_EXIT_MARK=" + Path("exit.mark").string()),
              2);
    EXPECT_NE(errors.find("FilterInit failed"), std::string::npos) << errors;
    EXPECT_EQ(exits(), 2);
    EXPECT_EQ(Listing(), std::vector<std::string>{"in.y4m"});
}
