#include "host/picture/y4m.h"

#include <bit>
#include <cctype>
#include <charconv>
#include <cstring>
#include <map>
#include <sstream>

// Samples deeper than 8 bits are little-endian in the stream and are read
// and written as they are.
static_assert(std::endian::native == std::endian::little);

namespace {

// Longer header lines are refused rather than buffered without bound.
constexpr size_t kMaxHeaderLine = 4096;

bool ParseInt(const std::string& text, int& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

// Writers differ in the case of the range's value ("FULL", "full").
bool EqualsIgnoringCase(const std::string& text, const char* expected) {
    const size_t length = std::strlen(expected);
    if (text.size() != length) return false;
    for (size_t i = 0; i < length; ++i) {
        const auto upper = [](char c) { return std::toupper(static_cast<unsigned char>(c)); };
        if (upper(text[i]) != upper(expected[i])) return false;
    }
    return true;
}

// "N:D" of whole numbers, both above 0, or 0:0 for unknown (frame rates and
// pixel aspects).
bool ParseRatio(const std::string& text) {
    const size_t colon = text.find(':');
    int numerator = 0, denominator = 0;
    if (colon == std::string::npos || !ParseInt(text.substr(0, colon), numerator) ||
        !ParseInt(text.substr(colon + 1), denominator)) {
        return false;
    }
    return (numerator > 0 && denominator > 0) || (numerator == 0 && denominator == 0);
}

// The colour-range extension, its name in any case, with or without a value.
bool IsColourRange(const std::string& token) {
    constexpr char kName[] = "XCOLORRANGE";
    constexpr size_t kLength = sizeof kName - 1;
    return (token.size() == kLength || (token.size() > kLength && token[kLength] == '=')) &&
           EqualsIgnoringCase(token.substr(0, kLength), kName);
}

}  // namespace

bool ParseY4mColourSpace(const std::string& value, PictureFormat& format) {
    format = PictureFormat{};
    std::string rest;
    if (value.compare(0, 3, "420") == 0) {
        format.chroma = Chroma::k420;
        rest = value.substr(3);
        // The 4:2:0 variants differ only in chroma siting.
        if (rest == "jpeg" || rest == "paldv" || rest == "mpeg2") rest.clear();
    } else if (value.compare(0, 3, "422") == 0) {
        format.chroma = Chroma::k422;
        rest = value.substr(3);
    } else if (value.compare(0, 3, "444") == 0) {
        format.chroma = Chroma::k444;
        rest = value.substr(3);
    } else {
        return false;
    }
    if (rest.empty()) return true;
    return rest[0] == 'p' && ParseInt(rest.substr(1), format.depth) && format.depth > 8 &&
           format.depth <= 16;
}

std::string Y4mColourSpace(const PictureFormat& format) {
    std::string value = format.chroma == Chroma::k420 ? "420" : format.chroma == Chroma::k422 ? "422" : "444";
    if (format.depth > 8) {
        value += 'p';
        value += std::to_string(format.depth);
    }
    else if (format.chroma == Chroma::k420) value += "jpeg";
    return value;
}

Y4mReader::Y4mReader(ByteInput& input) : input_(input) {
    std::string line;
    const LineResult result = ReadLine(line);
    if (result == LineResult::kTooLong) {
        throw IoError(input_.name() + ": stream header longer than " + std::to_string(kMaxHeaderLine) + " bytes");
    }
    if (result != LineResult::kLine || line.compare(0, 10, std::string(kY4mMagic) + " ") != 0) {
        throw IoError(input_.name() + ": not a YUV4MPEG2 stream");
    }
    std::istringstream tokens(line.substr(10));
    std::string token;
    // What is not understood is refused rather than copied into the output,
    // where it would claim something about the frames written.
    const auto refuse = [&](const std::string& why) {
        throw IoError(input_.name() + ": header parameter " + token + ": " + why);
    };
    std::map<std::string, std::string> seen;  // each parameter's first spelling, by its name
    const auto once = [&](const std::string& name) {
        const auto [first, inserted] = seen.emplace(name, token);
        if (!inserted) refuse("repeats " + first->second);
    };
    bool haveWidth = false, haveHeight = false;
    info_.colourSpace = "420jpeg";
    while (tokens >> token) {
        const std::string value = token.substr(1);
        if (IsColourRange(token)) {
            once("XCOLORRANGE");
            const size_t equals = token.find('=');
            const std::string range = equals == std::string::npos ? std::string() : token.substr(equals + 1);
            if (EqualsIgnoringCase(range, "FULL")) info_.format.fullRange = true;
            else if (EqualsIgnoringCase(range, "LIMITED")) info_.format.fullRange = false;
            else refuse("expected XCOLORRANGE=FULL or XCOLORRANGE=LIMITED");
            info_.otherParameters.push_back(token);
            continue;
        }
        if (token[0] != 'X') once(token.substr(0, 1));
        switch (token[0]) {
        case 'W':
            if (!ParseInt(value, info_.width)) refuse("expected the width in pixels");
            haveWidth = true;
            break;
        case 'H':
            if (!ParseInt(value, info_.height)) refuse("expected the height in pixels");
            haveHeight = true;
            break;
        case 'C': info_.colourSpace = value; break;
        case 'F':
            if (!ParseRatio(value)) refuse("expected a frame rate N:D of whole numbers above 0, or F0:0 for unknown");
            info_.otherParameters.push_back(token);
            break;
        case 'A':
            if (!ParseRatio(value)) refuse("expected a pixel aspect N:D of whole numbers above 0, or A0:0 for unknown");
            info_.otherParameters.push_back(token);
            break;
        case 'I':
            if (value.size() != 1 || std::strchr("ptbm?", value[0]) == nullptr) {
                refuse("expected Ip, It, Ib, Im or I? (progressive, top or bottom field first, mixed, unknown)");
            }
            info_.otherParameters.push_back(token);
            break;
        case 'X': info_.otherParameters.push_back(token); break;
        default: refuse("not a YUV4MPEG2 parameter (W, H, C, F, I, A, or X for an extension)");
        }
    }
    const bool fullRange = info_.format.fullRange;
    if (!haveWidth || !haveHeight) throw IoError(input_.name() + ": stream header lacks a valid W or H");
    if (info_.width < 1 || info_.height < 1 || info_.width > kMaxPictureSide || info_.height > kMaxPictureSide) {
        throw IoError(input_.name() + ": picture size " + std::to_string(info_.width) + "x" +
                      std::to_string(info_.height) + " is outside 1.." + std::to_string(kMaxPictureSide));
    }
    if (!ParseY4mColourSpace(info_.colourSpace, info_.format)) {
        throw IoError(input_.name() + ": unsupported colour space C" + info_.colourSpace +
                      " (4:2:0, 4:2:2 or 4:4:4 at 8 to 16 bits are supported)");
    }
    info_.format.fullRange = fullRange;
}

Y4mReader::LineResult Y4mReader::ReadLine(std::string& line) {
    line.clear();
    char c;
    while (input_.Read(&c, 1) == 1) {
        if (c == '\n') return LineResult::kLine;
        if (line.size() == kMaxHeaderLine) return LineResult::kTooLong;
        line += c;
    }
    return line.empty() ? LineResult::kEnd : LineResult::kCutShort;
}

void Y4mReader::FailFrame(const std::string& why) const {
    throw IoError(input_.name() + ": frame " + std::to_string(framesRead_) + ": " + why);
}

bool Y4mReader::ReadFrameHeader() {
    std::string line;
    switch (ReadLine(line)) {
    case LineResult::kEnd: return false;
    case LineResult::kTooLong: FailFrame("frame header longer than " + std::to_string(kMaxHeaderLine) + " bytes");
    case LineResult::kCutShort: FailFrame("frame header cut short");
    case LineResult::kLine: break;
    }
    if (line.compare(0, 5, "FRAME") != 0 || (line.size() > 5 && line[5] != ' ')) {
        FailFrame("expected a FRAME header");
    }
    frameParameters_ = line.size() > 6 ? line.substr(6) : std::string();
    return true;
}

bool Y4mReader::SkipFrame() {
    if (!ReadFrameHeader()) return false;
    Picture shape;
    shape.width = info_.width;
    shape.height = info_.height;
    shape.format = info_.format;
    const uint64_t bytes = shape.ByteCount();
    const uint64_t got = input_.Skip(bytes);
    if (got < bytes) FailFrame("cut short (" + std::to_string(got) + " of " + std::to_string(bytes) + " bytes)");
    ++framesRead_;
    return true;
}

bool Y4mReader::ReadFrame(Picture& picture) {
    if (!ReadFrameHeader()) return false;
    picture.width = info_.width;
    picture.height = info_.height;
    picture.format = info_.format;
    const size_t samples = picture.SampleCount();
    size_t got = info_.format.depth > 8 ? input_.ReadGrowing(picture.samples16, samples)
                                        : input_.ReadGrowing(picture.samples8, samples);
    if (got < samples) {
        FailFrame("cut short (" + std::to_string(got) + " of " + std::to_string(samples) + " samples)");
    }
    ++framesRead_;
    return true;
}

Y4mWriter::Y4mWriter(ByteOutput& output, const Y4mStreamInfo& info) : output_(output) {
    std::string header = std::string(kY4mMagic) + " W" + std::to_string(info.width) + " H" +
                         std::to_string(info.height) + " C" +
                         (info.colourSpace.empty() ? Y4mColourSpace(info.format) : info.colourSpace);
    for (const std::string& parameter : info.otherParameters) header += " " + parameter;
    header += "\n";
    output_.Write(header.data(), header.size());
}

void Y4mWriter::WriteFrame(const Picture& picture, const std::string& parameters) {
    const std::string header = parameters.empty() ? "FRAME\n" : "FRAME " + parameters + "\n";
    output_.Write(header.data(), header.size());
    if (picture.format.depth > 8) output_.Write(picture.samples16.data(), picture.samples16.size() * 2);
    else output_.Write(picture.samples8.data(), picture.samples8.size());
}
