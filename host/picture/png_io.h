// PNG pictures through libpng: 8- and 16-bit grey, grey+alpha, RGB, RGBA and
// palette images in, 8- or 16-bit RGB out.
#pragma once

#include <cstddef>
#include <string>

#include "host/files/byte_stream.h"
#include "host/picture/picture.h"

constexpr size_t kPngSignatureSize = 8;
bool IsPngSignature(const unsigned char* bytes, size_t size);

// Reads one picture as interleaved R'G'B' (grey expanded, alpha dropped).
// Throws IoError naming the file when it is malformed or cut short.
Picture ReadPng(ByteInput& input);
// How much a PNG is compressed: kSmall for files, kQuick trades size for
// speed, for a picture sent over loopback and shown at once; kStored does
// not compress at all, for a small drawing made again for every picture.
enum class PngPacking { kSmall, kQuick, kStored };
// Writes an Rgb picture of depth 8 or 16.
void WritePng(ByteOutput& output, const Picture& picture, PngPacking packing = PngPacking::kSmall);
// The same PNG as bytes in memory, for pictures sent over HTTP.
std::string EncodePng(const Picture& picture, PngPacking packing = PngPacking::kQuick);
