// Decoding of image files that anyone may have written. A file is judged by its format's rules (ImageCheck.h) from
// its header before the rest is read, then decoded in a process of its own: it runs under a seccomp filter that
// allows its channel, its memory file and memory management only, with limits on its address space and CPU time,
// and it may crash or be killed without harm. Its answer is checked against the header before a byte of it is used.
// The decoder runs from StartImageDecoder to StopImageDecoder; its handle is this module's only state.
#pragma once

#include "ImageCheck.h"

#include <cstdint>
#include <string>

// Why a load failed. Callers report every reason alike; tests tell them apart.
enum class ImageFailure {
    None,
    Missing,           // no regular file could be opened and read under the name (absent, FIFO, device, directory)
    Refused,           // the file breaks its format's rules, or its sizes are beyond what its header justifies
    NoDecoder,         // no decoder runs: not started, stopped, or it could not be started
    DecodeFailed,      // the decoder could not decode the file
    DecoderCrashed,    // the decoder ended during the decode
    SandboxViolation,  // the decoder made a call that its sandbox forbids and was stopped
    TimedOut,          // no answer within the time the header justifies
    AnswerRefused,     // the answer does not describe the image that the header declares
    PaletteRefused,    // colour indices beyond the palette
};

// A decoded image as the decoder describes it, in DevIL's terms.
struct DecodedImage {
    uint32_t width, height, depth, bytesPerPixel, format, type, origin, paletteType;
    uint64_t dataBytes, paletteBytes;
};

// Runs in the decoder process for each file: decodes the file's bytes, describes the image and points at its pixels
// and palette, which stay valid until the bound DevIL image is deleted. False when the file cannot be decoded.
using DecodeFunction = bool (*)(ImageFormat format, const uint8_t* file, uint64_t fileBytes, DecodedImage& image,
                                const uint8_t*& pixels, const uint8_t*& palette);

// DevIL's decode into the bound DevIL image: what the viewer's decoder runs.
bool DecodeWithLibrary(ImageFormat format, const uint8_t* file, uint64_t fileBytes, DecodedImage& image,
                       const uint8_t*& pixels, const uint8_t*& palette);

// Starts a decoder process that runs decode for every load until StopImageDecoder; a decoder that fails an image
// is replaced for the next. False when no process could be started. DevIL must have been initialised.
bool StartImageDecoder(DecodeFunction decode = DecodeWithLibrary);
// Ends the decoder process; its memory goes with it. Loads fail with NoDecoder until the next start.
void StopImageDecoder();
// The running decoder's process id, or -1.
int ImageDecoderProcessId();

// Loads the file into the bound DevIL image as ilLoadImage would (same size, format, type, origin, pixels and
// palette), through the running decoder. Images wider or higher than maxTextureSize are refused.
ImageFailure LoadImageGuarded(const std::string& path, ImageFormat format, uint32_t maxTextureSize);

// The steps after a decode, in this process: checks the answer against the header (sizes, bytes per pixel for the
// format and type, data size, palette), rebuilds the image in the bound DevIL image and checks its colour indices.
// Grey that DevIL describes as luminance at two bytes per pixel (a 16-bit grey TGA) is rebuilt as grey with alpha.
// The image fuzzer's in-process mode runs them on DevIL's own decode.
ImageFailure AcceptDecodedImage(const ImageHeader& header, const DecodedImage& image, const uint8_t* pixels,
                                const uint8_t* palette, uint32_t maxTextureSize);
