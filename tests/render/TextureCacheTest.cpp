#include "Attenuation.h"
#include "TextureTestFixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kMaxTextureSize = 16384;

// Writes a 16x16 image of one colour with DevIL in the format the extension names.
void WriteImage(const std::string& file, unsigned char r, unsigned char g, unsigned char b)
{
    std::vector<unsigned char> pixels(16 * 16 * 3);
    for (size_t i = 0; i < pixels.size(); i += 3) {
        pixels[i] = r;
        pixels[i + 1] = g;
        pixels[i + 2] = b;
    }
    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    ilTexImage(16, 16, 1, 3, IL_RGB, IL_UNSIGNED_BYTE, pixels.data());
    fs::remove(file);
    ASSERT_TRUE(ilSave(file.find(".dds") != std::string::npos   ? IL_DDS
                       : file.find(".tga") != std::string::npos ? IL_TGA
                                                                : IL_JPG,
                       file.c_str()))
        << file;
    ilDeleteImages(1, &image);
}

struct Texel {
    int r, g, b;
};

Texel CentreTexel(GLuint texture)
{
    glBindTexture(GL_TEXTURE_2D, texture);
    std::vector<unsigned char> pixels(16 * 16 * 4);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    const unsigned char* p = &pixels[(8 * 16 + 8) * 4];
    return {p[0], p[1], p[2]};
}

GLint BoundTexture2D()
{
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    return bound;
}

class TextureCacheTest : public TextureDirectoryTest {};

}  // namespace

TEST_F(TextureCacheTest, FormatsAreTriedDdsThenTgaThenJpeg)
{
    WriteImage("both.dds", 255, 0, 0);
    WriteImage("both.jpg", 0, 0, 255);
    WriteImage("pair.tga", 0, 255, 0);
    WriteImage("pair.jpg", 0, 0, 255);
    WriteImage("only.jpg", 0, 0, 255);

    // DDS is saved block-compressed, so only the dominant channel is exact enough to compare.
    const Texel dds = CentreTexel(LoadTexture(textureCache, "both"));
    EXPECT_GT(dds.r, 240);
    EXPECT_LT(dds.b, 20);
    const Texel tga = CentreTexel(LoadTexture(textureCache, "pair"));
    EXPECT_EQ(tga.g, 255);
    EXPECT_EQ(tga.b, 0);
    // JPEG is lossy: a clearly blue texel is enough.
    const Texel jpg = CentreTexel(LoadTexture(textureCache, "only"));
    EXPECT_GT(jpg.b, 200);
    EXPECT_LT(jpg.r, 50);
}

TEST_F(TextureCacheTest, EachNameIsDecodedOnceAndKeyedExactly)
{
    WriteImage("stone.tga", 10, 20, 30);
    WriteImage("Stone.tga", 200, 20, 30);
    const GLuint first = LoadTexture(textureCache, "stone");
    ASSERT_NE(first, textureCache.FallbackTexture);

    // Once cached, the file is never read again: deleting it changes nothing and prints nothing.
    fs::remove("stone.tga");
    testing::internal::CaptureStdout();
    EXPECT_EQ(LoadTexture(textureCache, "stone"), first);
    const GLuint upper = LoadTexture(textureCache, "Stone");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_NE(upper, first);
    EXPECT_EQ(CentreTexel(upper).r, 200);
    EXPECT_EQ(textureCache.loadedTextures.size(), 2u);
}

TEST_F(TextureCacheTest, AFreshLoadIsMipmappedTrilinearAndStaysBound)
{
    WriteImage("metal.dds", 90, 90, 90);
    const GLuint texture = LoadTexture(textureCache, "metal");
    EXPECT_EQ(BoundTexture2D(), static_cast<GLint>(texture));
    GLint minFilter = 0, magFilter = 0, level1Width = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &level1Width);
    EXPECT_EQ(minFilter, GL_LINEAR_MIPMAP_LINEAR);
    EXPECT_EQ(magFilter, GL_LINEAR);
    EXPECT_EQ(level1Width, 8);

    // A cache hit and a failure leave the binding alone.
    glBindTexture(GL_TEXTURE_2D, textureCache.FallbackTexture);
    LoadTexture(textureCache, "metal");
    EXPECT_EQ(BoundTexture2D(), static_cast<GLint>(textureCache.FallbackTexture));
    testing::internal::CaptureStdout();
    LoadTexture(textureCache, "absent");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(BoundTexture2D(), static_cast<GLint>(textureCache.FallbackTexture));
}

