#include "Shaders.h"

CGShader* lightShader = nullptr;
CGShader* ambientShader = nullptr;
CGShader* shadowShader = nullptr;
CGShader* postShader = nullptr;
ShaderParameters shaderParameters;

bool PairLoaded(const CGShader& pair) { return pair.vertexProgram != nullptr && pair.fragmentProgram != nullptr; }

void CreateShaderPairs()
{
    lightShader = new CGShader;
    ambientShader = new CGShader;
    shadowShader = new CGShader;
    postShader = new CGShader;
}

void LoadShaders()
{
    lightShader->LoadShader("shader.cg", "vertexmain", "fragmain");
    for (const char* name : {"ModelViewProj", "LightVector", "EyeVector", "LightColor"})
        lightShader->LoadVertexParameter(name);
    for (const char* name : {"diffuseSpecTex", "normalTex", "shadowMap", "attenuationTex"})
        lightShader->LoadFragmentParameter(name);

    ambientShader->LoadShader("ambient.cg", "vertexmain", "fragmain");
    ambientShader->LoadVertexParameter("ModelViewProj");

    shadowShader->LoadShader("shadow.cg", "vertexmain", "fragmain");
    shadowShader->LoadVertexParameter("ModelViewProj");
    shadowShader->LoadVertexParameter("light");

    postShader->LoadShader("post.cg", nullptr, "fragmain");
    for (const char* name : {"framebuffer", "time", "warpTex", "rampTex", "warpTexCoords"})
        postShader->LoadFragmentParameter(name);

    ShaderParameters& p = shaderParameters;
    p.lightModelViewProj = lightShader->GetVertexParameter("ModelViewProj");
    p.lightVector = lightShader->GetVertexParameter("LightVector");
    p.eyeVector = lightShader->GetVertexParameter("EyeVector");
    p.lightColor = lightShader->GetVertexParameter("LightColor");
    p.diffuseSpecTex = lightShader->GetFragmentParameter("diffuseSpecTex");
    p.normalTex = lightShader->GetFragmentParameter("normalTex");
    p.shadowMap = lightShader->GetFragmentParameter("shadowMap");
    p.attenuationTex = lightShader->GetFragmentParameter("attenuationTex");
    p.ambientModelViewProj = ambientShader->GetVertexParameter("ModelViewProj");
    p.shadowModelViewProj = shadowShader->GetVertexParameter("ModelViewProj");
    p.shadowLight = shadowShader->GetVertexParameter("light");
    p.postFramebuffer = postShader->GetFragmentParameter("framebuffer");
    p.postTime = postShader->GetFragmentParameter("time");
    p.postWarpTex = postShader->GetFragmentParameter("warpTex");
    p.postRampTex = postShader->GetFragmentParameter("rampTex");

    lightShader->DumpFragmentProgram("shaderFP.txt");
    lightShader->DumpVertexProgram("shaderVP.txt");
    shadowShader->DumpFragmentProgram("shadowFP.txt");
    shadowShader->DumpVertexProgram("shadowVP.txt");
    postShader->DumpFragmentProgram("postFP.txt");
    postShader->DumpVertexProgram("postVP.txt");
}
