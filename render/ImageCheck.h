// Checks of image files before the image library decodes them in the viewer's own process. Its decoders trust what
// a file declares: a DDS whose data is shorter than its header says is read past its end, a JPEG with a segment
// longer than the file makes it loop for ever, and a header claiming a huge size makes it allocate gigabytes. A
// file that fails a check is treated like one that does not load.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class ImageFormat { Dds, Tga, Jpeg };

// Largest width or height accepted, in pixels.
constexpr uint32_t kMaxImageDimension = 16384;

// True when the bytes hold a complete, well-formed image of the format, of a kind the viewer loads.
bool ImageIsSound(ImageFormat format, const uint8_t* bytes, size_t size);

// ImageIsSound on a file's contents; false when the file cannot be read.
bool ImageFileIsSound(ImageFormat format, const std::string& path);

// Decodes the file once in a child process: true when the child loaded it and ended within timeoutMs. Catches the
// decoder faults that no header check foresees (crashes and endless loops on damaged data) at the price of one
// extra decode; a child that runs too long is killed. If no child can be started the file is trusted.
bool ImageDecodesInChild(const std::string& path, int timeoutMs);
