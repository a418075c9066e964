#include "Attenuation.h"

std::array<float, kAttenuationTexels> AttenuationTable()
{
    const double k = static_cast<double>(1.0f / 255.0f);
    std::array<float, kAttenuationTexels> table{};
    for (int i = 0; i < kAttenuationTexels; ++i) {
        const double x = i * k;
        table[i] = static_cast<float>(1.0 - x * x);
    }
    return table;
}

GLuint CreateAttenuationTexture()
{
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_1D, name);
    const std::array<float, kAttenuationTexels> table = AttenuationTable();
    glTexImage1D(GL_TEXTURE_1D, 0, 1, kAttenuationTexels, 0, GL_LUMINANCE, GL_FLOAT, table.data());
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    return name;
}
