#include "SceneBuilder.h"
#include "TestSupport.h"
#include "ViewerTest.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

namespace {

using BadInputTest = ViewerTest;

const char* kOneTriangle = "LEAF t|(0 0 0)(0 0 0)|0 |(90 0 0) 0 0 0 0 |(90 1 0) 0 0 0 0 |(90 0 1) 0 0 0 0\n";

bool Contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// True when every pixel away from the statistics line shows the clear colour (0.25 grey).
bool OnlyClearColour(const Image& image)
{
    for (int y = 30; y < image.height; y += 7)
        for (int x = 0; x < image.width; x += 7)
            for (int c = 0; c < 3; ++c)
                if (std::abs(image.At(x, y)[c] - 64) > 6)
                    return false;
    return true;
}

}  // namespace

TEST_F(BadInputTest, ALevelThatStopsMatchingHasNoTreeAndDrawsEmpty)
{
    // The second box record breaks off: no light is read and nothing is drawn, but every frame completes.
    Start("BSP\nBBOXES\n(0 0 0) (1 1 1)\n(0 0 0) (1 1\nENTITIES\nlight 0 0 0 100 1 1 1\n");
    const std::vector<std::string> expected = {"File opened", "Level file does not match at line 5, column 1",
                                               "0 lights.", "Done loading BSP file.", "0 triangles."};
    EXPECT_EQ(viewer->Lines(), expected);
    EXPECT_TRUE(OnlyClearColour(Shot()));
    EXPECT_TRUE(viewer->Running());
}

TEST_F(BadInputTest, NodeRecordsThatFormACycleAreRejected)
{
    Start(std::string("BSP BBOXES (0 0 0)(1 1 1) ENTITIES light 0 0 0 100 1 1 1\n") + kOneTriangle +
          "NODE (1 0 0) 0 L0 N1\nNODE (1 0 0) 0 N2 L0\nNODE (1 0 0) 0 N1 L0\n");
    const std::vector<std::string> lines = viewer->Lines();
    EXPECT_TRUE(Contains(lines, "Node 2 refers to node 1 a second time; the level has no tree.")) << lines.size();
    EXPECT_FALSE(Contains(lines, "3 nodes."));
    EXPECT_TRUE(Contains(lines, "0 triangles."));
    EXPECT_TRUE(OnlyClearColour(Shot()));
}

TEST_F(BadInputTest, ARecordOutsideTheTreeThatRefersToTheRootIsIgnored)
{
    // Node record 1 is reached from nowhere; its reference to the root does not cost the level its tree.
    SceneBuilder scene;
    scene.AddQuad("white", {300, -400, -300}, {300, -400, 300}, {300, 400, 300}, {300, 400, -300});
    scene.AddLight({150, 0, 0}, 600, {1, 1, 1});
    Start(scene.Text() + "NODE (1 0 0) 0 N0 L0\n");
    const std::vector<std::string> lines = viewer->Lines();
    EXPECT_TRUE(Contains(lines, "2 triangles.")) << lines.size();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.find("no tree") != std::string::npos; }),
              0);
    EXPECT_GT(Brightness(Shot(), 400, 300), 100);
}

TEST_F(BadInputTest, MissingTexturesAreReportedOnceAndDrawnWithTheChecker)
{
    SceneBuilder scene;
    scene.AddQuad("granite", {300, -400, -300}, {300, -400, 300}, {300, 400, 300}, {300, 400, -300});
    scene.AddQuad("granite", {300, -400, -300}, {300, -400, 300}, {300, 400, 300}, {300, 400, -300});
    scene.AddLight({150, 0, 0}, 600, {1, 1, 1});
    Start(scene.Text());
    const std::vector<std::string> lines = viewer->Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Couldn't load texture \"granite\" (load image failed)"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Couldn't load texture \"granite_normal\" (load image failed)"),
              1);
    // The checker's black and white quadrants show on the lit wall.
    const Image image = Shot();
    double darkest = 255, brightest = 0;
    for (int x = 300; x < 500; x += 3) {
        const double b = Brightness(image, x, 300);
        darkest = std::min(darkest, b);
        brightest = std::max(brightest, b);
    }
    EXPECT_GT(brightest - darkest, 80);
}

TEST_F(BadInputTest, StallingAndPipedTexturesFailWithoutHoldingUpStartUpAndNoDecoderRemains)
{
    // A hundred images that make the decoder loop for ever, and one texture name that is a FIFO.
    SceneBuilder scene;
    for (int k = 0; k < 100; ++k) {
        const std::string name = "stall" + std::to_string(k);
        std::filesystem::copy_file(std::string(VELMORA_SOURCE_DIR) + "/tests/render/damaged-images/endless-scan.jpg",
                                   dir.File(name + ".jpg"));
        scene.AddQuad(name, {300, -400, -300}, {300, -400, 300}, {300, 400, 300}, {300, 400, -300});
    }
    ASSERT_EQ(mkfifo(dir.File("piped.dds").c_str(), 0600), 0);
    scene.AddQuad("piped", {300, -400, -300}, {300, -400, 300}, {300, 400, 300}, {300, 400, -300});
    scene.AddLight({150, 0, 0}, 600, {1, 1, 1});
    Start(scene.Text());  // waits at most 30 s for the end of the level's loading
    Shot();               // a frame drawn: start-up is over
    const std::vector<std::string> lines = viewer->Lines();
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(),
                      [](const std::string& line) { return line.rfind("Couldn't load texture \"stall", 0) == 0; }),
        200);  // each name and its normal map
    EXPECT_TRUE(Contains(lines, "Couldn't load texture \"piped\" (load image failed)"));
    const std::vector<std::string> children = ChildProcessNames(viewer->Pid());
    EXPECT_EQ(std::count(children.begin(), children.end(), "velmora-decode"), 0) << "a decoder remains";
}

TEST_F(BadInputTest, MissingShaderFilesAreReportedAndFramesGoOnWithoutShaders)
{
    WriteSceneAssets(dir);
    for (const char* shader : {"shader.cg", "ambient.cg", "shadow.cg", "post.cg"})
        std::remove(dir.File(shader).c_str());
    dir.Write("out.txt", std::string("BSP BBOXES (0 0 0)(1 1 1) ENTITIES light 0 0 0 100 1 1 1\n") + kOneTriangle +
                             "NODE (1 0 0) 0 L0 L0\n");
    viewer = std::make_unique<ViewerProcess>(dir);
    ASSERT_FALSE(viewer->WindowId().empty());
    ASSERT_TRUE(viewer->WaitForLine("Could not load parameter warpTexCoords for the fragment shader of post.cg"));
    const std::vector<std::string> lines = viewer->Lines();
    for (const char* file : {"shader.cg", "ambient.cg", "shadow.cg"})
        EXPECT_TRUE(Contains(lines, std::string("CGShader::LoadShader: vertex program with entry point vertexmain from "
                                                "shader ") +
                                        file + " failed to compile:"))
            << file;
    EXPECT_TRUE(Contains(lines,
                         "CGShader::LoadShader: fragment program with entry point fragmain from shader post.cg "
                         "failed to compile:"));
    EXPECT_TRUE(Contains(lines, "Could not load parameter ModelViewProj for the vertex shader of shader.cg"));
    EXPECT_FALSE(dir.Exists("shaderVP.txt"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_FALSE(Shot().rgb.empty());
    EXPECT_TRUE(viewer->Running());
}