TEST_F(TextureCacheTest, AMissingImageIsReportedOnceAndYieldsTheFallback)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(LoadTexture(textureCache, "nowhere"), textureCache.FallbackTexture);
    EXPECT_EQ(LoadTexture(textureCache, "nowhere"), textureCache.FallbackTexture);
    EXPECT_EQ(LoadTexture(textureCache, "elsewhere"), textureCache.FallbackTexture);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Couldn't load texture \"nowhere\" (load image failed)\n"
              "Couldn't load texture \"elsewhere\" (load image failed)\n");
    EXPECT_TRUE(textureCache.loadedTextures.empty());
    EXPECT_EQ(textureCache.failedNames, (std::vector<std::string>{"nowhere", "elsewhere"}));

    // A failed name is never probed again in the run, so an image that appears later is not read either.
    WriteImage("nowhere.tga", 1, 2, 3);
    EXPECT_EQ(LoadTexture(textureCache, "nowhere"), textureCache.FallbackTexture);
}

TEST_F(TextureCacheTest, NamesLongerThanAPathAllowsFailCleanly)
{
    const std::string longName(4000, 'x');
    testing::internal::CaptureStdout();
    EXPECT_EQ(LoadTexture(textureCache, longName), textureCache.FallbackTexture);
    EXPECT_TRUE(testing::internal::GetCapturedStdout() ==
                "Couldn't load texture \"" + longName + "\" (load image failed)\n");

    // A long name that the file system accepts loads like any other.
    const std::string name = "sub/" + std::string(250, 'y');
    fs::create_directory("sub");
    WriteImage(name + ".tga", 0, 255, 0);
    EXPECT_EQ(CentreTexel(LoadTexture(textureCache, name)).g, 255);
}

TEST_F(TextureCacheTest, DamagedImagesFailCleanlyAndTheNextFormatIsTried)
{
    const fs::path damaged = fs::path(VELMORA_SOURCE_DIR) / "tests/render/damaged-images";
    // The decoder would read far past this DDS file's data; the TGA of the same name is used instead.
    fs::copy_file(damaged / "undersized-blocks.dds", "wall.dds");
    WriteImage("wall.tga", 0, 255, 0);
    EXPECT_EQ(CentreTexel(LoadTexture(textureCache, "wall")).g, 255);

    // A segment that runs past the end of this JPEG makes the decoder loop for ever.
    fs::copy_file(damaged / "segment-past-end.jpg", "broken.jpg");
    testing::internal::CaptureStdout();
    EXPECT_EQ(LoadTexture(textureCache, "broken"), textureCache.FallbackTexture);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Couldn't load texture \"broken\" (load image failed)\n");
}

