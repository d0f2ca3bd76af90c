// The program itself, run as a user would run it, with the test plug-in.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/byte_stream.h"
#include "host/png_io.h"
#include "host/y4m.h"

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

    // Frame i has Y = 16 + i in every pixel and chroma at 128.
    void WriteClip(const std::string& name, int frames, PictureFormat format = {},
                   const std::string& colourSpace = "") {
        std::FILE* file = std::fopen(Path(name).c_str(), "wb");
        ByteOutput output(file, name);
        Y4mWriter writer(output, Y4mStreamInfo{33, 17, format, colourSpace, {"F25:1", "Ip"}});
        for (int i = 0; i < frames; ++i) {
            Picture picture;
            picture.width = 33;
            picture.height = 17;
            picture.format = format;
            picture.samples8.assign(picture.SampleCount(), 128);
            std::fill_n(picture.samples8.begin(), 33 * 17, uint8_t(16 + i));
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

Picture ReadPicture(const fs::path& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    EXPECT_TRUE(file) << path;
    ByteInput input(file, path.string());
    Picture picture = ReadPng(input);
    std::fclose(file);
    return picture;
}

TEST_F(KeloHost, CorrectsTheChartAndWritesTheBeforeAndAfterPicture) {
    ASSERT_EQ(Run("--set 'Y(offs)=100' --set 'Cb(offs)=-50' --compare cmp.png"), 0) << errors;
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
}

TEST_F(KeloHost, PipesY4mThroughUnchangedWhenTheFilterChangesNothing) {
    // "F16" makes the test plug-in answer in the second buffer.
    WriteClip("in.y4m", 3, PictureFormat{ColourModel::YCbCr, Chroma::k420, 8, false}, "420mpeg2");
    ASSERT_EQ(Run("--set F16=1 - - <in.y4m >out.y4m"), 0) << errors;
    std::ifstream in(Path("in.y4m"), std::ios::binary), out(Path("out.y4m"), std::ios::binary);
    std::stringstream inBytes, outBytes;
    inBytes << in.rdbuf();
    outBytes << out.rdbuf();
    EXPECT_EQ(inBytes.str(), outBytes.str());
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

TEST_F(KeloHost, AFailedFilterProcKeepsTheFramesAlreadyWritten) {
    WriteClip("in.y4m", 4);
    EXPECT_EQ(Run("in.y4m out.y4m", "KELO_TEST_FAIL=proc:2 KELO_TEST_EXIT_MARK=" + Path("exit.mark").string()), 2);
    EXPECT_NE(errors.find("FilterProc failed on frame 2"), std::string::npos) << errors;
    EXPECT_TRUE(fs::exists(Path("exit.mark")));
    const std::vector<Picture> frames = ReadClip("out.y4m");
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].samples8[0], 17);
}

// A failure with frames in flight on both sides of FilterProc, in the plug-in
// and then in the output: the frames before it arrive whole and in order,
// and FilterExit runs once, on FilterInit's thread.
TEST_F(KeloHost, AFailureMidStreamKeepsTheWholeFramesBeforeItInOrder) {
    WriteClip("in.y4m", 12);
    std::string header;
    std::getline(std::ifstream(Path("in.y4m")), header);
    const size_t headerBytes = header.size() + 1;
    const size_t frameBytes = (fs::file_size(Path("in.y4m")) - headerBytes) / 12;
    const std::string mark = "KELO_TEST_EXIT_MARK=" + Path("exit.mark").string();
    const auto expectFirstFrames = [&](size_t count, const std::string& what) {
        const std::vector<Picture> frames = ReadClip("out.y4m");
        ASSERT_EQ(frames.size(), count) << what;
        for (size_t i = 0; i < count; ++i) EXPECT_EQ(frames[i].samples8[0], 16 + i) << what << ", frame " << i;
        EXPECT_EQ(fs::file_size(Path("out.y4m")), headerBytes + count * frameBytes) << what;
        std::ifstream file(Path("exit.mark"));
        std::stringstream calls;
        calls << file.rdbuf();
        EXPECT_EQ(calls.str(), "exit\n") << what;
        fs::remove(Path("exit.mark"));
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

TEST_F(KeloHost, ATruncatedInputNamesTheFrameAndKeepsTheCompleteOnes) {
    WriteClip("in.y4m", 3);
    fs::resize_file(Path("in.y4m"), fs::file_size(Path("in.y4m")) - 10);
    EXPECT_EQ(Run("in.y4m out.y4m", "KELO_TEST_EXIT_MARK=" + Path("exit.mark").string()), 1);
    EXPECT_NE(errors.find("in.y4m: frame 2: cut short"), std::string::npos) << errors;
    EXPECT_TRUE(fs::exists(Path("exit.mark")));
    EXPECT_EQ(ReadClip("out.y4m").size(), 2u);
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
    EXPECT_EQ(Run("--help >help.txt"), 0);
    EXPECT_GT(fs::file_size(Path("help.txt")), 500u);
}

TEST_F(KeloHost, StatsNameEveryStage) {
    WriteClip("in.y4m", 2);
    ASSERT_EQ(Run("--stats in.y4m out.y4m"), 0) << errors;
    for (const char* stage : {"2 frames of 33x17", "decode", "to YC", "FilterProc", "from YC", "encode", "host's own",
                              "FilterProc waits input", "FilterProc waits output"}) {
        EXPECT_NE(errors.find(stage), std::string::npos) << stage << " missing from:\n" << errors;
    }
}

}  // namespace
