#include "Frame.h"

#include "Culling.h"
#include "RenderGeometry.h"
#include "Shaders.h"
#include "Shadows.h"
#include "PostProcess.h"
#include "ViewerState.h"

#include <GL/glu.h>

#include <cmath>

float shaderTime = 0.0f;
float lightAnimationAngle = 0.0f;

bool boundedPasses = true;

namespace {

// After this the eye looks along +X of the level with +Z up and -Y to the right.
void ApplyBaseRotation()
{
    glRotatef(-90.0f, 1.0f, 0.0f, 0.0f);
    glRotatef(90.0f, 0.0f, 0.0f, 1.0f);
}

void BindPositionsOnly()
{
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, renderGeometry.vertexBuffer);
    glVertexPointer(3, GL_FLOAT, sizeof(RenderVertex), nullptr);
    glEnableClientState(GL_VERTEX_ARRAY);
}

void UnbindPositions()
{
    glDisableClientState(GL_VERTEX_ARRAY);
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
}

// The main view of this frame as BeginMainView set it up.
struct MainView {
    double modelview[16];
    double projection[16];
    Frustum frustum;
    ClusterSelection inView;      // clusters that can be rasterised in the view
    GLint depthFunction = GL_LESS;  // of the pre-pass: GL_LESS in the very first frame, GL_LEQUAL after it
};

MainView mainView;

// A light's radius bounds what its passes change only while the light and shadow shaders are the loaded ones and
// are given the radius and the fall-off: their fall-off ends at the radius, and their cube faces treat anything
// beyond it as no occluder. The fixed-function fallback knows no radius.
bool LightSpheresBound()
{
    const ShaderParameters& p = shaderParameters;
    return boundedPasses && PairLoaded(*lightShader) && p.lightModelViewProj != nullptr && p.lightVector != nullptr &&
           p.attenuationTex != nullptr;
}

bool ShadowSpheresBound()
{
    return LightSpheresBound() && PairLoaded(*shadowShader) && shaderParameters.shadowLight != nullptr;
}

// out = the clusters of within (all when null) whose boxes reach into the light's sphere.
void SelectInSphere(const Light& light, const ClusterSelection* within, ClusterSelection& out)
{
    const Vec3& centre = light.currentPosition;
    SelectClusters(within, [&](const ClusterBox& box) { return BoxOutsideSphere(box, centre, light.radius); }, out);
}

// The first light pass replaces the colour of every pixel that the pre-pass covered, black where the light does
// not reach. Painting those pixels black first lets that pass be bounded like the others -- when its fragments
// land exactly where the pre-pass marked its pixels: both drawn by their loaded shaders (the same invariant
// position) and filled. In the very first frame the pre-pass's GL_LESS leaves geometry at the far depth
// unmarked, which the light pass's GL_EQUAL still draws.
bool FirstLightBounded()
{
    return !level.lights.empty() && LightSpheresBound() && PairLoaded(*ambientShader) &&
           shaderParameters.ambientModelViewProj != nullptr && !options.wireframe &&
           mainView.depthFunction == GL_LEQUAL;
}

// Opaque black wherever the pre-pass marked the stencil. Leaves the current colour, enables and stencil state.
void PaintCoveredPixelsBlack()
{
    glPushAttrib(GL_CURRENT_BIT | GL_ENABLE_BIT | GL_STENCIL_BUFFER_BIT);
    glEnable(GL_STENCIL_TEST);
    glStencilFunc(GL_EQUAL, 1, ~0u);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    glDisable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glColor4f(0.0f, 0.0f, 0.0f, 1.0f);
    glRectf(-1.0f, -1.0f, 1.0f, 1.0f);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
}

// What one light's pass draws: null for everything; otherwise into scratch, with the scissor rectangle. False
// when the light can change no pixel of the view.
bool BoundLightPass(const Light& light, bool replacesColour, ClusterSelection& scratch,
                    const ClusterSelection*& selection, ScreenRect& rect)
{
    selection = nullptr;
    rect = ScreenRect{0, 0, windowWidth, windowHeight};
    if (!boundedPasses)
        return true;
    selection = &mainView.inView;
    // A pass that replaces the colour writes every visible pixel, black where its light does not reach, so only
    // the view bounds it.
    if (replacesColour || !LightSpheresBound())
        return true;
    const Vec3& centre = light.currentPosition;
    if (SphereOutsideFrustum(centre, light.radius, mainView.frustum))
        return false;
    rect = SphereScreenRect(centre, light.radius, mainView.modelview, mainView.projection, windowWidth, windowHeight);
    if (rect.width == 0 || rect.height == 0)
        return false;
    SelectInSphere(light, &mainView.inView, scratch);
    selection = &scratch;
    return true;
}

}  // namespace

