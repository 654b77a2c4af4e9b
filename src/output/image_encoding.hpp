#pragma once
// Encoders for the converting export beyond the decoding family's JPEG: PNG, TIFF and HEIC through
// libvips. No metadata of the source is carried over (the pixels are upright already).
// Any thread; the encoders keep no state.
#include "library/imaging/decoded_image.hpp"

#include <optional>
#include <string>

namespace tw::output {

enum class ImageEncoding { JPEG, PNG, TIFF, HEIC };

// libvips' own JPEG quality, on the 0…1 scale, for a JPEG written without a quality setting.
inline constexpr double kEncoderDefaultJPEGQuality = 0.75;
// libvips' own PNG compression.
inline constexpr int kEncoderDefaultPNGCompression = 6;

// The encoded file's bytes, or nullopt when the encoder fails. jpegQuality (0…1) applies to JPEG only.
std::optional<std::string> EncodeImage(const imaging::DecodedImage& image, ImageEncoding encoding,
                                       double jpegQuality = kEncoderDefaultJPEGQuality);

}  // namespace tw::output
