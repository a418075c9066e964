#include "Frame.h"

#include "PostProcess.h"
#include "RenderGeometry.h"
#include "Shaders.h"
#include "Shadows.h"
#include "ViewerState.h"

#include <cmath>

float shaderTime = 0.0f;
float lightAnimationAngle = 0.0f;

namespace {

// The shadow faces and the pre-pass test depth with GL_LESS in the first frame, GL's initial function, and with
// GL_LEQUAL in every later one.
GLenum DepthWriteFunction(const FrameContext& frame) { return frame.firstFrame ? GL_LESS : GL_LEQUAL; }

// out = the clusters of within (all when null) whose boxes reach into the light's sphere.
void SelectInSphere(const Light& light, const ClusterSelection* within, ClusterSelection& out)
{
    const Vec3& centre = light.currentPosition;
    SelectClusters(within, [&](const ClusterBox& box) { return BoxOutsideSphere(box, centre, light.radius); }, out);
}

// The first light pass replaces the colour of every pixel that the pre-pass covered, black where the light does
// not reach. Painting those pixels black first lets that pass be culled to its sphere like the others -- when its
// fragments land exactly where the pre-pass marked its pixels (ShortCuts::cullFirstLight) and are filled. In the
// very first frame the pre-pass's GL_LESS leaves geometry at the far depth unmarked, which the light pass's
// GL_EQUAL still draws.
bool CullFirstLight(const FrameContext& frame)
{
    return frame.options.culling && !level.lights.empty() &&
           SphereCulls(frame.shortCuts.cullFirstLight, level.lights.front().radius) && !options.wireframe &&
           !frame.firstFrame;
}

// Opaque black wherever the pre-pass marked the stencil. The current colour is the overlay's and the gizmos', so it
// is kept.
void PaintCoveredPixelsBlack(FrameContext& frame)
{
    PassState state;
    state.depthTest = false;
    state.stencilTest = true;
    state.stencilFunction = GL_EQUAL;
    ApplyPassState(frame.gl, state);
    SetStreams(frame.gl, Streams::None);
    LoadViewMatrices(View());
    glPushAttrib(GL_CURRENT_BIT);
    glColor4f(0.0f, 0.0f, 0.0f, 1.0f);
    glRectf(-1.0f, -1.0f, 1.0f, 1.0f);
    glPopAttrib();
}

// What one light's pass draws: null for everything; otherwise into scratch, with the scissor rectangle. False
// when the light can change no pixel of the view.
bool CullLightPass(FrameContext& frame, const Light& light, bool replacesColour, const ClusterSelection*& selection,
                   ScreenRect& rect)
{
    const View& view = frame.mainView;
    selection = nullptr;
    rect = view.viewport;
    if (!frame.options.culling)
        return true;
    if (frame.shortCuts.cullLightPasses)
        selection = &frame.scratch.inView;
    // A pass that replaces the colour writes every visible pixel, black where its light does not reach, so only
    // the view culls it.
    if (replacesColour || !SphereCulls(frame.shortCuts.cullLightSpheres, light.radius))
        return true;
    const Vec3& centre = light.currentPosition;
    if (SphereOutsideFrustum(centre, light.radius, view.frustum))
        return false;
    rect = SphereScreenRect(centre, light.radius, view.modelview.m, view.projection.m, view.viewport.width,
                            view.viewport.height);
    if (rect.width == 0 || rect.height == 0)
        return false;
    SelectInSphere(light, selection, frame.scratch.inSphere);
    selection = &frame.scratch.inSphere;
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

void BeginFrame(FrameContext& frame) { ForgetGlState(frame.gl); }

void ShadowPass(FrameContext& frame)
{
    const bool cull = frame.options.culling && frame.shortCuts.cullShadowFaces;
    bool started = false;
    for (Light& light : level.lights) {
        if (LightMoved(light)) {
            if (!started) {
                PassState state;
                state.depthFunction = DepthWriteFunction(frame);
                ApplyPassState(frame.gl, state);
                SetViewport(frame.gl, ScreenRect{0, 0, kShadowMapSize, kShadowMapSize});
                SetStreams(frame.gl, Streams::PositionsOnly);
                shadowShader->Bind();
                started = true;
            }
            ClusterSelection& reach = frame.scratch.reach;
            if (cull && SphereCulls(frame.shortCuts.cullShadowSpheres, light.radius))
                SelectInSphere(light, nullptr, reach);
            else if (cull)
                reach.assign(renderGeometry.clusters.size(), 1);
            RenderShadowCube(frame.gl, light, cull ? &reach : nullptr, frame.scratch.inFace);
            frame.shadowFacesRendered += 6;
        }
        light.shadowPosition = light.currentPosition;
    }
    if (started)
        shadowShader->Unbind();
}

void BeginMainView(FrameContext& frame)
{
    View& view = frame.mainView = CameraView(camera, windowWidth, windowHeight);
    // Every buffer written in full: the clear obeys the write masks and the scissor.
    ApplyPassState(frame.gl, PassState());
    BindFramebuffer(frame.gl, postTarget.postFramebuffer);
    SetViewport(frame.gl, view.viewport);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    const ShortCuts& cuts = frame.shortCuts;
    if (frame.options.culling && (cuts.cullPrePass || cuts.cullLightPasses))
        SelectClusters(nullptr, [&](const ClusterBox& box) { return BoxOutsideFrustum(box, view.frustum); },
                       frame.scratch.inView);
}

void DepthPrePass(FrameContext& frame)
{
    PassState state;
    state.depthFunction = DepthWriteFunction(frame);
    state.colourWrite = false;
    state.stencilTest = true;
    state.stencilOnPass = GL_REPLACE;
    ApplyPassState(frame.gl, state);
    BindFramebuffer(frame.gl, postTarget.postFramebuffer);
    SetViewport(frame.gl, frame.mainView.viewport);
    SetStreams(frame.gl, Streams::PositionsOnly);
    LoadViewMatrices(frame.mainView);
    SetModelViewProjParameter(shaderParameters.ambientModelViewProj);
    ambientShader->Bind();
    const bool cull = frame.options.culling && frame.shortCuts.cullPrePass;
    DrawPlain(cull ? &frame.scratch.inView : nullptr);
    ambientShader->Unbind();
}

void LightPasses(FrameContext& frame, GLuint attenuationTexture)
{
    const bool firstCulled = CullFirstLight(frame);
    BindFramebuffer(frame.gl, postTarget.postFramebuffer);
    SetViewport(frame.gl, frame.mainView.viewport);
    if (firstCulled)
        PaintCoveredPixelsBlack(frame);
    PassState state;
    state.depthFunction = GL_EQUAL;
    state.depthWrite = false;
    state.blend = true;
    state.scissorTest = true;
    state.polygonMode = options.wireframe ? GL_LINE : GL_FILL;
    ApplyPassState(frame.gl, state);
    SetStreams(frame.gl, Streams::All);
    LoadViewMatrices(frame.mainView);
    const ShaderParameters& p = shaderParameters;
    SetModelViewProjParameter(p.lightModelViewProj);
    const double eye[3] = {camera.position.x, camera.position.y, camera.position.z};
    cgGLSetParameter3dv(p.eyeVector, eye);
    lightShader->Bind();
    SetTextureParameter(p.attenuationTex, attenuationTexture);
    bool first = true;
    for (const Light& light : level.lights) {
        const Vec3& position = light.currentPosition;
        cgGLSetParameter4d(p.lightVector, position.x, position.y, position.z, light.radius);
        const double colour[3] = {light.colour.x, light.colour.y, light.colour.z};
        cgGLSetParameter3dv(p.lightColor, colour);
        SetTextureParameter(p.shadowMap, light.shadowCubeMap);
        const ClusterSelection* selection = nullptr;
        ScreenRect rect;
        if (CullLightPass(frame, light, first && !firstCulled, selection, rect)) {
            SetScissor(frame.gl, rect);
            DrawWithMaterials(selection);
        }
        state.blendDestination = GL_ONE;
        ApplyPassState(frame.gl, state);
        first = false;
        if (options.onlyFirstLight)
            break;
    }
    lightShader->Unbind();
}

void EndFrame(FrameContext& frame) { frame.firstFrame = false; }
