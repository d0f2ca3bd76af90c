// The .cube file in a real consumer: ffmpeg's lut3d filter applies it to the
// chart, and the picture must come close to what kelo-host itself makes of
// the chart with the same settings. Skipped where ffmpeg is missing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "host/files/byte_stream.h"
#include "host/picture/png_io.h"
#include "tests/host/stream_test_support.h"

namespace fs = std::filesystem;

namespace {

double Psnr(const Picture& a, const Picture& b) {
    EXPECT_EQ(a.samples8.size(), b.samples8.size());
    double squares = 0;
    for (size_t i = 0; i < a.samples8.size(); ++i) {
        const double difference = double(a.samples8[i]) - double(b.samples8[i]);
        squares += difference * difference;
    }
    const double mse = squares / double(a.samples8.size());
    return mse == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / mse);
}

TEST(CubeLut, FfmpegsLut3dComesWithin40DbOfKeloHostOnTheChart) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
    const fs::path dir = fs::temp_directory_path() / ("kelo-cube-test-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const auto run = [&](const std::string& command) {
        const std::string line = "cd '" + dir.string() + "' && " + command;
        EXPECT_EQ(std::system(line.c_str()), 0) << line;
    };
    // The demo's correction, on the chart as a PNG picture (the test plug-in
    // without settings changes nothing).
    // Mesa keeps allocations until exit, which LeakSanitizer would report.
    const std::string host =
        "ASAN_OPTIONS=detect_leaks=0 XDG_RUNTIME_DIR='" + dir.string() + "' '" KELO_HOST_PATH "' --quiet";
    const std::string demo = " --set 'R(gain)=64' --set 'B(gain)=-48' --set 'Y(offs)=16'";
    run(host + " --plugin '" KELO_TEST_PLUGIN_PATH "' && mv kelo-out.png chart.png");
    run(host + demo + " chart.png kelo.png");
    const Picture expected = ReadPicture(dir / "kelo.png");
    double psnrAt33 = 0;
    for (int size : {17, 33, 65}) {
        const std::string lut = "lut" + std::to_string(size) + ".cube", out = "lut" + std::to_string(size) + ".png";
        run(host + demo + " --cube " + lut + " --cube-size " + std::to_string(size));
        run("ffmpeg -v error -y -i chart.png -vf lut3d=file=" + lut + ":interp=tetrahedral -pix_fmt rgb24 " + out);
        const double psnr = Psnr(ReadPicture(dir / out), expected);
        std::printf("LUT size %d: %.2f dB PSNR against kelo-host's own picture\n", size, psnr);
        RecordProperty("psnr_" + std::to_string(size), std::to_string(psnr));
        if (size == 33) psnrAt33 = psnr;
    }
    EXPECT_GE(psnrAt33, 40.0);
    fs::remove_all(dir);
}

}  // namespace