void AnimateLights(float dt)
{
    if (!options.animateLights)
        return;
    lightAnimationAngle += dt;
    std::vector<Light>& lights = level.lights;
    if (lights.size() >= 1) {
        Light& first = lights[0];
        first.currentPosition = Vec3(first.position.x + 16 * std::sin(lightAnimationAngle),
                                     first.position.y + 16 * std::cos(lightAnimationAngle), first.position.z);
    }
    if (lights.size() >= 3) {
        Light& third = lights[2];
        third.currentPosition =
            Vec3(third.position.x + 32 * std::sin(lightAnimationAngle), third.position.y, third.position.z);
    }
}

void ShadowPass()
{
    glViewport(0, 0, kShadowMapSize, kShadowMapSize);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(90, 1, 0.001, 10000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    ApplyBaseRotation();
    shadowShader->Bind();
    BindPositionsOnly();
    static ClusterSelection reach;
    bool rendered = false;
    for (Light& light : level.lights) {
        if (LightMoved(light)) {
            if (ShadowSpheresBound())
                SelectInSphere(light, nullptr, reach);
            else
                reach.assign(renderGeometry.clusters.size(), 1);
            RenderShadowCube(light, boundedPasses ? &reach : nullptr);
            rendered = true;
        }
        light.shadowPosition = light.currentPosition;
    }
    UnbindPositions();
    shadowShader->Unbind();
    if (rendered)
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
}

void BeginMainView()
{
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, postTarget.postFramebuffer);
    glViewport(0, 0, windowWidth, windowHeight);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(90, static_cast<double>(windowWidth) / windowHeight, 1, 10000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    ApplyBaseRotation();
    glRotatef(static_cast<float>(-camera.angleX), 1, 0, 0);
    glRotatef(static_cast<float>(-camera.angleY), 0, 1, 0);
    glRotatef(static_cast<float>(-camera.angleZ), 0, 0, 1);
    glTranslatef(static_cast<float>(-camera.position.x), static_cast<float>(-camera.position.y),
                 static_cast<float>(-camera.position.z));
    SetModelViewProjParameter(shaderParameters.lightModelViewProj);
    SetModelViewProjParameter(shaderParameters.ambientModelViewProj);
    const double eye[3] = {camera.position.x, camera.position.y, camera.position.z};
    cgGLSetParameter3dv(shaderParameters.eyeVector, eye);

    glGetDoublev(GL_MODELVIEW_MATRIX, mainView.modelview);
    glGetDoublev(GL_PROJECTION_MATRIX, mainView.projection);
    if (boundedPasses) {
        const Frustum& frustum = mainView.frustum = CurrentFrustum();
        SelectClusters(nullptr, [&](const ClusterBox& box) { return BoxOutsideFrustum(box, frustum); },
                       mainView.inView);
    }
}

void DepthPrePass()
{
    glGetIntegerv(GL_DEPTH_FUNC, &mainView.depthFunction);
    BindPositionsOnly();
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    // Stencil 1 marks every pixel in which a surface passed the depth test.
    glEnable(GL_STENCIL_TEST);
    glStencilFunc(GL_ALWAYS, 1, ~0u);
    glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
    ambientShader->Bind();
    DrawPlain(boundedPasses ? &mainView.inView : nullptr);
    ambientShader->Unbind();
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    glDisable(GL_STENCIL_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    UnbindPositions();
}

void LightPasses(GLuint attenuationTexture)
{
    static ClusterSelection inSphere;
    const bool firstBounded = FirstLightBounded();
    if (firstBounded)
        PaintCoveredPixelsBlack();
    BindVertexStreams();
    lightShader->Bind();
    SetTextureParameter(shaderParameters.attenuationTex, attenuationTexture);
    glPolygonMode(GL_FRONT_AND_BACK, options.wireframe ? GL_LINE : GL_FILL);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ZERO);
    glDepthMask(GL_FALSE);
    glDepthFunc(GL_EQUAL);
    glEnable(GL_SCISSOR_TEST);
    bool first = true;
    for (const Light& light : level.lights) {
        const Vec3& p = light.currentPosition;
        cgGLSetParameter4d(shaderParameters.lightVector, p.x, p.y, p.z, light.radius);
        const double colour[3] = {light.colour.x, light.colour.y, light.colour.z};
        cgGLSetParameter3dv(shaderParameters.lightColor, colour);
        SetTextureParameter(shaderParameters.shadowMap, light.shadowCubeMap);
        const ClusterSelection* selection = nullptr;
        ScreenRect rect;
        if (BoundLightPass(light, first && !firstBounded, inSphere, selection, rect)) {
            glScissor(rect.x, rect.y, rect.width, rect.height);
            DrawWithMaterials(selection);
        }
        glBlendFunc(GL_ONE, GL_ONE);
        first = false;
        if (options.onlyFirstLight)
            break;
    }
    glDisable(GL_SCISSOR_TEST);
    lightShader->Unbind();
    UnbindVertexStreams();
    glDepthMask(GL_TRUE);
    glDisable(GL_BLEND);
    glDepthFunc(GL_LEQUAL);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
}