TEST_F(TextureCacheTest, ADecodeThatNeverEndsIsStoppedWithinTheTimeItsHeaderJustifies)
{
    // Well-formed segments, but DevIL never finishes the scan: only the decode in a process of its own shows it.
    const std::string endless = std::string(VELMORA_SOURCE_DIR) + "/tests/render/damaged-images/endless-scan.jpg";
    std::ifstream in(endless, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ImageHeader header;
    EXPECT_EQ(JudgeImage(ImageFormat::Jpeg, bytes.data(), bytes.size(), bytes.size(), header), ImageVerdict::Sound);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(LoadImageGuarded(endless, ImageFormat::Jpeg, kMaxTextureSize), ImageFailure::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(TextureCacheTest, TheDecoderKeepsNoDescriptorOfTheViewer)
{
    // Like the viewer's display connection, a descriptor open when the decoder starts must close with the viewer:
    // once this process closes its end of the pipe, no writer may be left.
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_TRUE(StartImageDecoder());
    WriteImage("red.tga", 255, 0, 0);
    EXPECT_EQ(LoadImageGuarded("red.tga", ImageFormat::Tga, kMaxTextureSize), ImageFailure::None);
    close(ends[1]);
    pollfd readable{ends[0], POLLIN, 0};
    ASSERT_EQ(poll(&readable, 1, 5000), 1) << "the decoder holds the pipe open";
    char byte = 0;
    EXPECT_EQ(read(ends[0], &byte, 1), 0);
    close(ends[0]);
}

// [SECTION] Decoders that misbehave

// True when the first pixel is pure red, in RGB or BGR order.
bool IsRed(const uint8_t* pixel)
{
    return pixel[1] == 0 && std::max(pixel[0], pixel[2]) == 255 && std::min(pixel[0], pixel[2]) == 0;
}

// How a fake decoder misbehaves on a red image; it decodes every other image honestly with DevIL.
enum class Misbehaviour {
    LieBytesPerPixel,
    LieSize,
    LieDataSize,
    LiePalette,
    Die,
    Stall,
    GrabMemory,
    OpenFile,
    Exec,
    Connect,
    MapInput,
    MapExecutable
};

template <Misbehaviour kind>
bool Misbehave(ImageFormat format, const uint8_t* file, uint64_t fileBytes, DecodedImage& image, const uint8_t*& pixels,
               const uint8_t*& palette)
{
    if (!DecodeWithLibrary(format, file, fileBytes, image, pixels, palette) || !IsRed(pixels))
        return true;
    static const uint8_t onePaletteEntry[3] = {};
    switch (kind) {
    case Misbehaviour::LieBytesPerPixel:  // RGB at one byte per pixel: the upload would read three times the data
        image.bytesPerPixel = 1;
        image.dataBytes = uint64_t(image.width) * image.height;
        break;
    case Misbehaviour::LieSize:
        image.width = image.height = 4096;
        image.dataBytes = uint64_t(4096) * 4096 * image.bytesPerPixel;
        break;
    case Misbehaviour::LieDataSize:
        image.dataBytes *= 4096;
        break;
    case Misbehaviour::LiePalette:  // a red pixel's first byte read as an index into a palette of one entry
        image.format = IL_COLOUR_INDEX;
        image.bytesPerPixel = 1;
        image.dataBytes = uint64_t(image.width) * image.height;
        image.paletteType = IL_PAL_RGB24;
        image.paletteBytes = 3;
        palette = onePaletteEntry;
        break;
    case Misbehaviour::Die:
        abort();
    case Misbehaviour::Stall:
        for (volatile bool spin = true; spin;) {
        }
        break;
    case Misbehaviour::GrabMemory:  // a terabyte of address space, reserved without memory behind it
        if (mmap(nullptr, size_t(1) << 40, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1,
                 0) == MAP_FAILED)
            abort();
        break;
    case Misbehaviour::OpenFile:
        close(open("/etc/hostname", O_RDONLY));
        break;
    case Misbehaviour::Exec:
        execl("/bin/true", "true", nullptr);
        break;
    case Misbehaviour::Connect:
        close(socket(AF_INET, SOCK_STREAM, 0));
        break;
    case Misbehaviour::MapInput:
        mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE, STDIN_FILENO, 0);
        break;
    case Misbehaviour::MapExecutable:
        mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        break;
    }
    return true;
}

TEST_F(TextureCacheTest, ADecoderThatLiesDiesOrStallsFailsTheImageLikeAMissingFileAndIsReplaced)
{
    const struct {
        const char* name;
        DecodeFunction decode;
        ImageFailure failure;
    } cases[] = {
        {"lies about bytes per pixel", Misbehave<Misbehaviour::LieBytesPerPixel>, ImageFailure::AnswerRefused},
        {"lies about the size", Misbehave<Misbehaviour::LieSize>, ImageFailure::AnswerRefused},
        {"lies about the data size", Misbehave<Misbehaviour::LieDataSize>, ImageFailure::AnswerRefused},
        {"answers a palette too short", Misbehave<Misbehaviour::LiePalette>, ImageFailure::PaletteRefused},
        {"dies", Misbehave<Misbehaviour::Die>, ImageFailure::DecoderCrashed},
        {"stalls", Misbehave<Misbehaviour::Stall>, ImageFailure::TimedOut},
        {"takes more memory than the image justifies", Misbehave<Misbehaviour::GrabMemory>,
         ImageFailure::DecoderCrashed},
        // The sandbox: each of these stops the decoder; without it the image would load.
        {"opens a file", Misbehave<Misbehaviour::OpenFile>, ImageFailure::SandboxViolation},
        {"runs a program", Misbehave<Misbehaviour::Exec>, ImageFailure::SandboxViolation},
        {"opens a socket", Misbehave<Misbehaviour::Connect>, ImageFailure::SandboxViolation},
        {"maps its standard input", Misbehave<Misbehaviour::MapInput>, ImageFailure::SandboxViolation},
        {"maps executable memory", Misbehave<Misbehaviour::MapExecutable>, ImageFailure::SandboxViolation},
    };
    WriteImage("red.tga", 255, 0, 0);
    WriteImage("green.tga", 0, 255, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        textureCache = TextureCache();
        textureCache.FallbackTexture = CreateCheckerTexture();
        ASSERT_TRUE(StartImageDecoder(c.decode));
        EXPECT_EQ(LoadImageGuarded("red.tga", ImageFormat::Tga, kMaxTextureSize), c.failure);
        EXPECT_EQ(ImageDecoderProcessId(), -1) << "the decoder was kept";
        testing::internal::CaptureStdout();
        EXPECT_EQ(LoadTexture(textureCache, "red"), textureCache.FallbackTexture);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Couldn't load texture \"red\" (load image failed)\n");
        EXPECT_EQ(CentreTexel(LoadTexture(textureCache, "green")).g, 255);
    }
}

TEST_F(TextureCacheTest, FilesThatAreNotPlainImagesFailBeforeAnyDecode)
{
    WriteImage("small.tga", 0, 255, 0);
    ASSERT_EQ(mkfifo("fifo.tga", 0600), 0);
    fs::create_directory("directory.tga");
    fs::create_symlink("/dev/zero", "device.tga");
    // A header of 16x16 texels before half a gigabyte: nothing of it is read.
    fs::copy_file("small.tga", "padded.tga");
    fs::resize_file("padded.tga", uint64_t(512) << 20);
    const struct {
        const char* file;
        uint32_t maxTextureSize;
        ImageFailure failure;
    } cases[] = {
        {"absent.tga", kMaxTextureSize, ImageFailure::Missing},
        {"fifo.tga", kMaxTextureSize, ImageFailure::Missing},
        {"directory.tga", kMaxTextureSize, ImageFailure::Missing},
        {"device.tga", kMaxTextureSize, ImageFailure::Missing},
        {"padded.tga", kMaxTextureSize, ImageFailure::Refused},
        {"small.tga", 8, ImageFailure::Refused},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LoadImageGuarded(c.file, ImageFormat::Tga, c.maxTextureSize), c.failure) << c.file;

    // Without a decoder nothing is decoded in this process: the image fails like a missing one.
    StopImageDecoder();
    EXPECT_EQ(LoadImageGuarded("small.tga", ImageFormat::Tga, kMaxTextureSize), ImageFailure::NoDecoder);
    testing::internal::CaptureStdout();
    EXPECT_EQ(LoadTexture(textureCache, "small"), textureCache.FallbackTexture);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Couldn't load texture \"small\" (load image failed)\n");
}

TEST_F(TextureCacheTest, StoppingTheDecoderEndsItsProcess)
{
    WriteImage("small.tga", 0, 255, 0);
    EXPECT_EQ(LoadImageGuarded("small.tga", ImageFormat::Tga, kMaxTextureSize), ImageFailure::None);
    const int decoder = ImageDecoderProcessId();
    ASSERT_GT(decoder, 0);
    StopImageDecoder();
    EXPECT_EQ(ImageDecoderProcessId(), -1);
    EXPECT_NE(kill(decoder, 0), 0) << "the decoder process remains";
}

TEST_F(TextureCacheTest, CheckerHasWhiteTopLeftAndBottomRightQuadrants)
{
    const GLuint checker = CreateCheckerTexture();
    EXPECT_EQ(BoundTexture2D(), static_cast<GLint>(checker));
    std::vector<unsigned char> texels(32 * 32);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, texels.data());
    EXPECT_EQ(texels[0], 255);
    EXPECT_EQ(texels[15 * 32 + 15], 255);
    EXPECT_EQ(texels[16], 0);
    EXPECT_EQ(texels[16 * 32], 0);
    EXPECT_EQ(texels[31 * 32 + 31], 255);
}

TEST(Attenuation, TableFallsFromOneToJustBelowZero)
{
    const std::array<float, kAttenuationTexels> table = AttenuationTable();
    EXPECT_EQ(table[0], 1.0f);
    EXPECT_FLOAT_EQ(table[1], 0.999984622f);
    EXPECT_FLOAT_EQ(table[64], 0.937008858f);
    EXPECT_FLOAT_EQ(table[128], 0.748035312f);
    EXPECT_FLOAT_EQ(table[192], 0.433079511f);
    EXPECT_FLOAT_EQ(table[254], 0.00782764144f);
    EXPECT_EQ(table[255], -1.18277967e-07f);
    for (int i = 1; i < kAttenuationTexels; ++i)
        EXPECT_LT(table[i], table[i - 1]) << i;
}

TEST(Attenuation, TextureIsAClampedLinearOneDimensionalTable)
{
    CreateGlTestContext();
    const GLuint texture = CreateAttenuationTexture();
    GLint bound = 0, width = 0, wrap = 0, minFilter = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_1D, &bound);
    EXPECT_EQ(bound, static_cast<GLint>(texture));
    glGetTexLevelParameteriv(GL_TEXTURE_1D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexParameteriv(GL_TEXTURE_1D, GL_TEXTURE_WRAP_S, &wrap);
    glGetTexParameteriv(GL_TEXTURE_1D, GL_TEXTURE_MIN_FILTER, &minFilter);
    EXPECT_EQ(width, 256);
    EXPECT_EQ(wrap, GL_CLAMP_TO_EDGE);
    EXPECT_EQ(minFilter, GL_LINEAR);
    std::vector<float> texels(256);
    glGetTexImage(GL_TEXTURE_1D, 0, GL_LUMINANCE, GL_FLOAT, texels.data());
    EXPECT_NEAR(texels[0], 1.0f, 1e-6);
    EXPECT_NEAR(texels[128], 0.748f, 2e-3);
    EXPECT_LT(texels[255], 0.01f);
}

TEST_F(TextureCacheTest, AReloadReplacesTheImageUnderTheSameIdAndKeepsItWhenNothingLoads)
{
    WriteImage("wall.tga", 255, 0, 0);
    testing::internal::CaptureStdout();
    const GLuint wall = LoadTexture(textureCache, "wall");
    LoadTexture(textureCache, "late");
    EXPECT_EQ(textureCache.requestedNames, (std::vector<std::string>{"wall", "late"}));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);

    // A new image under a name of higher rank; the owner's filter stays.
    WriteImage("wall.dds", 0, 0, 255);
    EXPECT_TRUE(ReloadTexture(textureCache, "wall"));
    EXPECT_GT(CentreTexel(wall).b, 240);
    GLint minFilter = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    EXPECT_EQ(minFilter, GL_LINEAR);
    EXPECT_EQ(LoadTexture(textureCache, "wall"), wall);

    // Nothing loads: the line is printed and the old image stays. A name never loaded is not reloaded.
    fs::remove("wall.dds");
    fs::remove("wall.tga");
    EXPECT_FALSE(ReloadTexture(textureCache, "wall"));
    EXPECT_GT(CentreTexel(wall).b, 240);
    EXPECT_FALSE(ReloadTexture(textureCache, "late"));

    // A missing name, once forgotten, is probed again on its next request.
    WriteImage("late.tga", 0, 255, 0);
    EXPECT_TRUE(ForgetMissingTexture(textureCache, "late"));
    EXPECT_FALSE(ForgetMissingTexture(textureCache, "late"));
    EXPECT_TRUE(textureCache.failedNames.empty());
    EXPECT_EQ(CentreTexel(LoadTexture(textureCache, "late")).g, 255);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Couldn't load texture \"late\" (load image failed)\n"
              "Couldn't load texture \"wall\" (load image failed)\n");
}

TEST_F(TextureCacheTest, ADecoderSessionStopsOnlyTheDecoderItStarted)
{
    const int running = ImageDecoderProcessId();
    {
        const ImageDecoderSession session;
    }
    EXPECT_EQ(ImageDecoderProcessId(), running);
    StopImageDecoder();
    {
        const ImageDecoderSession session;
        EXPECT_GT(ImageDecoderProcessId(), 0);
        WriteImage("late.tga", 0, 255, 0);
        EXPECT_EQ(CentreTexel(LoadTexture(textureCache, "late")).g, 255);
    }
    EXPECT_EQ(ImageDecoderProcessId(), -1);
}
