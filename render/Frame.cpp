#include "Frame.h"

#include "RenderGeometry.h"
#include "Shaders.h"
#include "Shadows.h"
#include "PostProcess.h"
#include "ViewerState.h"

#include <GL/glu.h>

#include <cmath>

float shaderTime = 0.0f;
float lightAnimationAngle = 0.0f;

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
    for (Light& light : level.lights) {
        if (LightMoved(light))
            RenderShadowCube(light);
        light.shadowPosition = light.currentPosition;
    }
    shadowShader->Unbind();
}

void BeginMainView()
{
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, postTarget.postFramebuffer);
    glViewport(0, 0, windowWidth, windowHeight);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
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
    lightShader->SetModelViewProj();
    ambientShader->SetModelViewProj();
    const double eye[3] = {camera.position.x, camera.position.y, camera.position.z};
    cgGLSetParameter3dv(lightShader->GetVertexParameter("EyeVector"), eye);
}

void DepthPrePass()
{
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    ambientShader->Bind();
    DrawPlain();
    ambientShader->Unbind();
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDisableClientState(GL_VERTEX_ARRAY);
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
}

void LightPasses(GLuint attenuationTexture)
{
    BindVertexStreams();
    lightShader->Bind();
    lightShader->SetTextureParameter("attenuationTex", attenuationTexture);
    glPolygonMode(GL_FRONT_AND_BACK, options.wireframe ? GL_LINE : GL_FILL);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ZERO);
    glDepthMask(GL_FALSE);
    glDepthFunc(GL_EQUAL);
    for (const Light& light : level.lights) {
        const Vec3& p = light.currentPosition;
        cgGLSetParameter4d(lightShader->GetVertexParameter("LightVector"), p.x, p.y, p.z, light.radius);
        const double colour[3] = {light.colour.x, light.colour.y, light.colour.z};
        cgGLSetParameter3dv(lightShader->GetVertexParameter("LightColor"), colour);
        lightShader->SetTextureParameter("shadowMap", light.shadowCubeMap);
        DrawWithMaterials();
        glBlendFunc(GL_ONE, GL_ONE);
        if (options.onlyFirstLight)
            break;
    }
    lightShader->Unbind();
    UnbindVertexStreams();
    glDepthMask(GL_TRUE);
    glDisable(GL_BLEND);
    glDepthFunc(GL_LEQUAL);
}
