// The frame loop driven directly, for the one ending kelo-host's own runs
// cannot reach from here: a stop requested between frames at a chosen point.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "host/files/output_file.h"
#include "host/frame_loop/pipeline.h"

namespace fs = std::filesystem;

namespace {

// Frame i has Y = 16 + i; a stop after the third frame is written, with the
// reader and FilterProc running ahead of the writer, still writes every
// frame FilterProc finished, whole and in order, and no other.
TEST(Pipeline, AStopRequestEndsBetweenFramesWithTheFilteredFramesWritten) {
    const fs::path folder = fs::temp_directory_path() / ("kelo-pipeline-test-" + std::to_string(getpid()));
    fs::create_directories(folder);
    const std::string in = (folder / "in.y4m").string(), out = (folder / "out.y4m").string();
    constexpr int kFrames = 12;
    {
        OutputFile file(in, in);
        Y4mWriter writer(file.output(), Y4mStreamInfo{33, 17, PictureFormat{}, "", {"F25:1"}});
        for (int i = 0; i < kFrames; ++i) {
            Picture picture;
            picture.width = 33;
            picture.height = 17;
            picture.samples8.assign(picture.SampleCount(), 128);
            std::fill_n(picture.samples8.begin(), 33 * 17, uint8_t(16 + i));
            writer.WriteFrame(picture);
        }
        file.Commit();
    }
    const fs::path previous = fs::current_path();
    PipelineReport report;
    {
        PluginLibrary library(KELO_TEST_PLUGIN_PATH);
        FrameSource source(in, in);
        FrameSink sink(out, out, FileKind::kY4m, source);
        // The test plug-in checks that it starts in its own folder.
        fs::current_path(fs::path(KELO_TEST_PLUGIN_PATH).parent_path());
        RunningFilter filter(library.descriptor(), DefaultSettings(DescribeFilter(library.descriptor())));
        ASSERT_TRUE(filter.Init());
        PipelineSettings settings;
        settings.rowLength = 33 + 64;
        std::atomic<bool> stop{false};
        settings.frameWritten = [&](int written) {
            if (written == 3) stop = true;
        };
        settings.stopRequested = [&] { return stop.load(); };
        report = RunPipeline(source, sink, filter, settings);
        sink.Finish();
    }
    fs::current_path(previous);

    EXPECT_TRUE(report.stopped);
    EXPECT_FALSE(report.error);
    // FilterProc refuses frames out of order or from another thread.
    EXPECT_EQ(report.failedFrame, -1);
    EXPECT_GE(report.framesWritten, 3);
    EXPECT_LT(report.framesWritten, kFrames);
    OpenedFile file = OpenedFile::ForReading(out, out);
    ByteInput input(file.get(), out);
    Y4mReader reader(input);
    Picture picture;
    int frames = 0;
    while (reader.ReadFrame(picture)) {
        EXPECT_EQ(picture.samples8[0], 16 + frames) << "frame " << frames;
        ++frames;
    }
    EXPECT_EQ(frames, report.framesWritten);
    fs::remove_all(folder);
}

}  // namespace
