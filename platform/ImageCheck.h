// Checks of image files by each format's own rules, before any decoder sees them. The image library's decoders
// trust what a file declares: a DDS whose declared data size is smaller than its blocks is read past its buffer, a
// JPEG with a segment longer than the file makes the decoder loop for ever, and a header claiming a huge size makes
// it allocate gigabytes. A file is judged from its header and its size before the rest of it is read.
#pragma once

#include <cstddef>
#include <cstdint>

enum class ImageFormat { Dds, Tga, Jpeg };

// The decoder computes sizes in 32 bits; a file or image whose sizes do not fit them cannot be read as declared.
constexpr uint64_t kImageSizeLimit = uint64_t(1) << 32;

// What a sound file's header declares and justifies.
struct ImageHeader {
    uint64_t width = 0, height = 0, depth = 0;  // of the image a decode returns (the first level of the first face)
    uint64_t texels = 0;                        // that a decode produces, over every level and face
    uint64_t decodedBytes = 0;                  // most that the returned pixels and palette may take
};

enum class ImageVerdict { Sound, Refused, NeedMore };

// Judges a file of fileSize bytes from its first `available` bytes. Sound when the decoder can read the declared
// layout without running past its buffers, the file's size justifies the decoded size, and the header justifies
// the file's size (a short header does not carry a file of any size into memory); NeedMore when the verdict needs
// bytes beyond the first `available`. Images that the decoder itself refuses may pass; the decode decides.
ImageVerdict JudgeImage(ImageFormat format, const uint8_t* bytes, size_t available, uint64_t fileSize,
                        ImageHeader& header);
