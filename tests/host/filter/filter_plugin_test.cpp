#include <gtest/gtest.h>

#include "host/filter/filter_plugin.h"

namespace {

class FilterPlugin : public testing::Test {
protected:
    PluginLibrary library{KELO_TEST_PLUGIN_PATH};
    FilterDescription description = DescribeFilter(library.descriptor());
};

TEST_F(FilterPlugin, DescribesTheSettingsWindowWithNamesConvertedFromCodePage932) {
    EXPECT_EQ(FormatDescription(description),
              "kelo テスト\n"
              "  test double 試験\n"
              "track bars (15):\n"
              "  Y(offs)     -256 .. 256     default 0\n"
              "  Y(gain)     -256 .. 256     default 0\n"
              "  Cb(offs)    -256 .. 256     default 0\n"
              "  Cb(gain)    -256 .. 256     default 0\n"
              "  Cr(offs)    -256 .. 256     default 0\n"
              "  Cr(gain)    -256 .. 256     default 0\n"
              "  R(offs)     -256 .. 256     default 0\n"
              "  R(gain)     -256 .. 256     default 0\n"
              "  R(gamm)     -256 .. 256     default 0\n"
              "  G(offs)     -256 .. 256     default 0\n"
              "  G(gain)     -256 .. 256     default 0\n"
              "  G(gamm)     -256 .. 256     default 0\n"
              "  B(offs)     -256 .. 256     default 0\n"
              "  B(gain)     -256 .. 256     default 0\n"
              "  B(gamm)     -256 .. 256     default 0\n"
              "check boxes (2):\n"
              "  F16       off by default\n"
              "  pow2      on by default\n");
}

TEST_F(FilterPlugin, SetsTrackBarsAndCheckBoxesByNameWithinTheirRanges) {
    FilterSettings settings = DefaultSettings(description);
    EXPECT_EQ(settings.check, (std::vector<int32_t>{0, 1}));
    ApplySetting(description, "R(gain)=-256", settings);
    ApplySetting(description, "B(gamm)=256", settings);
    ApplySetting(description, "pow2=0", settings);
    ApplySetting(description, "F16=1", settings);
    EXPECT_EQ(settings.track[7], -256);
    EXPECT_EQ(settings.track[14], 256);
    EXPECT_EQ(settings.check, (std::vector<int32_t>{1, 0}));
}

TEST_F(FilterPlugin, RefusesUnknownNamesAndValuesOutsideTheRangeListingTheValidOnes) {
    const struct {
        std::string assignment, message;
    } cases[] = {
        {"R(gain)=257", "--set R(gain)=257: \"R(gain)\" takes an integer from -256 to 256"},
        {"R(gain)=-257", "takes an integer from -256 to 256"},
        {"R(gain)=1.5", "takes an integer from -256 to 256"},
        {"R(gain)=", "takes an integer from -256 to 256"},
        {"F16=2", "--set F16=2: \"F16\" takes 0 or 1"},
        {"r(gain)=1", "--set r(gain)=1: the filter has no setting \"r(gain)\""},
        {"R(gain)", "--set R(gain): expected NAME=VALUE"},
    };
    for (const auto& c : cases) {
        FilterSettings settings = DefaultSettings(description);
        try {
            ApplySetting(description, c.assignment, settings);
            ADD_FAILURE() << c.assignment << ": accepted";
        } catch (const SettingError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find(c.message), std::string::npos) << c.assignment << ": got \"" << message << "\"";
            EXPECT_NE(message.find("\n  Y(offs)=-256..256\n"), std::string::npos) << message;
            EXPECT_NE(message.find("\n  pow2=0|1"), std::string::npos) << message;
        }
        EXPECT_EQ(settings.track, DefaultSettings(description).track) << c.assignment << " changed a value";
    }
}

TEST(FilterDescriptor, RefusesTablesThatAreMissingOrAbsurd) {
    const char* names[1] = {nullptr};
    const int32_t values[1] = {0};
    FILTER_DLL broken{};
    broken.track_n = -1;
    EXPECT_THROW(DescribeFilter(broken), PluginError);
    broken.track_n = 1;
    EXPECT_THROW(DescribeFilter(broken), PluginError);  // no tables
    broken.track_name = names;
    broken.track_default = broken.track_s = broken.track_e = values;
    EXPECT_THROW(DescribeFilter(broken), PluginError);  // a null name
    broken.track_n = 0;
    broken.check_n = 100000;
    EXPECT_THROW(DescribeFilter(broken), PluginError);
}

TEST(FilterLibrary, RefusesAMissingLibraryOrOneWithoutTheExport) {
    EXPECT_THROW(PluginLibrary("/nonexistent/kelo.auf"), PluginError);
    EXPECT_THROW(PluginLibrary("libm.so.6"), PluginError);
}

}  // namespace
