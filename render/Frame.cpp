#include "Frame.h"

#include "Renderer.h"
#include "Shadows.h"

#include <algorithm>
#include <cmath>

namespace {

// The shadow faces and the pre-pass test depth with GL_LESS in the first frame, GL's initial function, and with
// GL_LEQUAL in every later one.
GLenum DepthWriteFunction(const FrameContext& frame) { return frame.firstFrame ? GL_LESS : GL_LEQUAL; }

// out = the clusters of within (all when null) whose boxes reach into the sphere.
void SelectInSphere(const RenderGeometry& geometry, const Vec3& centre, float radius, const ClusterSelection* within,
                    ClusterSelection& out)
{
    SelectClusters(
        geometry, within, [&](const ClusterBox& box) { return BoxOutsideSphere(box, centre, radius); }, out);
}

// The first light pass replaces the colour of every pixel that the pre-pass covered, black where the light does
// not reach. Painting those pixels black first lets that pass be culled to its sphere like the others -- when its
// fragments land exactly where the pre-pass marked its pixels (ShortCuts::cullFirstLight) and are filled. In the
// very first frame the pre-pass's GL_LESS leaves geometry at the far depth unmarked, which the light pass's
// GL_EQUAL still draws.
bool CullFirstLight(const FrameContext& frame, const FrameRequest& request)
{
    return frame.options.culling && !request.lights.empty() &&
           SphereCulls(frame.shortCuts.cullFirstLight, request.lights.front().radius) && !request.options.wireframe &&
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

// Whether the light's pass can change a pixel of the view, and the window rectangle it draws in. A pass that
// replaces the colour writes every visible pixel, black where its light does not reach, so only the view culls it.
bool LightPassRect(const FrameContext& frame, const Light& light, bool replacesColour, ScreenRect& rect)
{
    const View& view = frame.mainView;
    rect = view.viewport;
    if (!frame.options.culling || replacesColour || !SphereCulls(frame.shortCuts.cullLightSpheres, light.radius))
        return true;
    const Vec3& centre = light.currentPosition;
    if (SphereOutsideFrustum(centre, light.radius, view.frustum))
        return false;
    rect = SphereScreenRect(centre, light.radius, view.modelview.m, view.projection.m, view.viewport.width,
                            view.viewport.height);
    return rect.width != 0 && rect.height != 0;
}

// How many of the lights, from the first, get a pass.
size_t LightsWithPasses(const FrameRequest& request)
{
    return request.options.onlyFirstLight ? std::min<size_t>(1, request.lights.size()) : request.lights.size();
}

// What one light's pass draws: null for everything; otherwise into scratch, with the scissor rectangle. False
// when the light can change no pixel of the view.
bool CullLightPass(FrameContext& frame, const RenderGeometry& geometry, const Light& light, bool replacesColour,
                   const ClusterSelection*& selection, ScreenRect& rect)
{
    selection = nullptr;
    if (!LightPassRect(frame, light, replacesColour, rect))
        return false;
    if (!frame.options.culling)
        return true;
    if (frame.shortCuts.cullLightPasses)
        selection = &frame.scratch.inView;
    if (replacesColour || !SphereCulls(frame.shortCuts.cullLightSpheres, light.radius))
        return true;
    SelectInSphere(geometry, light.currentPosition, light.radius, selection, frame.scratch.inSphere);
    selection = &frame.scratch.inSphere;
    return true;
}

// Binds the shadow program and the position stream for RenderLightMap.
void BeginShadowMaps(Renderer& renderer)
{
    SetStreams(renderer.frame.gl, Streams::PositionsOnly, renderer.geometry.vertexBuffer);
    renderer.shaders->shadowShader.Bind();
}

// Renders the light's cube map into map, from where the light was when it last moved and with that frame's depth
// test, so that a map rendered late is the one rendered then.
void RenderLightMap(Renderer& renderer, const Light& light, const LightShadow& shadow, const ShadowMap& map)
{
    FrameContext& frame = renderer.frame;
    const RenderGeometry& geometry = renderer.geometry;
    PassState state;
    state.depthFunction = shadow.depthFunction;
    ApplyPassState(frame.gl, state);
    const bool cull = frame.options.culling && frame.shortCuts.cullShadowFaces;
    ClusterSelection& reach = frame.scratch.reach;
    if (cull && SphereCulls(frame.shortCuts.cullShadowSpheres, light.radius))
        SelectInSphere(geometry, shadow.mapPosition, light.radius, nullptr, reach);
    else if (cull)
        reach.assign(geometry.clusters.size(), 1);
    RenderShadowCube(frame.gl, geometry, renderer.shaders->parameters, shadow.mapPosition, light.radius, map,
                     cull ? &reach : nullptr, frame.scratch.inFace);
    frame.shadowFacesRendered += 6;
}

// The light passes' state, stated in full: on entry and again after a map rendered between two passes.
void BeginLightState(Renderer& renderer, const PassState& state)
{
    FrameContext& frame = renderer.frame;
    const ShaderParameters& p = renderer.shaders->parameters;
    BindFramebuffer(frame.gl, renderer.postTarget.postFramebuffer);
    SetViewport(frame.gl, frame.mainView.viewport);
    ApplyPassState(frame.gl, state);
    SetStreams(frame.gl, Streams::All, renderer.geometry.vertexBuffer);
    LoadViewMatrices(frame.mainView);
    SetModelViewProjParameter(p.lightModelViewProj);
    renderer.shaders->lightShader.Bind();
    SetTextureParameter(p.attenuationTex, renderer.fixedTextures.attenuation);
}

}  // namespace

void AnimateLights(Renderer& renderer, const FrameRequest& request, float dt)
{
    if (!request.options.animateLights)
        return;
    float& lightAnimationAngle = renderer.lightAnimationAngle;
    lightAnimationAngle += dt;
    std::vector<Light>& lights = request.lights;
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

void BeginFrame(Renderer& renderer) { ForgetGlState(renderer.frame.gl); }

void ShadowPass(Renderer& renderer, const FrameRequest& request)
{
    FrameContext& frame = renderer.frame;
    ShadowPool& pool = renderer.shadows;
    const std::vector<Light>& lights = request.lights;
    pool.Track(lights.size());
    pool.BeginFrame();
    for (size_t i = 0; i < lights.size(); ++i)
        pool.NoteMovement(i, lights[i].currentPosition, DepthWriteFunction(frame));
    // Every light with a current map keeps it before any slot changes hands.
    std::vector<uint32_t>& stale = frame.scratch.staleMaps;
    stale.clear();
    const bool firstCulled = CullFirstLight(frame, request);
    for (size_t i = 0; i < LightsWithPasses(request); ++i) {
        ScreenRect rect;
        if (LightPassRect(frame, lights[i], i == 0 && !firstCulled, rect) && !pool.Reserve(i))
            stale.push_back(uint32_t(i));
    }
    bool started = false;
    for (uint32_t i : stale) {
        // A light without a map may find every map taken by lights of this frame; one that has a map renders
        // into its own.
        const ShadowMap* map = pool.Acquire(i);
        if (map == nullptr)
            continue;
        if (!started) {
            BeginShadowMaps(renderer);
            started = true;
        }
        RenderLightMap(renderer, lights[i], pool.Entry(i), *map);
        pool.MapRendered(i);
    }
    if (started)
        renderer.shaders->shadowShader.Unbind();
}

void BeginMainView(Renderer& renderer, const FrameRequest& request)
{
    FrameContext& frame = renderer.frame;
    View& view = frame.mainView = CameraView(request.camera, request.windowWidth, request.windowHeight);
    // Every buffer written in full: the clear obeys the write masks and the scissor.
    ApplyPassState(frame.gl, PassState());
    BindFramebuffer(frame.gl, renderer.postTarget.postFramebuffer);
    SetViewport(frame.gl, view.viewport);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    const ShortCuts& cuts = frame.shortCuts;
    if (frame.options.culling && (cuts.cullPrePass || cuts.cullLightPasses))
        SelectClusters(
            renderer.geometry, nullptr, [&](const ClusterBox& box) { return BoxOutsideFrustum(box, view.frustum); },
            frame.scratch.inView);
}

void DepthPrePass(Renderer& renderer)
{
    FrameContext& frame = renderer.frame;
    ShaderPairs& shaders = *renderer.shaders;
    PassState state;
    state.depthFunction = DepthWriteFunction(frame);
    state.colourWrite = false;
    state.stencilTest = true;
    state.stencilOnPass = GL_REPLACE;
    ApplyPassState(frame.gl, state);
    BindFramebuffer(frame.gl, renderer.postTarget.postFramebuffer);
    SetViewport(frame.gl, frame.mainView.viewport);
    SetStreams(frame.gl, Streams::PositionsOnly, renderer.geometry.vertexBuffer);
    LoadViewMatrices(frame.mainView);
    SetModelViewProjParameter(shaders.parameters.ambientModelViewProj);
    shaders.ambientShader.Bind();
    const bool cull = frame.options.culling && frame.shortCuts.cullPrePass;
    DrawPlain(renderer.geometry, cull ? &frame.scratch.inView : nullptr);
    shaders.ambientShader.Unbind();
}

void LightPasses(Renderer& renderer, const FrameRequest& request)
{
    FrameContext& frame = renderer.frame;
    ShaderPairs& shaders = *renderer.shaders;
    const RenderGeometry& geometry = renderer.geometry;
    const bool firstCulled = CullFirstLight(frame, request);
    BindFramebuffer(frame.gl, renderer.postTarget.postFramebuffer);
    SetViewport(frame.gl, frame.mainView.viewport);
    if (firstCulled)
        PaintCoveredPixelsBlack(frame);
    PassState state;
    state.depthFunction = GL_EQUAL;
    state.depthWrite = false;
    state.blend = true;
    state.scissorTest = true;
    state.polygonMode = request.options.wireframe ? GL_LINE : GL_FILL;
    const ShaderParameters& p = shaders.parameters;
    const Vec3& eyePosition = request.camera.position;
    const double eye[3] = {eyePosition.x, eyePosition.y, eyePosition.z};
    cgGLSetParameter3dv(p.eyeVector, eye);
    BeginLightState(renderer, state);
    ShadowPool& pool = renderer.shadows;
    for (size_t i = 0; i < LightsWithPasses(request); ++i) {
        const Light& light = request.lights[i];
        const ClusterSelection* selection = nullptr;
        ScreenRect rect;
        if (CullLightPass(frame, geometry, light, i == 0 && !firstCulled, selection, rect)) {
            const ShadowMap* map = pool.CurrentMap(i);
            if (map == nullptr) {
                // More lights need maps in this frame than the pool holds: this one is rendered now, into a slot
                // whose light has had its pass or into the map kept aside.
                const ShadowMap* slot = pool.Acquire(i);
                map = slot != nullptr ? slot : &pool.Aside();
                BeginShadowMaps(renderer);
                RenderLightMap(renderer, light, pool.Entry(i), *map);
                if (slot != nullptr)
                    pool.MapRendered(i);
                BeginLightState(renderer, state);
            }
            const Vec3& position = light.currentPosition;
            cgGLSetParameter4d(p.lightVector, position.x, position.y, position.z, light.radius);
            const double colour[3] = {light.colour.x, light.colour.y, light.colour.z};
            cgGLSetParameter3dv(p.lightColor, colour);
            SetTextureParameter(p.shadowMap, map->cube);
            SetScissor(frame.gl, rect);
            DrawWithMaterials(geometry, p, selection);
            pool.PassDone(i);
        }
        if (i == 0) {
            state.blendDestination = GL_ONE;
            ApplyPassState(frame.gl, state);
        }
    }
    shaders.lightShader.Unbind();
}

void PostPass(Renderer& renderer, const FrameRequest& request)
{
    const FrameContext& frame = renderer.frame;
    const bool clearColour = !(frame.options.culling && frame.shortCuts.skipPostColourClear);
    DrawPostPass(renderer.frame.gl, *renderer.shaders, renderer.postTarget, request.windowWidth, request.windowHeight,
                 clearColour, renderer.fixedTextures.warp, renderer.fixedTextures.ramp, renderer.shaderTime);
}

void EndFrame(Renderer& renderer) { renderer.frame.firstFrame = false; }
