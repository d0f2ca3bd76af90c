// The program itself, run as a user would run it, with the test plug-in.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <csignal>
#include <unistd.h>

#include "host/byte_stream.h"
#include "host/png_io.h"
#include "host/y4m.h"
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

    std::string ReadText(const std::string& name) const {
        std::ifstream file(Path(name), std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

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
    for (const char* stage :
         {"2 frames of 33x17", "decode", "to YC", "FilterProc", "from YC", "encode", "host's own"}) {
        EXPECT_NE(errors.find(stage), std::string::npos) << stage << " missing from:\n" << errors;
    }
}

TEST_F(KeloHost, SettingsFilesAreReadUnderEverySetAndWrittenBack) {
    std::ofstream(Path("look.txt")) << "\xEF\xBB\xBF# a warm look\n\n  Y(offs)=100\r\nCb(offs)=-50\nF16=1\n";
    // --set wins wherever it stands; no frames are written with --save-settings.
    ASSERT_EQ(Run("--set 'Y(offs)=10' --settings look.txt --save-settings saved.txt"), 0) << errors;
    const std::string saved = ReadText("saved.txt");
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
    std::istringstream text(ReadText("look.cube"));
    std::vector<std::string> lattice;
    bool sized = false, conversionNamed = false;
    for (std::string line; std::getline(text, line);) {
        if (line[0] == '#') conversionNamed |= line.find("BT.601, as kelo-host converts PNG") != std::string::npos;
        else if (line == "LUT_3D_SIZE 3") sized = true;
        else if (std::isdigit(static_cast<unsigned char>(line[0])) || line[0] == '-') lattice.push_back(line);
    }
    EXPECT_TRUE(sized && conversionNamed) << ReadText("look.cube");
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
        execl(KELO_HOST_PATH, "kelo-host", "--plugin", KELO_TEST_PLUGIN_PATH, "--preview", "in.y4m", nullptr);
        _exit(127);
    }
    close(pipeEnds[1]);
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

    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(fs::exists(Path("exit.mark")));
}
#endif

}  // namespace
