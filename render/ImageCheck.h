// Guarded image loading. The image library's decoders trust what a file declares: a DDS whose declared data size
// is smaller than its blocks is read past its buffer, a JPEG with a segment longer than the file makes the decoder
// loop for ever, some damaged files crash it, and a header claiming a huge size makes it allocate gigabytes. So a
// file is judged by its format's own rules first, then decoded once in a separate decoder process that may crash
// or be killed without harm, and the decoded pixels come back into the caller's bound image. A file that fails
// any step is treated like one that does not exist.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class ImageFormat { Dds, Tga, Jpeg };

// The decoder computes sizes in 32 bits; a file or image whose sizes do not fit them cannot be read as declared.
constexpr uint64_t kImageSizeLimit = uint64_t(1) << 32;

// True when the bytes hold an image of the format whose declared layout the decoder can read without running past
// its buffers, and whose decoded size is justified by the size of the file. Images that the decoder itself
// refuses may pass; the decode decides about those.
bool ImageIsSound(ImageFormat format, const uint8_t* bytes, size_t size);

// Loads the file into the bound DevIL image as ilLoadImage would (same size, format, type, origin, pixels and
// palette): reads it once, checks it with ImageIsSound, has the decoder process decode it, which must answer
// within timeoutMs, and rebuilds the decoded image here. False when any step fails.
bool LoadImageGuarded(const std::string& path, ImageFormat format, int timeoutMs);
